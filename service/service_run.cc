// The service's life; see service_run.h.
#include "service_run.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "agent_list.h"
#include "nt/ntroot.h"
#include "extension_agent.h"
#include "registry_access.h"
#include "service_log.h"
#include "service_state.h"
#include "snmp_engine.h"

namespace snmpsvc {

const char ServiceName[] = "SNMP";

namespace {

using snmphost::ExtensionAgent;

// SIGTERM and SIGINT as a readable descriptor; -1 with errno on failure.
int OpenStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return -1;
    }
    return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

std::string RealPath(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Loads, initialises and registers every agent of the list; the agents
// that serve.
std::vector<std::unique_ptr<ExtensionAgent>> LoadAgents(const std::vector<AgentEntry> &entries) {
    std::vector<std::unique_ptr<ExtensionAgent>> serving;
    std::set<std::string> loaded;
    for (const AgentEntry &entry : entries) {
        const std::string label = "agent " + entry.name + " (" + entry.file + ")";
        const std::string real = RealPath(entry.file);
        if (loaded.count(real) != 0) {
            LogLine(LOG_WARNING, label + " skipped: that library is loaded already");
            continue;
        }
        struct stat info;
        if (stat(entry.file.c_str(), &info) != 0) {
            LogLine(LOG_ERR, label + " skipped: " + std::strerror(errno));
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            LogLine(LOG_ERR, label + " skipped: not a library file");
            continue;
        }
        std::string error;
        std::unique_ptr<ExtensionAgent> agent = ExtensionAgent::Load(entry.file, &error);
        if (agent == nullptr) {
            // The loader names the file first; the label has named it.
            const std::string named = entry.file + ": ";
            if (error.compare(0, named.size(), named) == 0) {
                error.erase(0, named.size());
            }
            LogLine(LOG_ERR, label + " skipped: " + error);
            continue;
        }
        loaded.insert(real);
        if (!agent->Init()) {
            LogLine(LOG_ERR, label + " skipped: SnmpExtensionInit failed");
            continue;
        }
        if (!RegisterAgentView(agent.get(), entry.name, &error)) {
            LogLine(LOG_ERR, label + " skipped: " + error);
            continue;
        }
        LogLine(LOG_INFO, label + " serves " + snmphost::OidText(agent->view()));
        serving.push_back(std::move(agent));
    }
    return serving;
}

}  // namespace

bool CheckRoot(const std::string &root, std::string *error) {
    struct stat info;
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "no NT root at " + root + " (make one with: ntroot init)";
        return false;
    }
    if (stat((root + "/registry.db").c_str(), &info) != 0) {
        *error = root + " is not an NT root: it has no registry.db (make one with: ntroot init)";
        return false;
    }
    return nt::CheckRootOwnership(root, error);
}

int RunService(const RunOptions &options) {
    // A log on a pipe that closes must not end the service.
    signal(SIGPIPE, SIG_IGN);
    StartLogging(options.syslog);
    const int stopFd = OpenStopSignals();
    if (stopFd < 0) {
        LogLine(LOG_ERR, std::string("cannot watch for stop signals: ") + std::strerror(errno));
        return 1;
    }
    std::string error;
    if (!CheckRoot(options.root, &error)) {
        LogLine(LOG_ERR, error);
        return 1;
    }
    const svcstate::ServiceFiles files = svcstate::FilesOf(options.root, ServiceName);
    std::unique_ptr<svcstate::ServiceLease> lease = svcstate::ServiceLease::Acquire(files, &error);
    if (lease == nullptr) {
        LogLine(LOG_ERR, error);
        return 1;
    }
    if (!options.syslog) {
        svcstate::WatchServiceLog(files);
    }
    LogLine(LOG_INFO, "starting (pid " + std::to_string(getpid()) + ", root " + options.root + ")");

    EngineOptions engine;
    engine.listen = options.listen;
    engine.configDir = options.root + "/snmp";
    engine.persistentDir = options.root + "/snmp/persist";
    engine.agentxSocket = options.agentxSocket;
    if (options.agentx) {
        engine.subagent = true;
    } else if (!ConfiguredSubagent(engine.configDir + "/snmpsvc.conf", &engine.subagent,
                                   &error)) {
        LogLine(LOG_ERR, error);
        return 1;
    }
    if (engine.subagent && !options.listen.empty()) {
        LogLine(LOG_WARNING, "--listen " + options.listen +
                                 " is left unused: the service is an AgentX subagent");
    }
    if (!StartEngine(engine, &error)) {
        LogLine(LOG_ERR, error);
        return 1;
    }

    std::vector<AgentEntry> entries;
    std::vector<std::string> problems;
    const LONG listed = ReadAgentList(&entries, &problems, &error);
    if (listed == ERROR_FILE_NOT_FOUND) {
        // A root without the agent list has the service not installed:
        // serve no agent, as NT's service does with an empty list.
        LogLine(LOG_WARNING, error + "; serving no agents (run: snmpsvc install)");
    } else if (listed != ERROR_SUCCESS) {
        LogLine(LOG_ERR, error);
        StopEngine();
        return 1;
    }
    for (const std::string &problem : problems) {
        LogLine(LOG_ERR, problem);
    }
    std::vector<std::unique_ptr<ExtensionAgent>> agents = LoadAgents(entries);

    if (!OpenListener(engine, &error)) {
        LogLine(LOG_ERR, error);
        StopEngine();
        return 1;
    }
    if (!lease->Publish(&error)) {
        LogLine(LOG_ERR, error);
        StopEngine();
        return 1;
    }
    LogLine(LOG_INFO, "serving " + std::to_string(agents.size()) +
                          (agents.size() == 1 ? " agent" : " agents") + " on " + ListenAddress());

    const bool stopped = Serve(stopFd);

    LogLine(LOG_INFO, "stopping");
    StopEngine();
    close(stopFd);
    return stopped ? 0 : 1;
}

}  // namespace snmpsvc

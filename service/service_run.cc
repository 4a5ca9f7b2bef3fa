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
#include "agentx_rows.h"
#include "extension_agent.h"
#include "nt/ntroot.h"
#include "registry_access.h"
#include "service_log.h"
#include "service_notify.h"
#include "service_reload.h"
#include "service_state.h"
#include "snmp_engine.h"
#include "system_mibs.h"

namespace snmpsvc {

const char ServiceName[] = "SNMP";

namespace {

using snmphost::ExtensionAgent;

// SIGTERM, SIGINT (stop) and SIGHUP (reload) as a readable descriptor;
// -1 with errno on failure. Blocked, they wait for the loop, and stay
// blocked and pending across the exec of a reload.
int OpenServiceSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return -1;
    }
    return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

struct Signals {
    bool stop = false;
    bool reload = false;
};

// Takes every signal waiting on the descriptor.
Signals TakeSignals(int signalFd) {
    Signals taken;
    struct signalfd_siginfo info;
    while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
            taken.reload = true;
        } else {
            taken.stop = true;
        }
    }
    return taken;
}

// Tells the service manager, if one listens; a failure is logged once.
void Notify(const std::string &state) {
    static bool told = false;
    std::string error;
    if (!NotifyManager(state, &error) && !told) {
        told = true;
        LogLine(LOG_WARNING, error);
    }
}

std::string RealPath(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Loads, initialises and registers every agent of the list; the agents
// that serve.
// As an AgentX subagent (rowsOnly), each agent registers only the rows it
// serves (agentx_rows.h); else its whole view.
std::vector<std::unique_ptr<ExtensionAgent>> LoadAgents(const std::vector<AgentEntry> &entries,
                                                        bool rowsOnly) {
    std::vector<std::unique_ptr<ExtensionAgent>> serving;
    std::set<std::string> loaded;
    for (const AgentEntry &entry : entries) {
        const std::string label = "agent " + entry.name + " (" + entry.file + ")";
        const std::string real = RealPath(entry.file);
        if (loaded.count(real) != 0) {
            LogLine(LOG_WARNING, label + " skipped: that library is loaded already");
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
        if (!agent->Init(&error)) {
            LogLine(LOG_ERR, label + " skipped: " + error);
            continue;
        }
        if (rowsOnly) {
            size_t rows = 0;
            const bool registered = RegisterAgentRows(agent.get(), entry.name, &rows, &error);
            if (rows == 0) {
                LogLine(LOG_ERR, label + " skipped: " + (registered ? "it serves no rows" : error));
                continue;
            }
            // Rows registered stay registered: the agent serves them.
            LogLine(registered ? LOG_INFO : LOG_ERR,
                    label + " serves " + std::to_string(rows) + (rows == 1 ? " row" : " rows") +
                        " of " + snmphost::OidText(agent->view()) +
                        (registered ? "" : "; the others are left out: " + error));
            serving.push_back(std::move(agent));
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

int RunService(const RunOptions &options) {
    // A log on a pipe that closes must not end the service.
    signal(SIGPIPE, SIG_IGN);
    StartLogging(options.syslog);
    const int inheritedLock = TakeInheritedLock();
    const bool reloaded = inheritedLock >= 0;
    const int signalFd = OpenServiceSignals();
    if (signalFd < 0) {
        LogLine(LOG_ERR, std::string("cannot watch for signals: ") + std::strerror(errno));
        return 1;
    }
    std::string error;
    if (!nt::CheckRoot(options.root, true, &error)) {
        LogLine(LOG_ERR, error);
        return 1;
    }
    const svcstate::ServiceFiles files = svcstate::FilesOf(options.root, ServiceName);
    std::unique_ptr<svcstate::ServiceLease> lease =
        reloaded ? svcstate::ServiceLease::Adopt(files, inheritedLock, &error)
                 : svcstate::ServiceLease::Acquire(files, &error);
    if (lease == nullptr) {
        LogLine(LOG_ERR, error);
        return 1;
    }
    if (!options.syslog) {
        svcstate::WatchServiceLog(files);
    }
    if (!reloaded) {
        LogLine(LOG_INFO,
                "starting (pid " + std::to_string(getpid()) + ", root " + options.root + ")");
    }

    EngineOptions engine;
    engine.listen = options.listen;
    engine.configDir = options.root + "/snmp";
    engine.persistentDir = options.root + "/snmp/persist";
    engine.agentxSocket = options.agentxSocket;
    const std::string configFile = engine.configDir + "/snmpsvc.conf";
    if (options.agentx) {
        engine.subagent = true;
    } else if (!ConfiguredSubagent(configFile, &engine.subagent, &error)) {
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
    // Standing alone it answers the groups every manager starts from; a
    // subagent leaves them to its master.
    if (engine.subagent) {
        IgnoreMasterLines();
    } else {
        StartSystemMibs(configFile);
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
    std::vector<std::unique_ptr<ExtensionAgent>> agents = LoadAgents(entries, engine.subagent);

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
    const std::string serving = "serving " + std::to_string(agents.size()) +
                                (agents.size() == 1 ? " agent" : " agents") + " on " +
                                ListenAddress();
    LogLine(LOG_INFO, (reloaded ? "reloaded: " : "") + serving);
    Notify("READY=1\nSTATUS=" + serving);

    bool stopped = false;
    for (;;) {
        if (!Serve(signalFd)) {
            break;
        }
        const Signals signals = TakeSignals(signalFd);
        if (signals.stop) {
            stopped = true;
            break;
        }
        if (!signals.reload) {
            continue;
        }
        Notify("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(MonotonicMicroseconds()) +
               "\nSTATUS=reloading");
        if (!CheckReload(options, &error)) {
            LogLine(LOG_ERR, "reload refused, still serving as before: " + error);
            Notify("READY=1\nSTATUS=" + serving + " (the last reload was refused)");
            continue;
        }
        StopEngine();
        const int lockFd = lease->KeepAcrossExec();
        if (lockFd < 0) {
            error = std::string("cannot keep the lock across the reload: ") + std::strerror(errno);
        } else {
            ExecAgain(lockFd, &error);  // returns only when the exec failed
        }
        LogLine(LOG_ERR, "reload failed, stopping: " + error);
        Notify("STOPPING=1");
        close(signalFd);
        return 1;
    }

    LogLine(LOG_INFO, "stopping");
    Notify("STOPPING=1");
    StopEngine();
    close(signalFd);
    return stopped ? 0 : 1;
}

}  // namespace snmpsvc

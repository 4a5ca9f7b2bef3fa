// Setting up and running the Net-SNMP agent library; see snmp_engine.h.
#include "snmp_engine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <syslog.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/large_fd_set.h>

namespace snmpsvc {

namespace {

constexpr char AppName[] = "snmpsvc";
// NETSNMP_DS_AGENT_ROLE: 0 master agent, 1 AgentX subagent.
constexpr int MasterRole = 0;

bool g_syslog = false;
std::string g_partialLine;       // a library message not yet ended by a newline
bool g_droppingBindings = false;  // after a response that could not be sent

// Writes one line of the log.
void EmitLine(int priority, std::string line) {
    // A response the library could not send comes with one line for each of
    // its bindings (thousands, for a large request): one line tells it.
    if (g_droppingBindings && line.compare(0, 7, "    -- ") == 0) {
        return;
    }
    g_droppingBindings = false;
    const std::string unsent = "send response: ";
    if (line.compare(0, unsent.size(), unsent) == 0) {
        line = "cannot send a response: " + line.substr(unsent.size());
        g_droppingBindings = true;
    }
    if (g_syslog) {
        syslog(priority, "%s", line.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", AppName, line.c_str());
    }
}

// Every message of the library and of the service comes here.
int OnLogMessage(int /*major*/, int /*minor*/, void *serverArg, void * /*clientArg*/) {
    const auto *message = static_cast<const struct snmp_log_message *>(serverArg);
    if (message == nullptr || message->msg == nullptr) {
        return 0;
    }
    g_partialLine += message->msg;
    for (size_t newline = g_partialLine.find('\n'); newline != std::string::npos;
         newline = g_partialLine.find('\n')) {
        EmitLine(message->priority, g_partialLine.substr(0, newline));
        g_partialLine.erase(0, newline + 1);
    }
    return 0;
}

// Makes dir and the folders above it, mode 0700 for new ones.
bool MakeFolders(const std::string &dir, std::string *error) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = slash == std::string::npos ? dir : dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot make " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info;
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = dir + " is not a folder";
        return false;
    }
    return true;
}

// Hands one configuration line to the library, read with its files.
void RememberConfigLine(const char *line) {
    std::string copy = line;
    netsnmp_config_remember(&copy[0]);  // copied by the library
}

void OnStopReadable(int /*fd*/, void *stop) { *static_cast<bool *>(stop) = true; }

}  // namespace

void LogLine(int priority, const std::string &text) { snmp_log(priority, "%s\n", text.c_str()); }

void StartLogging(bool syslog) {
    snmp_disable_log();
    g_syslog = syslog;
    if (syslog) {
        openlog(AppName, LOG_PID | LOG_NDELAY, LOG_DAEMON);
    }
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, OnLogMessage, nullptr);
    snmp_enable_calllog();
}

bool StartEngine(const EngineOptions &options, std::string *error) {
    // The system's configuration, persistent state and MIBs stay out.
    unsetenv("SNMPCONFPATH");
    unsetenv("SNMP_PERSISTENT_DIR");
    unsetenv("SNMP_PERSISTENT_FILE");
    setenv("MIBS", "", 1);
    // The library makes cert_indexes in its persistent folder on its first
    // start, with a line in the log; made here, it says nothing.
    if (!MakeFolders(options.configDir, error) || !MakeFolders(options.persistentDir, error) ||
        !MakeFolders(options.persistentDir + "/cert_indexes", error)) {
        return false;
    }
    set_configuration_directory(options.configDir.c_str());
    set_persistent_directory(options.persistentDir.c_str());

    // Master agent, no smux, no line per request from the TCP wrappers.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, MasterRole);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID,
                           NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS, 1);
    std::string exclusions = "-smux";
    add_to_init_list(&exclusions[0]);

    if (init_agent(AppName) != 0) {
        *error = "the SNMP agent library did not initialise";
        return false;
    }
    return true;
}

bool OpenListener(const EngineOptions &options, std::string *error) {
    // Read access for the loopback addresses; the configuration file adds
    // whatever else a site wants (rwcommunity, rouser, agentaddress).
    RememberConfigLine("rocommunity public 127.0.0.1");
    RememberConfigLine("rocommunity6 public ::1");
    init_snmp(AppName);
    // The command line wins over the configuration's agentaddress, which
    // wins over the default. (agentaddress adds to what is set before the
    // files are read, so the default is set only after.)
    if (!options.listen.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS,
                              options.listen.c_str());
    } else if (netsnmp_ds_get_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS) ==
               nullptr) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS,
                              DefaultListenAddress);
    }
    errno = 0;
    if (init_master_agent() != 0) {
        const int err = errno;
        *error = "cannot listen on " + ListenAddress() + " (" +
                 (err == EADDRINUSE      ? std::string("the address is in use")
                  : err == EADDRNOTAVAIL ? std::string("the address is not this machine's")
                  : err == EACCES        ? std::string("permission denied")
                                         : std::string("the address is in use or not valid")) +
                 ")";
        return false;
    }
    return true;
}

std::string ListenAddress() {
    const char *ports =
        netsnmp_ds_get_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS);
    return ports != nullptr ? ports : DefaultListenAddress;
}

bool Serve(int stopFd) {
    bool stop = false;
    bool failed = false;
    register_readfd(stopFd, OnStopReadable, &stop);
    netsnmp_large_fd_set readfds;
    netsnmp_large_fd_set writefds;
    netsnmp_large_fd_set exceptfds;
    netsnmp_large_fd_set_init(&readfds, FD_SETSIZE);
    netsnmp_large_fd_set_init(&writefds, FD_SETSIZE);
    netsnmp_large_fd_set_init(&exceptfds, FD_SETSIZE);
    while (!stop) {
        int numfds = 0;
        int block = 0;
        struct timeval timeout = {5, 0};
        struct timeval *wait = &timeout;
        NETSNMP_LARGE_FD_ZERO(&readfds);
        NETSNMP_LARGE_FD_ZERO(&writefds);
        NETSNMP_LARGE_FD_ZERO(&exceptfds);
        snmp_select_info2(&numfds, &readfds, wait, &block);
        if (block == 1) {
            wait = nullptr;  // nothing due: sleep until a descriptor is ready
        }
        netsnmp_external_event_info2(&numfds, &readfds, &writefds, &exceptfds);
        int count = netsnmp_large_fd_set_select(numfds, &readfds, &writefds, &exceptfds, wait);
        if (count > 0) {
            netsnmp_dispatch_external_events2(&count, &readfds, &writefds, &exceptfds);
            if (count > 0) {
                snmp_read2(&readfds);
            }
        } else if (count == 0) {
            snmp_timeout();
        } else if (errno != EINTR) {
            LogLine(LOG_ERR, std::string("waiting for requests failed: ") + std::strerror(errno));
            failed = true;
            break;
        }
        run_alarms();
        netsnmp_check_outstanding_agent_requests();
    }
    unregister_readfd(stopFd);
    netsnmp_large_fd_set_cleanup(&readfds);
    netsnmp_large_fd_set_cleanup(&writefds);
    netsnmp_large_fd_set_cleanup(&exceptfds);
    return !failed;
}

void StopEngine() {
    snmp_shutdown(AppName);
    shutdown_master_agent();
    shutdown_agent();
}

}  // namespace snmpsvc

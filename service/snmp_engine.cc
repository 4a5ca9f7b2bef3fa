// Setting up and running the Net-SNMP agent library; see snmp_engine.h.
#include "snmp_engine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <syslog.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include "hosts_access.h"
#include "udp_transport.h"

namespace snmpsvc {

namespace {

constexpr char AppName[] = "snmpsvc";
// NETSNMP_DS_AGENT_ROLE: 0 master agent, 1 AgentX subagent.
constexpr int MasterRole = 0;
constexpr int SubagentRole = 1;
constexpr char DefaultAgentxSocket[] = "/var/agentx/master";
constexpr char RoleToken[] = "agentxRole";

bool g_subagent = false;
std::string g_agentxSocket;  // from the command line; empty: the configuration's

bool g_syslog = false;
std::string g_partialLine;        // a library message not yet ended by a newline
bool g_droppingBindings = false;  // after a response that could not be sent

std::string AgentxSocket() {
    const char *socket =
        netsnmp_ds_get_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET);
    return socket != nullptr ? socket : DefaultAgentxSocket;
}

// A subagent's library logs every failed attempt to reach the master,
// every ping interval: the first failure is told in one line, the rest
// are silent until the master has been reached again. False: drop line.
bool LogAgentxLine(std::string *line) {
    const std::string failed = "Warning: Failed to connect to the agentx master agent";
    if (line->compare(0, failed.size(), failed) == 0) {
        const int err = errno;
        netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS,
                               1);
        const int interval =
            netsnmp_ds_get_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL);
        *line = "cannot connect to the AgentX master agent at " + AgentxSocket() + " (" +
                (err == ENOENT         ? std::string("no such socket: is snmpd running with "
                                                             "\"master agentx\"?")
                 : err == EACCES       ? std::string("permission denied: see agentXPerms")
                 : err == ECONNREFUSED ? std::string("connection refused: no master listens")
                                       : std::string(std::strerror(err))) +
                "); trying again every " + std::to_string(interval) + " seconds";
        return true;
    }
    if (line->find("AgentX subagent connected") != std::string::npos) {
        netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS,
                               0);
        *line = "connected to the AgentX master agent at " + AgentxSocket();
        return true;
    }
    if (line->find("AgentX master agent failed to respond to ping") != std::string::npos ||
        line->find("AgentX master disconnected us") != std::string::npos) {
        *line = "lost the AgentX master agent at " + AgentxSocket() + "; reconnecting";
        return true;
    }
    return true;
}

// Writes one line of the log.
void EmitLine(int priority, std::string line) {
    // A response the library could not send comes with one line for each of
    // its bindings (thousands, for a large request): one line tells it.
    if (g_droppingBindings && line.compare(0, 7, "    -- ") == 0) {
        return;
    }
    g_droppingBindings = false;
    if (g_subagent && !LogAgentxLine(&line)) {
        return;
    }
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

// "snmpsvcCommunity off" switches SNMPv1 and SNMPv2c off: the library then
// drops every message of those versions, whatever community it names, and
// only SNMPv3 users are answered. "on" (the default) answers them.
void OnCommunityLine(const char *token, char *value) {
    std::istringstream words(value != nullptr ? value : "");
    std::string setting;
    std::string extra;
    words >> setting >> extra;
    if ((setting != "on" && setting != "off") || !extra.empty()) {
        config_perror((std::string(token) + " must be \"on\" or \"off\"").c_str());
        return;
    }
    const int off = setting == "off" ? 1 : 0;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_V1, off);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_V2c, off);
}

// agentxRole was read before the library started (ConfiguredSubagent).
void OnRoleLine(const char * /*token*/, char * /*value*/) {}

// After the files are read, before the subagent connects: the command
// line's socket wins over the configuration's agentxSocket.
int OnConfigRead(int /*major*/, int /*minor*/, void * /*server*/, void * /*client*/) {
    if (!g_agentxSocket.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                              g_agentxSocket.c_str());
    }
    return SNMPERR_SUCCESS;
}

}  // namespace

bool ConfiguredSubagent(const std::string &configFile, bool *subagent, std::string *error) {
    *subagent = false;
    std::ifstream file(configFile);
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        std::istringstream words(line);
        std::string token;
        std::string value;
        std::string extra;
        words >> token;
        if (strcasecmp(token.c_str(), RoleToken) != 0) {
            continue;
        }
        words >> value >> extra;
        if (value == "master" || value == "subagent") {
            if (extra.empty()) {
                *subagent = value == "subagent";
                continue;
            }
        }
        *error = configFile + " line " + std::to_string(number) + ": " + RoleToken +
                 " must be \"master\" or \"subagent\"";
        return false;
    }
    return true;
}

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

    // Master agent or AgentX subagent, no smux, no line per request from
    // the TCP wrappers.
    g_subagent = options.subagent;
    g_agentxSocket = options.agentxSocket;
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE,
                           options.subagent ? SubagentRole : MasterRole);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID,
                           NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS, 1);
    std::string exclusions = "-smux";
    add_to_init_list(&exclusions[0]);

    if (init_agent(AppName) != 0) {
        *error = "the SNMP agent library did not initialise";
        return false;
    }
    register_app_config_handler(RoleToken, OnRoleLine, nullptr, "master|subagent");
    register_app_config_handler("snmpsvcCommunity", OnCommunityLine, nullptr, "on|off");
    if (options.subagent) {
        // Reconnects when the master restarts; agentxPingInterval wins.
        netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                           DefaultAgentxPingInterval);
        if (!options.agentxSocket.empty()) {
            netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                                  options.agentxSocket.c_str());
            netsnmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_POST_READ_CONFIG,
                                      OnConfigRead, nullptr, NETSNMP_CALLBACK_HIGHEST_PRIORITY);
        }
    }
    return true;
}

bool OpenListener(const EngineOptions &options, std::string *error) {
    // Read access for the loopback addresses; the configuration file adds
    // whatever else a site wants (rwcommunity, rouser, agentaddress).
    // A subagent has none of its own: access is the master's.
    if (!options.subagent) {
        RememberConfigLine("rocommunity public 127.0.0.1");
        RememberConfigLine("rocommunity6 public ::1");
    }
    init_snmp(AppName);  // a subagent starts connecting here
    if (options.subagent) {
        return true;
    }
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
    TrimUdpTransports();
    return true;
}

std::string ListenAddress() {
    if (g_subagent) {
        return "AgentX master at " + AgentxSocket();
    }
    const char *ports = netsnmp_ds_get_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS);
    return ports != nullptr ? ports : DefaultListenAddress;
}

bool Serve(int stopFd) {
    bool stop = false;
    bool failed = false;
    register_readfd(stopFd, OnStopReadable, &stop);
    // The access files are watched by this loop: descriptors registered
    // here are dispatched before the agent's sockets are read, so a change
    // of the files is seen before the next request.
    std::string warning;
    if (!g_subagent && !StartHostsAccessCache(&warning)) {
        LogLine(LOG_WARNING, warning);
    }
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
    StopHostsAccessCache();
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

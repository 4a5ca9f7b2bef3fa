// The SNMP service's life, as `snmpsvc run` lives it in the foreground.
//
// It holds the service's lock in run/ from its first moment, loads every
// agent the registry names (a missing library, one without the entry
// points, one whose SnmpExtensionInit fails, or one whose view another
// agent serves already is logged in one line and left out), opens its
// listening address, writes run/SNMP.pid, tells a service manager that
// listens on NOTIFY_SOCKET that it is ready, and serves until SIGTERM or
// SIGINT. SIGHUP reloads (service_reload.h). Standing alone it also serves
// the system, SNMP and engine groups (system_mibs.h); as an AgentX
// subagent it registers only the rows its agents serve (agentx_rows.h).
// The signals are taken through a signalfd watched by the engine's loop;
// nothing runs in a signal handler. On the way out it closes the listener,
// removes the pid file and drops the lock.
#ifndef SERVICE_SERVICE_RUN_H
#define SERVICE_SERVICE_RUN_H

#include <string>

namespace snmpsvc {

// The service's name: its registry key and its files in run/.
extern const char ServiceName[];

struct RunOptions {
    std::string root;    // the NT root, absolute
    std::string listen;  // empty: snmp/snmpsvc.conf's agentaddress, else udp:127.0.0.1:1161
    bool syslog = false;
    // An AgentX subagent of the system's snmpd (snmp/snmpsvc.conf's
    // "agentxRole subagent" asks for it too), through agentxSocket when
    // one is given (else the configuration's agentxSocket, else the
    // library's default). A subagent writes its pid file once started,
    // whether or not the master is reachable yet: it keeps connecting.
    bool agentx = false;
    std::string agentxSocket;
};

// Runs the service; the process's exit status: 0 after a clean stop, 1
// when it could not start (the reason logged).
int RunService(const RunOptions &options);

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_RUN_H

// The Net-SNMP agent library as this service embeds it.
//
// The service is its own master agent: it listens on a UDP address of its
// own (udp:127.0.0.1:1161 unless told otherwise) and answers SNMPv1 and
// SNMPv2c, with GETBULK, for the community "public" from the loopback
// addresses; SNMPv3 users and further communities come from the root's
// configuration file. Everything the library reads or keeps lives under the
// root's snmp/ folder: snmp/snmpsvc.conf is the only configuration file read
// (no /etc/snmp, no ~/.snmp, no environment path), and the library's
// persistent state goes to snmp/persist/. No MIB files are loaded.
//
// Life: StartEngine (logging, files, library) → RegisterAgentView for each
// agent → OpenListener (reads the configuration, binds the address) →
// Serve until the stop descriptor is readable → StopEngine. The library
// takes no locks: all of it runs on one thread.
//
// The role is chosen here so that an AgentX subagent of a system snmpd can
// later take the master's place without touching the agents' handlers.
#ifndef SERVICE_SNMP_ENGINE_H
#define SERVICE_SNMP_ENGINE_H

#include <string>

#include "extension_agent.h"

namespace snmpsvc {

constexpr char DefaultListenAddress[] = "udp:127.0.0.1:1161";

// Seconds between a subagent's pings of its master, and between its
// attempts to reach a master it lost or never reached (the configuration's
// agentxPingInterval wins).
constexpr int DefaultAgentxPingInterval = 5;

struct EngineOptions {
    std::string listen;         // transport address; empty: the configuration's or the default
    std::string configDir;      // holds snmpsvc.conf
    std::string persistentDir;  // the library's own state
    // AgentX subagent of a master agent (the system's snmpd) instead of a
    // master of our own: serves through the master, opens no address.
    bool subagent = false;
    // The master's AgentX socket; empty: the configuration's agentxSocket,
    // else the library's default (/var/agentx/master).
    std::string agentxSocket;
};

// The role the configuration file asks for: its last "agentxRole master"
// or "agentxRole subagent" line (master when there is none, or no file).
// False with *error for another value.
bool ConfiguredSubagent(const std::string &configFile, bool *subagent, std::string *error);

// Sends the service's log (LogLine and the library's own messages) to the
// system log or to standard error, one line per message prefixed with
// "snmpsvc: " (the system log's records carry the name as their tag).
// Call first.
void StartLogging(bool syslog);

// Sets up the library. False with *error when a folder cannot be made.
bool StartEngine(const EngineOptions &options, std::string *error);

// Serves agent's view under the registration name `name`. The agent must
// outlive the engine (until StopEngine). False with *error when the view
// cannot be registered (empty, too long, or served already).
bool RegisterAgentView(snmphost::ExtensionAgent *agent, const std::string &name,
                       std::string *error);

// Reads the configuration and opens the listening address. False with
// *error when the address cannot be opened. A subagent opens no address:
// it starts connecting to its master (and keeps trying every ping
// interval, with one line in the log while the master cannot be reached).
bool OpenListener(const EngineOptions &options, std::string *error);

// The address the engine listens on (after OpenListener); for a subagent,
// "AgentX master at SOCKET".
std::string ListenAddress();

// Answers requests until stopFd becomes readable: true then, false when
// waiting for requests failed (logged).
bool Serve(int stopFd);

// Closes the listener and releases the library.
void StopEngine();

// One line to the service's log: "snmpsvc: text" on standard error, or a
// system log record.
void LogLine(int priority, const std::string &text);

}  // namespace snmpsvc

#endif  // SERVICE_SNMP_ENGINE_H

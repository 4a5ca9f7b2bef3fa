// The groups every manager reads first, from Net-SNMP's own MIB modules.
//
// Standing alone, the service answers, beside its agents' views, the
// system group (sysDescr, sysObjectID, sysUpTime, sysContact, sysName,
// sysLocation, sysServices and sysORTable), the SNMP group
// (1.3.6.1.2.1.11), snmpSetSerialNo, and the SNMPv3 engine groups
// (snmpEngine, snmpMPDStats, usmStats). These come from the library's MIB
// modules (libnetsnmpmibs), each started by name: nothing else of that
// library is served, and the tables that would show or change access
// settings (usmUserTable, the VACM tables) stay out. The configuration
// lines syscontact, syslocation, sysname, sysdescr, sysobjectid and
// sysservices set their objects, as in snmpd.
//
// As an AgentX subagent the service leaves these groups, and access
// control, to its master: the system group's lines and the access lines
// (SNMPv3 users, communities) are then taken and left unused, with one line
// in the log for each kind that says so, rather than a warning per line.
#ifndef SERVICE_SYSTEM_MIBS_H
#define SERVICE_SYSTEM_MIBS_H

#include <string>

namespace snmpsvc {

// sysServices when the configuration sets none: applications (layer 7)
// and end-to-end (layer 4), as for any host.
constexpr int DefaultSysServices = 72;

// Registers the groups and their configuration lines. Call after
// StartEngine and before OpenListener, in the master role only;
// configFile is read for a sysservices line.
void StartSystemMibs(const std::string &configFile);

// In the subagent role: takes the lines left to the master. Call after
// StartEngine and before OpenListener.
void IgnoreMasterLines();

}  // namespace snmpsvc

#endif  // SERVICE_SYSTEM_MIBS_H

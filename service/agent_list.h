// The extension agents the registry names for the SNMP service.
//
// The agent list is the key
// HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents.
// Each of its values (any name, REG_SZ or REG_EXPAND_SZ) holds the path of
// an agent's own key relative to HKEY_LOCAL_MACHINE, and that key's
// "Pathname" value names the agent library, %SystemRoot% and other
// environment references expanded. Paths use '\' as NT writes them; the
// library file is the same path with '/'.
#ifndef SERVICE_AGENT_LIST_H
#define SERVICE_AGENT_LIST_H

#include <string>
#include <vector>

#include "nt/wintypes.h"

namespace snmpsvc {

extern const char AgentListKey[];

struct AgentEntry {
    std::string name;      // the agent list's value name, e.g. "VeltrixHOSTDEV"
    std::string key;       // the agent's key, relative to HKEY_LOCAL_MACHINE
    std::string pathname;  // its "Pathname" as stored
    std::string file;      // the library to load
};

// Reads the agent list in the registry's order. An entry that cannot be
// resolved (a value that is no string, a missing key, no "Pathname", an
// empty one) is left out with one line in *problems. A Win32 error code,
// with *error, when the agent list itself cannot be opened or read
// (ERROR_FILE_NOT_FOUND: the service is not installed).
LONG ReadAgentList(std::vector<AgentEntry> *agents, std::vector<std::string> *problems,
                   std::string *error);

// An NT path with '\' separators as a Linux path.
std::string LinuxPath(const std::string &ntPath);

}  // namespace snmpsvc

#endif  // SERVICE_AGENT_LIST_H

// Registering the SNMP service in an NT root: `snmpsvc install`.
//
// Writes what NT's own installation of the service leaves behind, and what
// setup and NET look for:
//
//   HKLM\SYSTEM\CurrentControlSet\Services\SNMP
//       ImagePath    REG_EXPAND_SZ  this snmpsvc's absolute path, then "run"
//       DisplayName  REG_SZ         "SNMP"
//       Type         REG_DWORD      0x10 (a service in a process of its own)
//       Start        REG_DWORD      2 (automatic)
//       ErrorControl REG_DWORD      1
//   HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents
//       the agent list, created empty; values already there are kept
//   HKLM\SOFTWARE\Microsoft\SNMP
//       the key whose presence says the service is installed
//   Windows/System32/NET
//       a symbolic link to the NET program beside this snmpsvc
//   snmp/snmpsvc.conf
//       the service's Net-SNMP settings, every line a comment; an existing
//       file is never touched
//   mibs/
//       our MIB modules (EtherLike-MIB, HOST-RESOURCES-MIB), for clients'
//       -M option: share/snmpsvc/mibs beside the program's bin/ folder, else
//       the source tree's mibs/; a module with the same text is not rewritten
//
// Only what differs is written, so a second install changes nothing; every
// registry write is the registry's own single transaction.
#ifndef SERVICE_SERVICE_INSTALL_H
#define SERVICE_SERVICE_INSTALL_H

#include <string>

namespace snmpsvc {

struct InstallResult {
    bool changed = false;  // false: everything was in place already
};

// Installs the service in root (absolute; $NTROOT already names it) for
// the program at `program` (this snmpsvc, absolute). False with *error
// (one line) on failure; what was written before the failure stays.
bool InstallService(const std::string &root, const std::string &program, InstallResult *result,
                    std::string *error);

// The path of the running program, symbolic links resolved.
std::string ProgramPath();

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_INSTALL_H

// The registry's database file: the one way to make it.
//
// HKEY_LOCAL_MACHINE lives in the NT root's registry.db; the Reg* calls
// (nt/win32.h) read and write it but never create it: when the file is
// missing, reads fail as for an absent key and writes fail with
// ERROR_CANTOPEN. A root gets its registry from CreateRegistryDatabase
// (which `ntroot init` calls), so a mistyped $NTROOT never grows a stray
// registry of its own.
#ifndef NT_REGISTRY_H
#define NT_REGISTRY_H

#include <string>

#include "nt/ntroot.h"
#include "nt/wintypes.h"

namespace nt {

// The registry's database file in the root folder root.
NT_EXPORT std::string RegistryFilePath(const std::string &root);

// Makes root's registry.db with its schema (WAL, the key HKEY_LOCAL_MACHINE
// with SOFTWARE and SYSTEM under it), or, when the file exists, completes
// what is missing of the schema and keeps every key and value there. A new
// file is built aside and moved into place whole, so no process ever sees a
// half-made registry. The root folder must exist. Returns ERROR_SUCCESS
// (with *created telling whether a new file was made) or the Win32 error:
// ERROR_BADDB when the existing file is not a registry.
NT_EXPORT DWORD CreateRegistryDatabase(const std::string &root, bool *created);

}  // namespace nt

#endif  // NT_REGISTRY_H

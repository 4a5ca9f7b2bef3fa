// The NT root: the one folder that holds a machine's NT state.
//
// Everything the NT system would keep in its own places lives under one
// folder, like a Wine prefix: the registry, %SystemRoot% ("Windows"), the
// system directory ("Windows/System32"), the kernel device namespace
// ("Device") and the service state ("run"). The folder is $NTROOT when that
// is set and not empty, else ~/.ntroot. Nothing here creates it.
#ifndef NT_NTROOT_H
#define NT_NTROOT_H

#include <string>

#define NT_EXPORT __attribute__((visibility("default")))

namespace nt {

// The root folder, absolute, without a trailing slash.
NT_EXPORT std::string RootPath();

// The file that stands for the kernel device "\Device\<name>".
NT_EXPORT std::string DeviceFilePath(const std::string &name);

}  // namespace nt

#endif  // NT_NTROOT_H

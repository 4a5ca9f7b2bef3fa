// The process's table of DOS device names (see DefineDosDeviceA).
#ifndef PLATFORM_DOS_DEVICES_H
#define PLATFORM_DOS_DEVICES_H

#include <string>

namespace nt {

struct DosDeviceTarget {
    std::string path;  // as it was defined
    bool raw;          // a kernel object path ("\Device\X")
};

// The most recent target of a DOS device name (names compare without
// regard to case); false when the name has none.
bool LookupDosDevice(const std::string &name, DosDeviceTarget *target);

}  // namespace nt

#endif  // PLATFORM_DOS_DEVICES_H

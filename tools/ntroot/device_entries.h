// The root's Device folder: what each entry is, as the platform will treat
// it when an agent opens it.
//
// Entry X of Device is the kernel device "\Device\X". The platform opens a
// regular file (or a link to one) as a simulated adapter, and a link to an
// interface folder (a folder of the shape of /sys/class/net/IF, with its
// statistics folder) as a real adapter; anything else does not open as an
// adapter. The agents probe 27 fixed names. The device verbs (list, and the
// ones that make and remove entries) share this file.
#ifndef TOOLS_NTROOT_DEVICE_ENTRIES_H
#define TOOLS_NTROOT_DEVICE_ENTRIES_H

#include <cstddef>
#include <string>
#include <vector>

namespace ntroot {

// The kernel device names the agents probe, in their order: Vxlnk1..9,
// Vxpci1..9, Vxpci_1..9.
const std::vector<std::string> &ProbedDeviceNames();

// Whether name is one of them; kernel names compare without regard to case,
// as the platform finds them.
bool IsProbedDeviceName(const std::string &name);

// Why name cannot name an entry of Device, one phrase; empty when it can.
// A kernel device name is one entry: no '/' or '\\', not "." or "..".
std::string DeviceNameProblem(const std::string &name);

struct DeviceEntry {
    enum class Kind {
        kSimulated,    // a simulated adapter file (perhaps reached by a link)
        kInterface,    // a link to an interface folder
        kOtherFolder,  // a link to a folder that is not an interface's
        kBrokenLink,   // a link to nothing
        kFolder,       // a folder in Device itself
        kOther,        // a fifo, socket or device node
        kUnreadable,   // a simulated adapter file that cannot be read
    };
    std::string name;
    Kind kind = Kind::kOther;
    std::string target;     // a link's target, as written in the link
    size_t statistics = 0;  // kSimulated: distinct statistics listed
    size_t malformed = 0;   // kSimulated: lines that are no statistic
    std::string problem;    // kUnreadable: why
    std::string duplex;     // kInterface: "full", "half", or empty when unknown
    bool probed = false;
};

// The entry name of the Device folder at folder.
DeviceEntry ClassifyDeviceEntry(const std::string &folder, const std::string &name);

// What a simulated adapter file lists: the distinct statistic identifiers
// among its lines ("identifier value", decimal or 0x hexadecimal, '#'
// comments, blank lines allowed) and the lines that are neither.
void CountStatistics(const std::string &text, size_t *statistics, size_t *malformed);

// The entries of the Device folder at folder that the kernel device name
// name reaches: the platform looks a name up exactly, else without regard to
// case. The exact one first, when it exists; then the others, sorted. False
// with *error when the folder cannot be read.
bool FindDeviceEntries(const std::string &folder, const std::string &name,
                       std::vector<std::string> *names, std::string *error);

// One line's description of entry, for a person.
std::string DescribeDeviceEntry(const DeviceEntry &entry);

// Every entry of the folder, sorted by name; false with *error when the
// folder cannot be read.
bool ListDeviceEntries(const std::string &folder, std::vector<DeviceEntry> *entries,
                       std::string *error);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_DEVICE_ENTRIES_H

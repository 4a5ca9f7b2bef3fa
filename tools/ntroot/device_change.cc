// ntroot device link, sim and remove: the verbs that make, change and
// remove entries of the root's Device folder.
//
// Each verb checks every argument, and then the root and the entry, before
// it changes anything; a refusal is one line and leaves Device as it was.
// Kernel device names ignore case, as the platform finds them, so a name is
// taken by any entry spelled the same but for case.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "nt/ntroot.h"

#include "adapter_statistics.h"
#include "command.h"
#include "device_entries.h"
#include "device_verbs.h"
#include "ntroot.h"
#include "simulated_file.h"

namespace ntroot {

namespace {

const char kDefaultNetFolder[] = "/sys/class/net";

const char kLinkHelp[] =
    "Usage: ntroot device link NAME IFACE [--net-dir DIR] [--root DIR]\n"
    "\n"
    "Makes Device/NAME a symbolic link to a network interface's folder, so that\n"
    "the agents serve that interface as the kernel device \\Device\\NAME:\n"
    "\n"
    "  ntroot device link Vxlnk1 eth0\n"
    "\n"
    "IFACE is an interface name, looked up in /sys/class/net, or a path (one\n"
    "holding a '/') to a folder of the same shape: a folder with a statistics\n"
    "folder in it. NAME must be free in Device, in any case; 'ntroot device\n"
    "remove NAME' frees it.\n"
    "\n"
    "  --net-dir DIR   look interface names up in DIR (default /sys/class/net)\n"
    "\n"
    "Each counter is read at every query: from the driver's IEEE 802.3 MAC\n"
    "counters (ethtool's eth-mac group) where it keeps them, else from the\n"
    "interface's statistics files; the collision, deferral, carrier-sense and\n"
    "SQE counters read 0 unless the link is half duplex. 'ntroot device list\n"
    "--sources' shows where each one comes from.\n";

const char kRemoveHelp[] =
    "Usage: ntroot device remove NAME [--root DIR]\n"
    "\n"
    "Removes the entry Device/NAME (matched in any case, as the agents find it):\n"
    "a link to an interface (the interface itself is left alone) or a simulated\n"
    "adapter file. A running SNMP service keeps the adapters it opened until it\n"
    "is restarted.\n";

std::string SimHelp() {
    std::string help =
        "Usage: ntroot device sim NAME [STAT=VALUE ...] [--root DIR]\n"
        "\n"
        "Makes Device/NAME a simulated adapter, a file that stands for an adapter's\n"
        "driver, or changes counters of the simulated adapter already there:\n"
        "\n"
        "  ntroot device sim Vxlnk1 0x0002020D=5 fcs=6\n"
        "\n"
        "A new adapter lists all 11 statistics below, at 0 but for those given, so\n"
        "that a walk of the agents' table is complete. On an existing adapter each\n"
        "counter given gets its new value on each line that lists it (or a line of\n"
        "its own at the end); every other line and comment stays as it was. The\n"
        "file is replaced whole, so an agent reading it meanwhile sees either the\n"
        "old counters or the new ones. The agents read it at every query, so a\n"
        "running service serves a change at once.\n"
        "\n"
        "STAT is a short name below, or an NDIS statistic identifier (decimal, or\n"
        "hexadecimal after 0x). VALUE is a number from 0 to 18446744073709551615,\n"
        "decimal or 0x hexadecimal; the agents serve it modulo 2^32, as a Counter32\n"
        "wraps.\n"
        "\n"
        "  STAT                  IDENTIFIER  COLUMN OF dot3StatsTable\n";
    for (const AdapterStatistic &statistic : kAdapterStatistics) {
        std::string line = "  " + std::string(statistic.name);
        line.resize(24, ' ');
        line += IdentifierText(statistic.identifier) + "  " + statistic.columnName + " (" +
                std::to_string(statistic.column) + ")\n";
        help += line;
    }
    help +=
        "\n"
        "The file holds one statistic a line, its identifier then its value:\n"
        "\"0x0002020D 5\"; '#' starts a comment. When a statistic is on several\n"
        "lines the last one counts; a statistic without a line, or whose line is\n"
        "malformed, fails its query: a walk passes over it.\n";
    return help;
}

std::string Quoted(const std::string &name) { return "\\Device\\" + name; }

// The refusal for a name that an entry already holds.
int Taken(Context &context, const std::string &folder, const std::string &name,
          const std::string &entry) {
    const std::string spelled = entry == name ? "" : " (kernel device names ignore case)";
    return Fail(context, Quoted(name) + " is taken: Device/" + entry + spelled + " is there (" +
                             DescribeDeviceEntry(ClassifyDeviceEntry(folder, entry)) +
                             "); remove it first with 'ntroot device remove " + entry + "'");
}

// The one entry that name reaches, for the verbs that act on an existing
// entry: kSuccess with *entry (empty when there is none), else the refusal.
int FindOne(Context &context, const std::string &folder, const std::string &name,
            std::string *entry) {
    std::vector<std::string> names;
    std::string error;
    if (!FindDeviceEntries(folder, name, &names, &error)) {
        return Fail(context, error);
    }
    entry->clear();
    if (names.empty()) {
        return kSuccess;
    }
    if (names.size() > 1 && names[0] != name) {
        std::string list;
        for (const std::string &other : names) {
            list += (list.empty() ? "" : ", ") + other;
        }
        return Fail(context, "Device holds several entries that " + Quoted(name) +
                                 " names in one case or another (" + list +
                                 "); remove all but one, naming each exactly");
    }
    *entry = names[0];
    return kSuccess;
}

// The interface folder that IFACE names, made absolute without resolving
// links (so that /sys/class/net/eth0 stays the stable name it is).
std::string InterfaceFolder(const std::string &iface, const std::string &netFolder) {
    const std::string path = iface.find('/') != std::string::npos ? iface : netFolder + "/" + iface;
    std::error_code ignored;
    std::string folder = std::filesystem::absolute(path, ignored).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

bool IsFolder(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Device's lock, held by a verb from its first look at the folder to its
// last change, so that changes made at once (two counters of one adapter,
// two adapters of one name) happen one after the other and none is lost.
// A flock on the folder itself; stale temporaries go once it is held.
class DeviceLock {
public:
    ~DeviceLock() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    // kSuccess, else the refusal printed and its status.
    int Take(Context &context, const std::string &folder) {
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            return Fail(context, "cannot open " + folder + ": " + std::strerror(errno));
        }
        // Another ntroot holds it for milliseconds; one that holds it this
        // long is stuck (stopped, or writing to a dead disk).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                return Fail(context,
                            "cannot lock " + folder + ": " +
                                (errno == EWOULDBLOCK
                                     ? std::string("another ntroot is changing it; try again")
                                     : std::string(std::strerror(errno))));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        nt::RemoveStaleTemporaries(fd_);
        return kSuccess;
    }

private:
    int fd_ = -1;
};

// A new adapter file's mode: the umask's, but never writable by others,
// whose changes would pass for the driver's.
mode_t NewFileMode() {
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask & ~022;
}

}  // namespace

int RunDeviceLink(Context &context, const Args &args) {
    VerbArgs parsed;
    const int status =
        ParseVerbArgs(context, "link", kLinkHelp, args, {{"--net-dir", true}}, &parsed);
    if (status >= 0) {
        return status;
    }
    if (parsed.positional.size() < 2) {
        return Usage(context, "device link",
                     parsed.positional.empty() ? "no device name given" : "no interface given");
    }
    if (parsed.positional.size() > 2) {
        return Usage(context, "device link", "unexpected argument '" + parsed.positional[2] + "'");
    }
    const std::string &name = parsed.positional[0];
    const std::string &iface = parsed.positional[1];
    if (const std::string problem = DeviceNameProblem(name); !problem.empty()) {
        return Usage(context, "device link", problem);
    }
    const auto netOption = parsed.options.find("--net-dir");
    const std::string netFolder =
        netOption != parsed.options.end() ? netOption->second : kDefaultNetFolder;

    std::string folder;
    if (const int refused = DeviceFolder(context, &folder)) {
        return refused;
    }
    DeviceLock lock;
    if (const int refused = lock.Take(context, folder)) {
        return refused;
    }
    const bool byName = iface.find('/') == std::string::npos;
    const std::string target = InterfaceFolder(iface, netFolder);
    struct stat info;
    if (iface.empty() || (byName && (iface == "." || iface == "..")) ||
        stat(target.c_str(), &info) != 0) {
        return Fail(context, byName ? "no network interface '" + iface + "' in " + netFolder
                                    : "no folder " + target);
    }
    if (!S_ISDIR(info.st_mode)) {
        return Fail(context, target + " is not a network interface's folder: it is not a folder");
    }
    if (!IsFolder(target + "/statistics")) {
        return Fail(context, target +
                                 " is not a network interface's folder: it has no "
                                 "statistics folder");
    }
    std::vector<std::string> names;
    std::string error;
    if (!FindDeviceEntries(folder, name, &names, &error)) {
        return Fail(context, error);
    }
    if (!names.empty()) {
        return Taken(context, folder, name, names[0]);
    }
    const std::string path = folder + "/" + name;
    if (symlink(target.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) {
            return Taken(context, folder, name, name);
        }
        return Fail(context, "cannot make " + path + ": " + std::strerror(errno));
    }
    context.out << "Linked " << Quoted(name) << " to interface "
                << target.substr(target.find_last_of('/') + 1) << " (" << target << ").\n";
    WarnIfNotProbed(context, name);
    return kSuccess;
}

int RunDeviceSim(Context &context, const Args &args) {
    const std::string help = SimHelp();
    VerbArgs parsed;
    const int status = ParseVerbArgs(context, "sim", help.c_str(), args, {}, &parsed);
    if (status >= 0) {
        return status;
    }
    if (parsed.positional.empty()) {
        return Usage(context, "device sim", "no device name given");
    }
    const std::string &name = parsed.positional[0];
    if (const std::string problem = DeviceNameProblem(name); !problem.empty()) {
        return Usage(context, "device sim", problem);
    }
    std::vector<CounterSetting> settings;
    for (size_t i = 1; i < parsed.positional.size(); ++i) {
        CounterSetting setting;
        std::string error;
        if (!ParseCounterSetting(parsed.positional[i], &setting, &error)) {
            return Usage(context, "device sim", error);
        }
        for (const CounterSetting &earlier : settings) {
            if (earlier.identifier == setting.identifier) {
                return Usage(
                    context, "device sim",
                    "the statistic " + IdentifierText(setting.identifier) +
                        (setting.statistic ? std::string(" (") + setting.statistic->name + ")"
                                           : std::string()) +
                        " is given twice");
            }
        }
        settings.push_back(setting);
    }

    std::string folder;
    if (const int refused = DeviceFolder(context, &folder)) {
        return refused;
    }
    DeviceLock lock;
    if (const int refused = lock.Take(context, folder)) {
        return refused;
    }
    std::string entry;
    if (const int refused = FindOne(context, folder, name, &entry)) {
        return refused;
    }
    std::string error;
    if (entry.empty()) {
        const std::string text = NewSimulatedFile(name, settings);
        if (!WriteFileWhole(folder, name, text, NewFileMode(), false, &error)) {
            std::vector<std::string> names;
            std::string ignored;
            if (FindDeviceEntries(folder, name, &names, &ignored) && !names.empty()) {
                return Taken(context, folder, name, names[0]);  // made meanwhile
            }
            return Fail(context, error);
        }
        const size_t listed = kAdapterStatisticCount +
                              static_cast<size_t>(std::count_if(
                                  settings.begin(), settings.end(),
                                  [](const CounterSetting &s) { return s.statistic == nullptr; }));
        context.out << "Made simulated adapter " << Quoted(name) << " with " << listed
                    << " statistics";
        if (settings.empty()) {
            context.out << ", all at 0.\n";
        } else {
            context.out << ": " << settings.size() << " set, the rest at 0.\n";
        }
    } else {
        const DeviceEntry existing = ClassifyDeviceEntry(folder, entry);
        if (existing.kind == DeviceEntry::Kind::kUnreadable) {
            return Fail(context, "cannot read Device/" + entry + ": " + existing.problem);
        }
        if (existing.kind == DeviceEntry::Kind::kSimulated && !existing.target.empty()) {
            return Fail(context, "Device/" + entry + " is a link to the file " + existing.target +
                                     "; ntroot changes only simulated adapter files kept in "
                                     "Device (change that file, or remove the link first)");
        }
        if (existing.kind != DeviceEntry::Kind::kSimulated) {
            return Fail(context, "Device/" + entry + " is not a simulated adapter (" +
                                     DescribeDeviceEntry(existing) +
                                     "); remove it first with 'ntroot device remove " + entry +
                                     "'");
        }
        const std::string path = folder + "/" + entry;
        std::string text;
        struct stat info;
        if (!ReadWholeFile(path, &text, &error) || stat(path.c_str(), &info) != 0) {
            return Fail(context, "cannot read " + path + ": " +
                                     (error.empty() ? std::strerror(errno) : error));
        }
        if (settings.empty()) {
            context.out << Quoted(entry)
                        << " is a simulated adapter already; no counters given, nothing changed.\n";
        } else {
            size_t appended = 0;
            const std::string edited = EditSimulatedFile(text, settings, &appended);
            if (!WriteFileWhole(folder, entry, edited, info.st_mode & 07777, true, &error)) {
                return Fail(context, error);
            }
            context.out << "Changed simulated adapter " << Quoted(entry) << ": " << settings.size()
                        << (settings.size() == 1 ? " counter" : " counters") << " set";
            if (appended != 0) {
                context.out << " (" << appended << " of them on new lines)";
            }
            context.out << ".\n";
        }
    }
    WarnIfNotProbed(context, entry.empty() ? name : entry);
    for (const CounterSetting &setting : settings) {
        if (setting.statistic == nullptr) {
            context.err << "ntroot: warning: the Ethernet statistics agent never asks statistic "
                        << IdentifierText(setting.identifier) << "\n";
        }
    }
    return kSuccess;
}

int RunDeviceRemove(Context &context, const Args &args) {
    VerbArgs parsed;
    const int status = ParseVerbArgs(context, "remove", kRemoveHelp, args, {}, &parsed);
    if (status >= 0) {
        return status;
    }
    if (parsed.positional.empty()) {
        return Usage(context, "device remove", "no device name given");
    }
    if (parsed.positional.size() > 1) {
        return Usage(context, "device remove",
                     "unexpected argument '" + parsed.positional[1] + "'");
    }
    const std::string &name = parsed.positional[0];
    if (const std::string problem = DeviceNameProblem(name); !problem.empty()) {
        return Usage(context, "device remove", problem);
    }
    std::string folder;
    if (const int refused = DeviceFolder(context, &folder)) {
        return refused;
    }
    DeviceLock lock;
    if (const int refused = lock.Take(context, folder)) {
        return refused;
    }
    std::string entry;
    if (const int refused = FindOne(context, folder, name, &entry)) {
        return refused;
    }
    if (entry.empty()) {
        return Fail(context, "no device " + Quoted(name) + " in " + folder);
    }
    const DeviceEntry existing = ClassifyDeviceEntry(folder, entry);
    if (existing.kind == DeviceEntry::Kind::kFolder) {
        return Fail(context, "Device/" + entry +
                                 " is a folder, not a device; ntroot removes only links and "
                                 "simulated adapter files");
    }
    // unlink removes a link itself, never what it points to.
    const std::string path = folder + "/" + entry;
    if (unlink(path.c_str()) != 0) {
        return Fail(context, "cannot remove " + path + ": " + std::strerror(errno));
    }
    context.out << "Removed " << Quoted(entry) << " (" << DescribeDeviceEntry(existing) << ").\n";
    return kSuccess;
}

}  // namespace ntroot

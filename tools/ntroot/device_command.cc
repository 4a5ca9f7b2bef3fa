// ntroot device: the root's kernel device namespace, the Device folder.
//
// Each verb is one row of kVerbs. This file holds the table, what the verbs
// share, and `list`; the verbs that make, change and remove entries are in
// device_change.cc.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "adapter_statistics.h"
#include "command.h"
#include "device_entries.h"
#include "device_verbs.h"
#include "nt/adapter_statistics.h"
#include "nt/error_text.h"
#include "nt/win32.h"
#include "ntroot.h"

namespace ntroot {

namespace {

const char kListHelp[] =
    "Usage: ntroot device list [--sources] [--root DIR]\n"
    "\n"
    "Lists the entries of the root's Device folder: each one's name, whether it\n"
    "is one of the 27 kernel device names the agents probe (Vxlnk1..9,\n"
    "Vxpci1..9, Vxpci_1..9), and what it is: a simulated adapter file with the\n"
    "number of statistics it lists, a link to an interface folder with its\n"
    "target and duplex, or something the agents cannot open as an adapter.\n"
    "\n"
    "  --sources   under each adapter, every statistic the Ethernet statistics\n"
    "              agent asks: its identifier, short name and dot3Stats column,\n"
    "              its value now, read through the platform as an agent reads\n"
    "              it, and for an interface where the value comes from:\n"
    "                eth-mac             the driver's IEEE 802.3 MAC counter\n"
    "                statistics/FILE     the kernel's interface statistics\n"
    "                ... in half duplex, else 0\n"
    "                                    a collision-type counter: 0 unless the\n"
    "                                    link is half duplex\n"
    "              A walk of dot3StatsTable passes over a statistic\n"
    "              whose query fails; a GET of it gets noSuchName.\n";

// Alias under which list opens a device, as the agents open theirs.
const char kListAlias[] = "NTROOTLIST";

// Why a statistic's query failed, for a person.
std::string QueryFailure(DWORD error, bool simulated) {
    switch (error) {
        case ERROR_NOT_SUPPORTED:
            return simulated ? "no line for it in the file" : "the interface keeps no such counter";
        case ERROR_INVALID_DATA:
            return simulated ? "its line in the file is malformed" : "its counter is not a number";
        case ERROR_DEV_NOT_EXIST: return "the device has gone";
        default: return nt::ErrorText(error);
    }
}

// Opens entry name of Device as an agent opens an adapter, and prints every
// statistic the Ethernet statistics agent asks, with its value now.
void PrintSources(Context &context, const DeviceEntry &entry, const std::string &folder) {
    const bool simulated = entry.kind == DeviceEntry::Kind::kSimulated;
    const std::string indent(4, ' ');
    HANDLE device = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, kListAlias, ("\\Device\\" + entry.name).c_str())) {
        error = GetLastError();
    } else {
        device = CreateFileA((std::string("\\\\.\\") + kListAlias).c_str(),
                             GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        error = GetLastError();
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, kListAlias, nullptr);
    }
    if (device == INVALID_HANDLE_VALUE) {
        context.out << indent << "does not open: " << nt::ErrorText(error) << "\n";
        return;
    }
    std::string resolved;
    if (!simulated) {
        char path[PATH_MAX];
        const std::string link = folder + "/" + entry.name;
        resolved = realpath(link.c_str(), path) != nullptr ? path : link;
    }
    for (const AdapterStatistic &statistic : kAdapterStatistics) {
        DWORD identifier = statistic.identifier;
        uint32_t value = 0;
        DWORD returned = 0;
        const BOOL answered =
            DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &identifier, sizeof identifier,
                            &value, sizeof value, &returned, nullptr);
        const DWORD failure = answered ? ERROR_SUCCESS : GetLastError();
        std::string line = indent + IdentifierText(statistic.identifier) + "  " + statistic.name;
        line.resize(indent.size() + 10 + 2 + 20 + 2, ' ');
        line += statistic.columnName;
        line.resize(line.size() + 2 + 34 - std::strlen(statistic.columnName), ' ');
        const std::string shown = answered ? std::to_string(value) : "fails";
        line += std::string(10 - std::min<size_t>(10, shown.size()), ' ') + shown;
        std::string source = simulated ? "" : nt::DescribeInterfaceSource(resolved, identifier);
        if (!answered) {
            const std::string why = QueryFailure(failure, simulated);
            source = source.empty() ? why : source + " (" + why + ")";
        }
        if (!source.empty()) {
            line += "  " + source;
        }
        context.out << line << "\n";
    }
    CloseHandle(device);
}

int List(Context &context, const Args &args) {
    VerbArgs parsed;
    const int status =
        ParseVerbArgs(context, "list", kListHelp, args, {{"--sources", false}}, &parsed);
    if (status >= 0) {
        return status;
    }
    if (!parsed.positional.empty()) {
        return Usage(context, "device list", "unexpected argument '" + parsed.positional[0] + "'");
    }
    const bool sources = parsed.options.count("--sources") != 0;
    std::string folder;
    if (const int refused = DeviceFolder(context, &folder)) {
        return refused;
    }
    std::vector<DeviceEntry> entries;
    std::string error;
    if (!ListDeviceEntries(folder, &entries, &error)) {
        return Fail(context, error);
    }
    if (entries.empty()) {
        context.out << "No devices in " << folder << ".\n";
        return kSuccess;
    }
    size_t width = std::strlen("NAME");
    size_t probed = 0;
    for (const DeviceEntry &entry : entries) {
        width = std::max(width, entry.name.size());
        probed += entry.probed ? 1 : 0;
    }
    context.out << "Devices in " << folder << ":\n";
    const std::string pad(2, ' ');
    context.out << "NAME" << std::string(width - 4, ' ') << pad << "PROBED" << pad << "WHAT\n";
    for (const DeviceEntry &entry : entries) {
        context.out << entry.name << std::string(width - entry.name.size(), ' ') << pad
                    << (entry.probed ? "yes   " : "no    ") << pad << DescribeDeviceEntry(entry)
                    << "\n";
        if (sources && (entry.kind == DeviceEntry::Kind::kSimulated ||
                        entry.kind == DeviceEntry::Kind::kInterface)) {
            PrintSources(context, entry, folder);
        }
    }
    context.out << entries.size() << (entries.size() == 1 ? " entry" : " entries") << ", " << probed
                << " of them probed by the agents.\n";
    return kSuccess;
}

struct Verb {
    const char *name;
    int (*run)(Context &, const Args &);
    const char *summary;
};

const Verb kVerbs[] = {
    {"list", List, "list the entries of Device and what each one is"},
    {"link", RunDeviceLink, "link a kernel device name to a network interface"},
    {"sim", RunDeviceSim, "make a simulated adapter, or change its counters"},
    {"remove", RunDeviceRemove, "remove an entry (a link or a simulated adapter)"},
};

void PrintHelp(Context &context) {
    context.out << "Usage: ntroot device VERB [ARGUMENTS] [--root DIR]\n"
                   "\n"
                   "Looks after the root's kernel device namespace, the Device folder: entry\n"
                   "Device/X is the device \\Device\\X that the agents open. They probe 27\n"
                   "names, Vxlnk1..9, Vxpci1..9 and Vxpci_1..9 (in any case), once, when the\n"
                   "SNMP service starts: restart it to serve an adapter made or removed\n"
                   "since. A simulated adapter's counters are read at every query.\n"
                   "\n";
    for (const Verb &verb : kVerbs) {
        context.out << "  " << verb.name << std::string(8 - std::strlen(verb.name), ' ')
                    << verb.summary << "\n";
    }
    context.out << "\nRun 'ntroot device VERB --help' for what a verb takes.\n";
}

}  // namespace

int ParseVerbArgs(Context &context, const char *verb, const char *help, const Args &args,
                  const std::vector<VerbOption> &options, VerbArgs *parsed) {
    const std::string command = std::string("device ") + verb;
    for (size_t i = 0; i < args.size();) {
        std::string error;
        if (TakeRootOption(args, &i, &error)) {
            if (!error.empty()) {
                return Usage(context, command, error);
            }
            continue;
        }
        const std::string &arg = args[i];
        if (IsHelp(arg)) {
            context.out << help;
            return kSuccess;
        }
        if (arg.empty() || arg[0] != '-') {
            parsed->positional.push_back(arg);
            ++i;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&name](const VerbOption &o) { return name == o.name; });
        if (option == options.end()) {
            return Usage(context, command, "unknown option '" + name + "'");
        }
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                return Usage(context, command, name + " takes no value");
            }
            parsed->options[name] = "";
            ++i;
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            ++i;
        } else if (i + 1 < args.size()) {
            value = args[i + 1];
            i += 2;
        } else {
            return Usage(context, command, name + " needs a value");
        }
        if (value.empty()) {
            return Usage(context, command, name + " needs a value");
        }
        parsed->options[name] = value;
    }
    return -1;
}

int DeviceFolder(Context &context, std::string *folder) {
    const std::string root = RootFolder();
    if (const int status = RequireRoot(context, root)) {
        return status;
    }
    *folder = root + "/Device";
    struct stat info;
    if (stat(folder->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return Fail(context, "the NT root at " + root +
                                 " has no Device folder; run 'ntroot init' to complete it");
    }
    return kSuccess;
}

void WarnIfNotProbed(Context &context, const std::string &name) {
    if (!IsProbedDeviceName(name)) {
        context.err << "ntroot: warning: no agent probes \\Device\\" << name
                    << ", so none will see it; they open only Vxlnk1..9, Vxpci1..9 and "
                       "Vxpci_1..9\n";
    }
}

int RunDevice(Context &context, const Args &args) {
    size_t i = 0;
    if (std::string error; !cli::TakeRootOptions(args, &i, &error)) {
        return Usage(context, "device", error);
    }
    if (i == args.size()) {
        return Usage(context, "device", "no verb given");
    }
    if (IsHelp(args[i])) {
        PrintHelp(context);
        return kSuccess;
    }
    const Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
    for (const Verb &verb : kVerbs) {
        if (args[i] == verb.name) {
            return verb.run(context, rest);
        }
    }
    return Usage(context, "device", "unknown verb '" + args[i] + "'");
}

}  // namespace ntroot

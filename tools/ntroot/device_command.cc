// ntroot device: the root's kernel device namespace, the Device folder.
//
// Each verb is one row of kVerbs; the verbs that make and remove entries
// (link, sim, remove) join the table beside list.
#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "command.h"
#include "device_entries.h"
#include "ntroot.h"

namespace ntroot {

namespace {

const char kListHelp[] =
    "Usage: ntroot device list [--root DIR]\n"
    "\n"
    "Lists the entries of the root's Device folder: each one's name, whether it\n"
    "is one of the 27 kernel device names the agents probe (Vxlnk1..9,\n"
    "Vxpci1..9, Vxpci_1..9), and what it is: a simulated adapter file with the\n"
    "number of statistics it lists, a link to an interface folder with its\n"
    "target, or something the agents cannot open as an adapter.\n";

int List(Context &context, const Args &args) {
    for (size_t i = 0; i < args.size();) {
        std::string error;
        if (TakeRootOption(args, &i, &error)) {
            if (!error.empty()) {
                return Usage(context, "device list", error);
            }
            continue;
        }
        if (IsHelp(args[i])) {
            context.out << kListHelp;
            return kSuccess;
        }
        return Usage(context, "device list", "unexpected argument '" + args[i] + "'");
    }
    const std::string root = RootFolder();
    if (const int status = CheckRoot(context, root)) {
        return status;
    }
    const std::string folder = root + "/Device";
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return Fail(context, "the NT root at " + root +
                                 " has no Device folder; run 'ntroot init' to complete it");
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
    }
    context.out << entries.size() << (entries.size() == 1 ? " entry" : " entries") << ", "
                << probed << " of them probed by the agents.\n";
    return kSuccess;
}

struct Verb {
    const char *name;
    int (*run)(Context &, const Args &);
    const char *summary;
};

const Verb kVerbs[] = {
    {"list", List, "list the entries of Device and what each one is"},
};

void PrintHelp(Context &context) {
    context.out << "Usage: ntroot device VERB [ARGUMENTS] [--root DIR]\n"
                   "\n"
                   "Looks after the root's kernel device namespace, the Device folder: entry\n"
                   "Device/X is the device \\Device\\X that the agents open.\n"
                   "\n";
    for (const Verb &verb : kVerbs) {
        context.out << "  " << verb.name << std::string(8 - std::strlen(verb.name), ' ')
                    << verb.summary << "\n";
    }
    context.out << "\nRun 'ntroot device VERB --help' for what a verb takes.\n";
}

}  // namespace

int RunDevice(Context &context, const Args &args) {
    size_t i = 0;
    while (i < args.size()) {
        std::string error;
        if (!TakeRootOption(args, &i, &error)) {
            break;
        }
        if (!error.empty()) {
            return Usage(context, "device", error);
        }
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

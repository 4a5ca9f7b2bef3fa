// The verbs of `ntroot device`, and what they share: their argument
// parsing and the root's Device folder. device_command.cc holds the table of
// verbs and `list`; device_change.cc the verbs that make, change and remove
// entries.
#ifndef TOOLS_NTROOT_DEVICE_VERBS_H
#define TOOLS_NTROOT_DEVICE_VERBS_H

#include <map>
#include <string>
#include <vector>

#include "command.h"

namespace ntroot {

struct VerbOption {
    const char *name;  // "--sources"
    bool takesValue;   // "--net-dir DIR" or "--net-dir=DIR"
};

struct VerbArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // given options, by name ("" when valueless)
};

// Parses the arguments of `ntroot device VERB`: --root DIR anywhere, the
// verb's options, --help (prints help and succeeds). A word starting with
// '-' that is none of these is refused. Returns -1 when the verb is to go
// on with *parsed, else the exit status to return (the help was printed, or
// one usage line).
int ParseVerbArgs(Context &context, const char *verb, const char *help, const Args &args,
                  const std::vector<VerbOption> &options, VerbArgs *parsed);

// The root's Device folder, once the root is checked: kSuccess with
// *folder, else the refusal printed and its status.
int DeviceFolder(Context &context, std::string *folder);

// Prints the warning for an entry the agents never open.
void WarnIfNotProbed(Context &context, const std::string &name);

int RunDeviceLink(Context &context, const Args &args);
int RunDeviceSim(Context &context, const Args &args);
int RunDeviceRemove(Context &context, const Args &args);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_DEVICE_VERBS_H

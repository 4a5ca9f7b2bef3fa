// What ntroot's commands share: their streams, refusals, the root option
// and the check that a root is there.
#ifndef TOOLS_NTROOT_COMMAND_H
#define TOOLS_NTROOT_COMMAND_H

#include <ostream>
#include <string>
#include <vector>

#include "nt/wintypes.h"

namespace ntroot {

struct Context {
    std::ostream &out;
    std::ostream &err;
};

using Args = std::vector<std::string>;

// Prints "ntroot: message" on err; returns kFailure.
int Fail(Context &context, const std::string &message);

// Prints "ntroot COMMAND: message (see 'ntroot COMMAND --help')" on err;
// returns kUsage.
int Usage(Context &context, const std::string &command, const std::string &message);

// --help, -h or /?.
bool IsHelp(const std::string &arg);

// When args[*i] is "--root DIR" or "--root=DIR", makes DIR the root of this
// process ($NTROOT), moves *i past it and returns true; *error is set when
// the option is malformed.
bool TakeRootOption(const Args &args, size_t *i, std::string *error);

// The root this run acts on (absolute).
std::string RootFolder();

// kSuccess when root holds an NT root that can be trusted
// (nt::CheckRoot); else its one line, and kFailure.
int RequireRoot(Context &context, const std::string &root);

// The commands.
int RunInit(Context &context, const Args &args);
int RunReg(Context &context, const Args &args);
int RunDevice(Context &context, const Args &args);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_COMMAND_H

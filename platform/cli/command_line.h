// What the command-line tools (ntroot, snmpsvc, NET, agentwalk) share: the
// root option, help, usage errors, a verb table and the exit statuses.
//
// Every tool exits 0 on success, 1 when a command it understood failed and
// 2 when its command line was wrong; NET alone keeps NT's own statuses (1 a
// wrong command line, 2 a failure) and says so in its help. A usage error
// is one line on standard error: "TOOL: what is wrong (see 'TOOL --help')".
#ifndef PLATFORM_CLI_COMMAND_LINE_H
#define PLATFORM_CLI_COMMAND_LINE_H

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;  // the command was understood and failed
constexpr int kUsage = 2;    // wrong arguments

using Args = std::vector<std::string>;

// --help, -h or /?.
bool IsHelp(const std::string &arg);

// Prints "COMMAND: text (see 'COMMAND --help')" on err and returns kUsage.
// COMMAND is the tool's name, or the tool's name and a verb ("ntroot reg").
int UsageError(std::ostream &err, const std::string &command, const std::string &text);

// Prints "TOOL: text" on err and returns kFailure.
int Failure(std::ostream &err, const std::string &tool, const std::string &text);

// The root option, "--root DIR" or "--root=DIR", which every tool takes.
enum class RootOption {
    NotThere,   // args[*i] is something else
    Taken,      // DIR is the root of this process from now on ($NTROOT)
    Malformed,  // *error says what is wrong
};

// Looks at args[*i]; on Taken and Malformed moves *i past the option. DIR
// is made absolute, so the root stays the same folder when the tool or a
// program it starts changes its working folder.
RootOption TakeRootOption(const Args &args, size_t *i, std::string *error);

// Takes every root option at args[*i] onwards, stopping at the first
// other argument. False with *error at a malformed one.
bool TakeRootOptions(const Args &args, size_t *i, std::string *error);

// The root this process acts on: --root, else $NTROOT, else ~/.ntroot.
std::string RootFolder();

// One verb of a tool, and what runs it with the arguments after it.
struct Verb {
    const char *name;
    std::function<int(const Args &)> run;
};

// The verb called name (without regard to case when ignoreCase, as NT's
// own tools read their verbs); nullptr when there is none.
const Verb *FindVerb(const std::vector<Verb> &verbs, const std::string &name,
                     bool ignoreCase = false);

}  // namespace cli

#endif  // PLATFORM_CLI_COMMAND_LINE_H

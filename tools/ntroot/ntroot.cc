// ntroot's command line: the verbs, the root option, the shared refusals.
#include "ntroot.h"

#include "command.h"
#include "command_line.h"
#include "nt/ntroot.h"

namespace ntroot {

namespace {

const char kHelp[] =
    "Usage: ntroot [--root DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Makes an NT root and looks after what is in it. An NT root is the folder\n"
    "that holds a machine's NT state: the registry (registry.db), %SystemRoot%\n"
    "(Windows, with the system directory Windows/System32), the kernel device\n"
    "namespace (Device) and service state (run). The root is $NTROOT, else\n"
    "~/.ntroot; --root DIR names another one, for any command.\n"
    "\n"
    "Commands:\n"
    "  init                        make a fresh NT root, or complete one\n"
    "  reg query|add|delete ...    read and write the registry, as NT's reg does\n"
    "  device list|link|sim|remove list the kernel devices in Device, link one to\n"
    "                              a network interface, make or change a simulated\n"
    "                              adapter, remove one\n"
    "\n"
    "Run 'ntroot COMMAND --help' for what a command takes.\n"
    "Exit status: 0 when the command succeeded, 1 when it failed, 2 when its\n"
    "arguments were wrong.\n";

}  // namespace

int Fail(Context &context, const std::string &message) {
    return cli::Failure(context.err, "ntroot", message);
}

int Usage(Context &context, const std::string &command, const std::string &message) {
    return cli::UsageError(context.err, "ntroot " + command, message);
}

bool IsHelp(const std::string &arg) { return cli::IsHelp(arg); }

bool TakeRootOption(const Args &args, size_t *i, std::string *error) {
    return cli::TakeRootOption(args, i, error) != cli::RootOption::NotThere;
}

std::string RootFolder() { return cli::RootFolder(); }

int RequireRoot(Context &context, const std::string &root) {
    std::string problem;
    return nt::CheckRoot(root, true, &problem) ? kSuccess : Fail(context, problem);
}

int Run(const Args &args, std::ostream &out, std::ostream &err) {
    Context context{out, err};
    size_t i = 0;
    if (std::string error; !cli::TakeRootOptions(args, &i, &error)) {
        return cli::UsageError(err, "ntroot", error);
    }
    if (i == args.size()) {
        return cli::UsageError(err, "ntroot", "no command given");
    }
    const std::string &verb = args[i];
    const Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
    if (cli::IsHelp(verb) || verb == "help") {
        out << kHelp;
        return kSuccess;
    }
    const std::vector<cli::Verb> verbs = {
        {"init", [&](const Args &a) { return RunInit(context, a); }},
        {"reg", [&](const Args &a) { return RunReg(context, a); }},
        {"device", [&](const Args &a) { return RunDevice(context, a); }},
    };
    if (const cli::Verb *command = cli::FindVerb(verbs, verb)) {
        return command->run(rest);
    }
    if (verb.size() > 1 && verb[0] == '-') {
        return cli::UsageError(err, "ntroot", "unknown option " + verb);
    }
    return cli::UsageError(err, "ntroot", "unknown command '" + verb + "'");
}

}  // namespace ntroot

// ntroot's command line: the verbs, the root option, the shared refusals.
#include "ntroot.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "command.h"
#include "nt/ntroot.h"
#include "nt/registry.h"
#include "nt/win32.h"

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
    context.err << "ntroot: " << message << "\n";
    return kFailure;
}

int Usage(Context &context, const std::string &command, const std::string &message) {
    context.err << "ntroot " << command << ": " << message << " (see 'ntroot " << command
                << " --help')\n";
    return kUsage;
}

bool IsHelp(const std::string &arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

bool TakeRootOption(const Args &args, size_t *i, std::string *error) {
    const std::string &arg = args[*i];
    std::string folder;
    if (arg == "--root") {
        if (*i + 1 >= args.size()) {
            *error = "--root needs a folder";
            return true;
        }
        folder = args[*i + 1];
        *i += 2;
    } else if (arg.compare(0, 7, "--root=") == 0) {
        folder = arg.substr(7);
        *i += 1;
    } else {
        return false;
    }
    if (folder.empty()) {
        *error = "--root needs a folder";
    } else {
        setenv("NTROOT", folder.c_str(), 1);
    }
    return true;
}

std::string RootFolder() { return nt::RootPath(); }

int CheckRoot(Context &context, const std::string &root) {
    struct stat info;
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return Fail(context, "no NT root at " + root + "; run 'ntroot init'");
    }
    const std::string registry = nt::RegistryFilePath(root);
    if (stat(registry.c_str(), &info) != 0) {
        return Fail(context, "no NT root at " + root + " (it has no registry.db); run 'ntroot init'");
    }
    std::string problem;
    if (!nt::CheckRootOwnership(root, &problem)) {
        return Fail(context, problem);
    }
    return kSuccess;
}

std::string Win32ErrorText(DWORD code) {
    const char *text;
    switch (code) {
        case ERROR_SUCCESS: text = "the operation completed successfully"; break;
        case ERROR_FILE_NOT_FOUND: text = "not found"; break;
        case ERROR_PATH_NOT_FOUND: text = "path not found"; break;
        case ERROR_ACCESS_DENIED: text = "access denied"; break;
        case ERROR_INVALID_HANDLE: text = "invalid handle"; break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: text = "not enough memory"; break;
        case ERROR_INVALID_PARAMETER: text = "invalid name or parameter"; break;
        case ERROR_BUSY: text = "the registry is locked by another process; try again"; break;
        case ERROR_BADDB: text = "registry.db is damaged or is not a registry"; break;
        case ERROR_CANTOPEN: text = "the registry cannot be opened"; break;
        case ERROR_REGISTRY_IO_FAILED: text = "reading or writing registry.db failed"; break;
        case ERROR_KEY_DELETED: text = "the key was deleted meanwhile"; break;
        default: text = "failed"; break;
    }
    return std::string(text) + " (Win32 error " + std::to_string(code) + ")";
}

int Run(const Args &args, std::ostream &out, std::ostream &err) {
    Context context{out, err};
    size_t i = 0;
    while (i < args.size()) {
        std::string error;
        if (TakeRootOption(args, &i, &error)) {
            if (!error.empty()) {
                err << "ntroot: " << error << " (see 'ntroot --help')\n";
                return kUsage;
            }
            continue;
        }
        break;
    }
    if (i == args.size()) {
        err << "ntroot: no command given (see 'ntroot --help')\n";
        return kUsage;
    }
    const std::string &verb = args[i];
    const Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
    if (IsHelp(verb) || verb == "help") {
        out << kHelp;
        return kSuccess;
    }
    if (verb == "init") {
        return RunInit(context, rest);
    }
    if (verb == "reg") {
        return RunReg(context, rest);
    }
    if (verb == "device") {
        return RunDevice(context, rest);
    }
    err << "ntroot: unknown command '" << verb << "' (see 'ntroot --help')\n";
    return kUsage;
}

}  // namespace ntroot

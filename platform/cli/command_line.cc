// The tools' shared command line; see command_line.h.
#include "command_line.h"

#include <cstdlib>
#include <strings.h>
#include <unistd.h>

#include "nt/ntroot.h"

namespace cli {

bool IsHelp(const std::string &arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

int UsageError(std::ostream &err, const std::string &command, const std::string &text) {
    err << command << ": " << text << " (see '" << command << " --help')\n";
    return kUsage;
}

int Failure(std::ostream &err, const std::string &tool, const std::string &text) {
    err << tool << ": " << text << "\n";
    return kFailure;
}

namespace {

std::string Absolute(const std::string &path) {
    if (path[0] == '/') {
        return path;
    }
    char *cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return path;
    }
    std::string whole = std::string(cwd) + "/" + path;
    std::free(cwd);
    return whole;
}

}  // namespace

RootOption TakeRootOption(const Args &args, size_t *i, std::string *error) {
    const std::string &arg = args[*i];
    std::string folder;
    if (arg == "--root") {
        if (*i + 1 >= args.size()) {
            *error = "--root needs a folder";
            *i += 1;
            return RootOption::Malformed;
        }
        folder = args[*i + 1];
        *i += 2;
    } else if (arg.compare(0, 7, "--root=") == 0) {
        folder = arg.substr(7);
        *i += 1;
    } else {
        return RootOption::NotThere;
    }
    if (folder.empty()) {
        *error = "--root needs a folder";
        return RootOption::Malformed;
    }
    setenv("NTROOT", Absolute(folder).c_str(), 1);
    return RootOption::Taken;
}

bool TakeRootOptions(const Args &args, size_t *i, std::string *error) {
    while (*i < args.size()) {
        switch (TakeRootOption(args, i, error)) {
            case RootOption::Malformed: return false;
            case RootOption::Taken: break;
            case RootOption::NotThere: return true;
        }
    }
    return true;
}

std::string RootFolder() { return nt::RootPath(); }

const Verb *FindVerb(const std::vector<Verb> &verbs, const std::string &name, bool ignoreCase) {
    for (const Verb &verb : verbs) {
        if (ignoreCase ? strcasecmp(verb.name, name.c_str()) == 0 : name == verb.name) {
            return &verb;
        }
    }
    return nullptr;
}

}  // namespace cli

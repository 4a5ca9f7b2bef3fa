// ntroot init: makes a fresh NT root, or completes one and keeps what is in it.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "command.h"
#include "ntroot.h"
#include "nt/error_text.h"
#include "nt/ntroot.h"
#include "nt/registry.h"

namespace ntroot {

namespace {

const char kHelp[] =
    "Usage: ntroot init [--root DIR]\n"
    "\n"
    "Makes a fresh NT root at $NTROOT (or DIR): the registry (registry.db, with\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE and HKEY_LOCAL_MACHINE\\SYSTEM), Windows,\n"
    "Windows/System32, Device and run. On an existing root it adds only what\n"
    "is missing and keeps every key, value and file there.\n";

// The folders of a root, parents first.
const char *const kFolders[] = {"Windows", "Windows/System32", "Device", "run"};

// Makes folder path unless it is there; *made tells which. False with
// *error when it cannot be made or something else is in its place.
bool MakeFolder(const std::string &path, bool *made, std::string *error) {
    *made = false;
    if (mkdir(path.c_str(), 0755) == 0) {
        *made = true;
        return true;
    }
    const int mkdirError = errno;
    struct stat info;
    if (mkdirError == EEXIST && stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return true;
        }
        *error = path + " exists and is not a folder; move it away and run 'ntroot init' again";
        return false;
    }
    *error = "cannot make " + path + ": " + std::strerror(mkdirError);
    return false;
}

// Makes path and every missing folder above it.
bool MakeFolders(const std::string &path, bool *made, std::string *error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        bool parentMade = false;
        if (!MakeFolder(path.substr(0, slash), &parentMade, error)) {
            return false;
        }
    }
    return MakeFolder(path, made, error);
}

}  // namespace

int RunInit(Context &context, const Args &args) {
    for (size_t i = 0; i < args.size();) {
        std::string error;
        if (TakeRootOption(args, &i, &error)) {
            if (!error.empty()) {
                return Usage(context, "init", error);
            }
            continue;
        }
        if (IsHelp(args[i])) {
            context.out << kHelp;
            return kSuccess;
        }
        return Usage(context, "init", "unexpected argument '" + args[i] + "'");
    }
    const std::string root = RootFolder();
    std::string error;
    bool rootMade = false;
    if (!MakeFolders(root, &rootMade, &error)) {
        return Fail(context, error);
    }
    // Nothing is added to a root that someone else could change.
    if (!nt::CheckRootOwnership(root, &error)) {
        return Fail(context, error);
    }
    std::vector<std::string> added;
    bool registryMade = false;
    const DWORD code = nt::CreateRegistryDatabase(root, &registryMade);
    if (code != ERROR_SUCCESS) {
        return Fail(context, "cannot make the registry " + nt::RegistryFilePath(root) + ": " +
                                 nt::ErrorText(code));
    }
    if (registryMade) {
        added.push_back("registry.db");
    }
    for (const char *folder : kFolders) {
        bool made = false;
        if (!MakeFolder(root + "/" + folder, &made, &error)) {
            return Fail(context, error);
        }
        if (made) {
            added.push_back(folder);
        }
    }
    if (rootMade || added.size() == 1 + sizeof kFolders / sizeof kFolders[0]) {
        context.out << "Made a new NT root at " << root << ".\n";
        return kSuccess;
    }
    context.out << "An NT root is already at " << root << "; everything in it was kept.\n";
    if (added.empty()) {
        context.out << "Nothing was missing.\n";
    } else {
        context.out << "Added what was missing:";
        for (size_t i = 0; i < added.size(); ++i) {
            context.out << (i == 0 ? " " : ", ") << added[i];
        }
        context.out << ".\n";
    }
    return kSuccess;
}

}  // namespace ntroot

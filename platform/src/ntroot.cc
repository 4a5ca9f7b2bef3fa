// Where the NT root is; see nt/ntroot.h.
#include "nt/ntroot.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace nt {

std::string RootPath() {
    std::string root;
    const char *configured = std::getenv("NTROOT");
    if (configured != nullptr && configured[0] != '\0') {
        root = configured;
    } else {
        const char *home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const struct passwd *user = getpwuid(getuid());
            home = user != nullptr ? user->pw_dir : "/";
        }
        root = std::string(home) + "/.ntroot";
    }
    if (root[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) {
            root = std::string(cwd) + "/" + root;
        }
    }
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

std::string DeviceFilePath(const std::string &name) { return RootPath() + "/Device/" + name; }

}  // namespace nt

// Win32 paths on Linux; see paths.h.
#include "paths.h"

#include "nt/ntroot.h"

namespace nt {

std::string LinuxPath(const std::string &path) {
    std::string result(path);
    for (char &c : result) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result;
}

std::string DirectoryOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WindowsDirectoryPath() { return RootPath() + "/Windows"; }

std::string SystemDirectoryPath() { return WindowsDirectoryPath() + "/System32"; }

}  // namespace nt

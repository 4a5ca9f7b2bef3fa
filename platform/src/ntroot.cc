// Where the NT root is, whether it can be trusted, and the temporaries that
// writers leave beside the files they replace; see nt/ntroot.h.
#include "nt/ntroot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
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

// ---- Trust in a root -------------------------------------------------------

namespace {

// The folders of a root that decide what runs and what is written where.
const char *const kTrustedFolders[] = {"run", "snmp", "Device", "Windows", "Windows/System32"};

std::string UserName(uid_t uid) {
    char buffer[4096];
    struct passwd entry;
    struct passwd *found = nullptr;
    std::string name;
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        name = std::string("user ") + found->pw_name + " ";
    }
    return name + "(uid " + std::to_string(uid) + ")";
}

bool CheckStatus(const struct stat &info, const std::string &path, std::string *problem) {
    const uid_t self = geteuid();
    if (info.st_uid != self && info.st_uid != 0) {
        *problem = path + " belongs to " + UserName(info.st_uid) + ", not to " + UserName(self) +
                   "; an NT root must be its owner's alone";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        *problem = path + " can be written by " +
                   ((info.st_mode & S_IWOTH) != 0 ? "other users" : "its group") + " (mode " +
                   mode + "); an NT root must be its owner's alone: chmod go-w " + path;
        return false;
    }
    return true;
}

// The test for one path; a path that is not there passes.
bool CheckPath(const std::string &path, std::string *problem) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return true;
        }
        *problem = "cannot examine " + path + ": " + std::strerror(errno);
        return false;
    }
    return CheckStatus(info, path, problem);
}

}  // namespace

bool CheckRootOwnership(const std::string &root, std::string *problem) {
    if (!CheckPath(root, problem)) {
        return false;
    }
    for (const char *folder : kTrustedFolders) {
        if (!CheckPath(root + "/" + folder, problem)) {
            return false;
        }
    }
    return CheckPath(root + "/registry.db", problem);
}

bool CheckOpenOwnership(int fd, const std::string &path, std::string *problem) {
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *problem = "cannot examine " + path + ": " + std::strerror(errno);
        return false;
    }
    return CheckStatus(info, path, problem);
}

bool CheckRoot(const std::string &root, bool needRegistry, std::string *problem) {
    struct stat info;
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *problem = "no NT root at " + root + "; run 'ntroot init'";
        return false;
    }
    if (needRegistry && stat((root + "/registry.db").c_str(), &info) != 0) {
        *problem = "no NT root at " + root + " (it has no registry.db); run 'ntroot init'";
        return false;
    }
    return CheckRootOwnership(root, problem);
}

// ---- Temporaries -----------------------------------------------------------

namespace {

const char kTemporaryLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kTemporaryTail = 6;

std::string RandomTail() {
    unsigned char bytes[kTemporaryTail];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        for (unsigned char &byte : bytes) {
            byte = static_cast<unsigned char>(std::rand());
        }
    }
    std::string tail;
    for (unsigned char byte : bytes) {
        tail += kTemporaryLetters[byte % (sizeof kTemporaryLetters - 1)];
    }
    return tail;
}

bool EndsWith(const std::string &text, size_t end, const std::string &suffix) {
    return end >= suffix.size() && text.compare(end - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool IsReplacementTemporary(const std::string &name) {
    if (name.size() < 2 || name[0] != '.') {
        return false;
    }
    const size_t dash = name.rfind('-');
    if (dash == std::string::npos || name.size() - dash - 1 != kTemporaryTail) {
        return false;
    }
    for (size_t i = dash + 1; i < name.size(); ++i) {
        if (std::strchr(kTemporaryLetters, name[i]) == nullptr) {
            return false;
        }
    }
    for (const char *suffix : {".copy", ".ntroot"}) {
        const std::string ending(suffix);
        // At least one character of the replaced file's name before it.
        if (EndsWith(name, dash, ending) && dash > ending.size() + 1) {
            return true;
        }
    }
    return false;
}

int CreateReplacementTemporary(int dirfd, const std::string &name, const char *suffix,
                               std::string *temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = "." + name + "." + suffix + "-" + RandomTail();
        const int fd = openat(dirfd, temporary->c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // A cleaner that took the lock first has removed the entry: it
        // took the new file for a dead writer's. Start again.
        struct stat info;
        if (fstat(fd, &info) == 0 && info.st_nlink > 0) {
            return fd;
        }
        close(fd);
    }
    errno = EEXIST;
    return -1;
}

int RemoveStaleTemporaries(int dirfd) {
    const int listing = fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) {
        return 0;
    }
    DIR *dir = fdopendir(listing);
    if (dir == nullptr) {
        close(listing);
        return 0;
    }
    rewinddir(dir);
    int removed = 0;
    while (const struct dirent *item = readdir(dir)) {
        const std::string name = item->d_name;
        if (!IsReplacementTemporary(name)) {
            continue;
        }
        const int fd = openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;  // a link or something unreadable: not a writer's
        }
        struct stat held, named;
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(dirfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
            unlinkat(dirfd, name.c_str(), 0) == 0) {
            ++removed;
        }
        close(fd);  // and with it the lock
    }
    closedir(dir);
    return removed;
}

}  // namespace nt

// Service state files; see service_state.h.
#include "service_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nt/ntroot.h"

namespace svcstate {

namespace {

std::string ErrnoText(const std::string &what, int err) {
    return what + ": " +
           (err == EINVAL  ? "not a regular file"
            : err == ELOOP ? "a symbolic link"
                           : std::strerror(err));
}

// The pid in the pid file, or 0 when it is missing or holds anything else.
pid_t ReadPidFile(int folder, const std::string &name) {
    const int fd = OpenRegularAt(folder, name, O_RDONLY, 0);
    if (fd < 0) {
        return 0;
    }
    char text[32];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) {
        return 0;
    }
    text[got] = '\0';
    long pid = 0;
    int used = 0;
    if (std::sscanf(text, "%ld\n%n", &pid, &used) != 1 || used != got || pid <= 0) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

// The process that holds a write lock on fd's file, or 0.
pid_t LockHolder(int fd) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) {
        return 0;
    }
    return probe.l_pid;
}

}  // namespace

ServiceFiles FilesOf(const std::string &root, const std::string &name) {
    const std::string folder = root + "/run";
    const std::string base = folder + "/" + name;
    return {folder, name, base + ".lock", base + ".pid", base + ".log"};
}

int OpenRunFolder(const ServiceFiles &files, bool create, std::string *error) {
    if (create && mkdir(files.folder.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = ErrnoText("cannot make " + files.folder, errno);
        return -1;
    }
    const int fd = open(files.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = ErrnoText("cannot open " + files.folder, errno);
        return -1;
    }
    if (!nt::CheckOpenOwnership(fd, files.folder, error)) {
        close(fd);
        return -1;
    }
    return fd;
}

int OpenRegularAt(int dirfd, const std::string &name, int flags, mode_t mode) {
    const int fd = openat(dirfd, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    if ((flags & O_NONBLOCK) == 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

Status QueryService(const ServiceFiles &files) {
    Status status;
    const int folder = open(files.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return status;
    }
    const int fd = OpenRegularAt(folder, files.name + ".lock", O_RDONLY, 0);
    const pid_t holder = fd >= 0 ? LockHolder(fd) : 0;
    if (fd >= 0) {
        close(fd);
    }
    if (holder != 0) {
        status.pid = holder;
        status.state =
            ReadPidFile(folder, files.name + ".pid") == holder ? State::Running : State::Starting;
    }
    close(folder);
    return status;
}

std::unique_ptr<ServiceLease> ServiceLease::Acquire(const ServiceFiles &files, std::string *error) {
    const int folder = OpenRunFolder(files, true, error);
    if (folder < 0) {
        return nullptr;
    }
    const int fd = OpenRegularAt(folder, files.name + ".lock", O_RDWR | O_CREAT, 0600);
    if (fd < 0) {
        *error = ErrnoText("cannot open " + files.lock, errno);
        close(folder);
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == geteuid()) {
        fchmod(fd, 0600);  // a lock file made before it was kept private
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        const int err = errno;
        const pid_t holder = (err == EAGAIN || err == EACCES) ? LockHolder(fd) : 0;
        close(fd);
        close(folder);
        if (err == EAGAIN || err == EACCES) {
            *error = "the service is already running" +
                     (holder != 0 ? " (pid " + std::to_string(holder) + ")" : std::string());
        } else {
            *error = ErrnoText("cannot lock " + files.lock, err);
        }
        return nullptr;
    }
    return std::unique_ptr<ServiceLease>(new ServiceLease(files, folder, fd));
}

std::unique_ptr<ServiceLease> ServiceLease::Adopt(const ServiceFiles &files, int inheritedFd,
                                                  std::string *error) {
    struct stat held;
    struct stat named;
    if (inheritedFd < 0 || fstat(inheritedFd, &held) != 0 ||
        lstat(files.lock.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        return Acquire(files, error);
    }
    fcntl(inheritedFd, F_SETFD, FD_CLOEXEC);
    const int folder = OpenRunFolder(files, false, error);
    if (folder < 0) {
        return nullptr;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(inheritedFd, F_SETLK, &lock) != 0) {  // ours already: this cannot wait
        *error = ErrnoText("cannot lock " + files.lock, errno);
        close(folder);
        return nullptr;
    }
    std::unique_ptr<ServiceLease> lease(new ServiceLease(files, folder, inheritedFd));
    lease->published_ = true;  // the pid file names this process still
    return lease;
}

int ServiceLease::KeepAcrossExec() {
    const int flags = fcntl(lockFd_, F_GETFD);
    if (flags < 0 || fcntl(lockFd_, F_SETFD, flags & ~FD_CLOEXEC) != 0) {
        return -1;
    }
    return lockFd_;
}

ServiceLease::ServiceLease(ServiceFiles files, int folderFd, int lockFd)
    : files_(std::move(files)), folderFd_(folderFd), lockFd_(lockFd) {}

ServiceLease::~ServiceLease() {
    if (published_) {
        unlinkat(folderFd_, (files_.name + ".pid").c_str(), 0);
    }
    close(lockFd_);  // drops the lock
    close(folderFd_);
}

bool ServiceLease::Publish(std::string *error) {
    const std::string text = std::to_string(getpid()) + "\n";
    // Only the lock holder writes here, and its pid names the temporary:
    // one of that name is a dead holder's, left by a kill.
    const std::string temporary = "." + files_.name + ".pid." + std::to_string(getpid());
    unlinkat(folderFd_, temporary.c_str(), 0);
    const int fd = openat(folderFd_, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const std::string shown = files_.folder + "/" + temporary;
    if (fd < 0) {
        *error = ErrnoText("cannot write " + shown, errno);
        return false;
    }
    const ssize_t written = write(fd, text.data(), text.size());
    const int writeErr = errno;
    if (close(fd) != 0 || written != static_cast<ssize_t>(text.size())) {
        unlinkat(folderFd_, temporary.c_str(), 0);
        *error = ErrnoText("cannot write " + shown, written < 0 ? writeErr : EIO);
        return false;
    }
    if (renameat(folderFd_, temporary.c_str(), folderFd_, (files_.name + ".pid").c_str()) != 0) {
        const int err = errno;
        unlinkat(folderFd_, temporary.c_str(), 0);
        *error = ErrnoText("cannot write " + files_.pid, err);
        return false;
    }
    published_ = true;
    return true;
}

}  // namespace svcstate

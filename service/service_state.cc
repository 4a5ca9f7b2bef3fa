// Service state files; see service_state.h.
#include "service_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace svcstate {

namespace {

std::string ErrnoText(const std::string &what, int err) {
    return what + ": " + std::strerror(err);
}

// The pid in a pid file, or 0 when it is missing or holds anything else.
pid_t ReadPidFile(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    const std::string base = root + "/run/" + name;
    return {base + ".lock", base + ".pid", base + ".log"};
}

Status QueryService(const ServiceFiles &files) {
    Status status;
    const int fd = open(files.lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return status;
    }
    const pid_t holder = LockHolder(fd);
    close(fd);
    if (holder == 0) {
        return status;
    }
    status.pid = holder;
    status.state = ReadPidFile(files.pid) == holder ? State::Running : State::Starting;
    return status;
}

std::unique_ptr<ServiceLease> ServiceLease::Acquire(const ServiceFiles &files,
                                                    std::string *error) {
    const int fd = open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = ErrnoText("cannot open " + files.lock, errno);
        return nullptr;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        const int err = errno;
        const pid_t holder = (err == EAGAIN || err == EACCES) ? LockHolder(fd) : 0;
        close(fd);
        if (err == EAGAIN || err == EACCES) {
            *error = "the service is already running" +
                     (holder != 0 ? " (pid " + std::to_string(holder) + ")" : std::string());
        } else {
            *error = ErrnoText("cannot lock " + files.lock, err);
        }
        return nullptr;
    }
    return std::unique_ptr<ServiceLease>(new ServiceLease(files, fd));
}

std::unique_ptr<ServiceLease> ServiceLease::Adopt(const ServiceFiles &files, int inheritedFd,
                                                  std::string *error) {
    struct stat held;
    struct stat named;
    if (inheritedFd < 0 || fstat(inheritedFd, &held) != 0 ||
        stat(files.lock.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        return Acquire(files, error);
    }
    fcntl(inheritedFd, F_SETFD, FD_CLOEXEC);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(inheritedFd, F_SETLK, &lock) != 0) {  // ours already: this cannot wait
        *error = ErrnoText("cannot lock " + files.lock, errno);
        return nullptr;
    }
    std::unique_ptr<ServiceLease> lease(new ServiceLease(files, inheritedFd));
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

ServiceLease::ServiceLease(ServiceFiles files, int lockFd)
    : files_(std::move(files)), lockFd_(lockFd) {}

ServiceLease::~ServiceLease() {
    if (published_) {
        unlink(files_.pid.c_str());
    }
    close(lockFd_);  // drops the lock
}

bool ServiceLease::Publish(std::string *error) {
    const std::string text = std::to_string(getpid()) + "\n";
    const std::string temporary = files_.pid + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = ErrnoText("cannot write " + temporary, errno);
        return false;
    }
    const ssize_t written = write(fd, text.data(), text.size());
    const int writeErr = errno;
    if (close(fd) != 0 || written != static_cast<ssize_t>(text.size())) {
        unlink(temporary.c_str());
        *error = ErrnoText("cannot write " + temporary, written < 0 ? writeErr : EIO);
        return false;
    }
    if (rename(temporary.c_str(), files_.pid.c_str()) != 0) {
        const int err = errno;
        unlink(temporary.c_str());
        *error = ErrnoText("cannot write " + files_.pid, err);
        return false;
    }
    published_ = true;
    return true;
}

}  // namespace svcstate

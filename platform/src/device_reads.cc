// Safe reads of adapters' files; see device_reads.h.
#include "device_reads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace nt {

std::string DescribeFault(const Fault &fault) {
    switch (fault.kind) {
        case Fault::kNone: return "answers";
        case Fault::kVanished: return "vanished";
        case Fault::kUnreadable:
            return std::string("unreadable (") + std::strerror(fault.detail) + ")";
        case Fault::kNotRegularFile: return "not a regular file";
        case Fault::kTooLarge: return "too large";
        case Fault::kMalformed:
            return fault.detail > 0 ? "malformed line " + std::to_string(fault.detail)
                                    : std::string("malformed counter");
        case Fault::kNotInterface: return "no longer an interface";
    }
    return "failing";
}

DWORD FaultError(const Fault &fault) {
    switch (fault.kind) {
        case Fault::kNone: return ERROR_SUCCESS;
        case Fault::kVanished:
        case Fault::kUnreadable:
        case Fault::kNotInterface: return ERROR_DEV_NOT_EXIST;
        case Fault::kMalformed: return ERROR_INVALID_DATA;
        case Fault::kNotRegularFile:
        case Fault::kTooLarge: return ERROR_GEN_FAILURE;
    }
    return ERROR_GEN_FAILURE;
}

Fault FaultFromErrno(int err) {
    if (err == ENOENT || err == ENOTDIR || err == ENODEV || err == ENXIO) {
        return {Fault::kVanished, err};
    }
    return {Fault::kUnreadable, err};
}

Fault KeptFile::Open(const std::string &path) {
    Close();
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        ErrorFromErrno(err, "open", path);
        return FaultFromErrno(err);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int err = errno;
        close(fd);
        return FaultFromErrno(err);
    }
    if (!S_ISREG(info.st_mode)) {
        Trace("%s: not a regular file", path.c_str());
        close(fd);
        return {Fault::kNotRegularFile, 0};
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return {};
}

void KeptFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool KeptFile::Unlinked() const {
    struct stat info;
    return fstat(fd_, &info) != 0 || info.st_nlink == 0;
}

ssize_t KeptFile::Read(char *buffer, size_t size) const {
    // One read: a regular file gives all it has up to size, and a sysfs
    // attribute gives its whole value at offset 0.
    ssize_t got;
    do {
        got = pread(fd_, buffer, size, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

}  // namespace nt

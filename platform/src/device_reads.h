// Reading the files that stand behind adapters, safely.
//
// A Device entry, or a file of an interface's folder, may be anything by
// the time it is read: a named pipe, a socket, a device node, a folder, a
// link to one of these, or a huge file. Nothing here blocks on such a thing
// or reads more than a small cap; each reports instead why the source does
// not answer (a Fault), which the adapter turns into the failure of that
// one query and, once, into a line of the system log (adapter_health.h).
//
// Files are kept open between reads and read with pread at offset 0: a
// rewrite in place shows at once, and for sysfs the kernel makes the value
// anew at every such read.
#ifndef PLATFORM_DEVICE_READS_H
#define PLATFORM_DEVICE_READS_H

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "nt/wintypes.h"

namespace nt {

// The most a Device entry's file may hold.
constexpr size_t DeviceFileCap = 64 * 1024;

// Why a source does not answer.
struct Fault {
    enum Kind {
        kNone,
        kVanished,        // no longer there
        kUnreadable,      // detail: the errno of the failed call
        kNotRegularFile,  // a pipe, socket, device node or folder
        kTooLarge,        // more than the cap
        kMalformed,       // detail: the line (1-based), 0 for a counter file
        kNotInterface,    // an interface entry that no longer leads to one
    };
    Kind kind = kNone;
    int detail = 0;

    bool operator==(const Fault &other) const { return kind == other.kind; }
    bool operator!=(const Fault &other) const { return kind != other.kind; }
};

// The reason, for the log: "vanished", "unreadable (Permission denied)",
// "not a regular file", "too large", "malformed line 3", ...
std::string DescribeFault(const Fault &fault);

// The Win32 error a query that meets fault fails with: ERROR_DEV_NOT_EXIST
// for a source that has gone or cannot be read, ERROR_INVALID_DATA for a
// malformed one, ERROR_GEN_FAILURE (a device that does not work) for one
// that is not a readable file of a sane size.
DWORD FaultError(const Fault &fault);

// The fault that errno value err of a failed open or stat stands for.
Fault FaultFromErrno(int err);

// A regular file kept open for reading at offset 0.
class KeptFile {
public:
    KeptFile() = default;
    ~KeptFile() { Close(); }
    KeptFile(const KeptFile &) = delete;
    KeptFile &operator=(const KeptFile &) = delete;

    // Opens path without blocking (O_NONBLOCK, so a pipe put there cannot
    // hang the open) and keeps it only when it is a regular file.
    Fault Open(const std::string &path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Whether the file kept open is the one info describes.
    bool Is(dev_t device, ino_t inode) const {
        return fd_ >= 0 && device_ == device && inode_ == inode;
    }

    // Whether the file kept open has been removed or renamed over (no name
    // leads to it any more): one fstat.
    bool Unlinked() const;

    // Reads from offset 0 into buffer, up to size bytes: the count read, or
    // -1 with errno.
    ssize_t Read(char *buffer, size_t size) const;

private:
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace nt

#endif  // PLATFORM_DEVICE_READS_H

// Files and directories: the directory queries and CopyFileA.
//
// The directory queries answer as NT's do: the length written (NUL not
// counted) when the path fits, else the size needed with its NUL and
// nothing written, or 0 on failure. Callers that keep directories in fixed
// buffers must treat a result of size or more as "does not fit".
//
// CopyFileA never leaves a half-written target: the data goes into a new
// file beside the target, which is flushed to disk and then renamed over
// the target (or, with failIfExists, linked to the target name, which fails
// if the name has appeared meanwhile). The new file is ".NAME.copy-XXXXXX",
// locked while it is written, so that a later copy into the folder can tell
// one that a killed copy left behind and remove it (nt/ntroot.h). A process that has the old target
// open or mapped, such as a service that loaded a DLL, keeps the old file.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"
#include "nt/ntroot.h"
#include "nt/win32.h"
#include "paths.h"

namespace nt {

namespace {

DWORD ReturnPath(const std::string &path, LPSTR buffer, DWORD size) {
    const DWORD needed = static_cast<DWORD>(path.size() + 1);
    if (buffer == nullptr || size < needed) {
        return needed;
    }
    std::memcpy(buffer, path.c_str(), needed);
    return needed - 1;
}

// Closes fd on every way out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the error close gives (a delayed write error).
    int Close() {
        const int result = close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies every byte from in to out; false with errno set on failure.
bool CopyData(int in, int out) {
    char block[65536];
    for (;;) {
        const ssize_t got = read(in, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(out, block, static_cast<size_t>(got))) {
            return false;
        }
    }
}

BOOL Fail(int err, const char *what, const std::string &path) {
    SetLastErrorFromErrno(err, what, path);
    return FALSE;
}

// Makes the directory entry of a rename or link durable. Best effort: the
// copy is already whole on disk, only its name could be lost on power loss.
void SyncDirectory(const std::string &directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

}  // namespace nt

extern "C" {

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char *current = getcwd(nullptr, 0);
    if (current == nullptr) {
        nt::SetLastErrorFromErrno(errno, "getcwd", ".");
        return 0;
    }
    const std::string path(current);
    std::free(current);
    return nt::ReturnPath(path, buffer, size);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return nt::ReturnPath(nt::SystemDirectoryPath(), buffer, size);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return nt::ReturnPath(nt::WindowsDirectoryPath(), buffer, size);
}

BOOL CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) {
    if (existingFile == nullptr || newFile == nullptr || existingFile[0] == '\0' ||
        newFile[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string source = nt::LinuxPath(existingFile);
    const std::string target = nt::LinuxPath(newFile);

    nt::FileDescriptor in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return nt::Fail(errno, "CopyFileA: open", source);
    }
    struct stat sourceInfo;
    if (fstat(in.get(), &sourceInfo) != 0) {
        return nt::Fail(errno, "CopyFileA: fstat", source);
    }
    if (!S_ISREG(sourceInfo.st_mode)) {
        // NT refuses to copy a directory or a device as a file.
        nt::Trace("CopyFileA(%s): not a regular file", source.c_str());
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat targetInfo;
    if (failIfExists && lstat(target.c_str(), &targetInfo) == 0) {
        return nt::Fail(EEXIST, "CopyFileA", target);
    }

    // The new file beside the target, hidden, unique, locked while it is
    // written (see nt/ntroot.h), removed on failure. What killed copies
    // left in the folder goes first.
    const std::string directory = nt::DirectoryOf(target);
    const std::string name = nt::BaseNameOf(target);
    nt::FileDescriptor folder(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        return nt::Fail(errno, "CopyFileA: open", directory);
    }
    nt::RemoveStaleTemporaries(folder.get());
    std::string temporaryName;
    nt::FileDescriptor out(
        nt::CreateReplacementTemporary(folder.get(), name, "copy", &temporaryName));
    const std::string temporary = directory + "/" + temporaryName;
    if (out.get() < 0) {
        return nt::Fail(errno, "CopyFileA: create", temporary);
    }
    struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    if (!nt::CopyData(in.get(), out.get()) || fchmod(out.get(), sourceInfo.st_mode & 07777) != 0 ||
        futimens(out.get(), times) != 0 || fsync(out.get()) != 0) {
        const int err = errno;
        unlinkat(folder.get(), temporaryName.c_str(), 0);
        return nt::Fail(err, "CopyFileA: write", temporary);
    }
    if (failIfExists) {
        // link() fails if the target name has appeared since the test above.
        if (linkat(folder.get(), temporaryName.c_str(), folder.get(), name.c_str(), 0) != 0) {
            const int err = errno;
            unlinkat(folder.get(), temporaryName.c_str(), 0);
            return nt::Fail(err, "CopyFileA: link", target);
        }
        unlinkat(folder.get(), temporaryName.c_str(), 0);
    } else if (renameat(folder.get(), temporaryName.c_str(), folder.get(), name.c_str()) != 0) {
        const int err = errno;
        unlinkat(folder.get(), temporaryName.c_str(), 0);
        return nt::Fail(err, "CopyFileA: rename", target);
    }
    // The lock goes with the descriptor, once the name is in place; the
    // data reached the disk with fsync above.
    out.Close();
    nt::SyncDirectory(directory);
    return TRUE;
}

}  // extern "C"

// The service's log in run/; see service_log.h.
#include "service_log.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace svcstate {

namespace {

constexpr off_t DefaultLogLimit = 1 << 20;
constexpr off_t SmallestLogLimit = 4096;

struct Watch {
    ServiceFiles files;
    int folder;
    int notify;  // inotify on run/, or -1: then the thread only polls
    off_t limit;
};

// Whether fd and the entry name of dirfd are one file.
bool SameFile(int fd, int dirfd, const std::string &name) {
    struct stat open, named;
    return fstat(fd, &open) == 0 &&
           fstatat(dirfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Turns the log when standard error, the service's log, has passed the
// limit, and moves standard output and error to the new file.
void TurnIfFull(const Watch &watch) {
    struct stat info;
    if (fstat(STDERR_FILENO, &info) != 0 || info.st_size <= watch.limit) {
        return;
    }
    const std::string name = watch.files.name + ".log";
    if (SameFile(STDERR_FILENO, watch.folder, name)) {
        renameat(watch.folder, name.c_str(), watch.folder, (name + ".1").c_str());
    }
    const int fd = OpenRegularAt(watch.folder, name, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        // Nowhere else to write: keep the old file rather than lose the
        // log, and start it afresh.
        if (ftruncate(STDERR_FILENO, 0) != 0) {
            return;
        }
    } else {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    const std::string line = "snmpsvc: the log passed " + std::to_string(watch.limit) +
                             " bytes; what came before is in " + name + ".1\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

void *WatchLoop(void *argument) {
    const Watch &watch = *static_cast<const Watch *>(argument);
    for (;;) {
        struct pollfd wake = {watch.notify, POLLIN, 0};
        const int ready = poll(&wake, watch.notify >= 0 ? 1 : 0, 1000);
        if (ready > 0) {
            char events[4096];
            while (read(watch.notify, events, sizeof events) > 0) {
            }
        }
        TurnIfFull(watch);
    }
    return nullptr;
}

}  // namespace

off_t LogLimit() {
    const char *text = std::getenv("SNMPSVC_LOG_LIMIT");
    if (text == nullptr || text[0] == '\0') {
        return DefaultLogLimit;
    }
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || value <= 0) {
        return DefaultLogLimit;
    }
    return value < SmallestLogLimit ? SmallestLogLimit : static_cast<off_t>(value);
}

bool TurnLogIfFull(int dirfd, const ServiceFiles &files, off_t limit) {
    const std::string name = files.name + ".log";
    struct stat info;
    if (fstatat(dirfd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size <= limit) {
        return false;
    }
    return renameat(dirfd, name.c_str(), dirfd, (name + ".1").c_str()) == 0;
}

int OpenServiceLog(int dirfd, const ServiceFiles &files, std::string *error) {
    TurnLogIfFull(dirfd, files, LogLimit());
    const int fd = OpenRegularAt(dirfd, files.name + ".log", O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        const int err = errno;
        *error = files.log + ": " +
                 (err == ELOOP    ? std::string("a symbolic link")
                  : err == EINVAL ? std::string("not a regular file")
                                  : std::string(std::strerror(err)));
    }
    return fd;
}

void WatchServiceLog(const ServiceFiles &files) {
    const int folder = open(files.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return;
    }
    struct stat info;
    if (fstat(STDERR_FILENO, &info) != 0 || !S_ISREG(info.st_mode) ||
        !SameFile(STDERR_FILENO, folder, files.name + ".log")) {
        close(folder);
        return;
    }
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify >= 0 && inotify_add_watch(notify, files.folder.c_str(),
                                         IN_MODIFY | IN_ONLYDIR | IN_DONT_FOLLOW) < 0) {
        close(notify);
        notify = -1;
    }
    // Lives as long as the process, as the thread does.
    static Watch *watch = nullptr;
    if (watch != nullptr) {
        close(folder);
        if (notify >= 0) {
            close(notify);
        }
        return;  // watched already
    }
    watch = new Watch{files, folder, notify, LogLimit()};
    // The thread takes no signal: the service takes its own through a
    // signalfd, which needs them blocked in every thread.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, WatchLoop, watch) == 0) {
        pthread_detach(thread);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace svcstate

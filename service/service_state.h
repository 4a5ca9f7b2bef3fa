// Whether a service of the NT root runs, and how a running service says so.
//
// A service keeps three files under the root's run/ folder, named after the
// service as its registry key spells it ("SNMP"):
//
//   run/SNMP.lock  held with a POSIX write lock for as long as the service
//                  process lives, from its first moment to its last. The
//                  kernel drops the lock when the process ends, however it
//                  ends, so a lock held is a process alive: no pid is ever
//                  trusted on its own, and a pid reused by another program
//                  cannot pass for the service. Mode 0600: another user who
//                  could read it could hold a read lock on it and pass for
//                  a running service.
//   run/SNMP.pid   the service's pid and a newline, written (whole, by
//                  rename) once the service serves, removed when it ends.
//   run/SNMP.log   the service's log when NET started it (service_log.h).
//
// So a service is stopped when nobody holds its lock (a pid file left
// behind by a killed service is stale and means nothing), starting when its
// lock is held and the pid file does not yet name the holder, and running
// once it does. The service side is ServiceLease; NET reads QueryService.
//
// Every file in run/ is opened relative to the opened run/ folder, never
// through a link planted there and never blocking on a FIFO: an entry that
// is a link, a FIFO or anything but a regular file is refused. The run/
// folder itself must be its owner's alone (nt::CheckOpenOwnership).
#ifndef SERVICE_SERVICE_STATE_H
#define SERVICE_SERVICE_STATE_H

#include <memory>
#include <string>
#include <sys/types.h>

namespace svcstate {

struct ServiceFiles {
    std::string folder;  // run/
    std::string name;    // the service's name: "SNMP"
    std::string lock;    // the full paths of its files, for messages
    std::string pid;
    std::string log;
};

// The files of service `name` in the root folder `root` (absolute).
ServiceFiles FilesOf(const std::string &root, const std::string &name);

// Opens the run/ folder (made, mode 0755, when create is set and it is
// missing) and checks that only its owner can change it. The descriptor,
// or -1 with *error.
int OpenRunFolder(const ServiceFiles &files, bool create, std::string *error);

// Opens the entry name of the folder dirfd as a regular file with flags
// (O_CLOEXEC, O_NOFOLLOW and O_NONBLOCK added; O_NONBLOCK is taken off
// again once the file is known to be regular). -1 with errno set
// (ELOOP for a link, EINVAL for anything but a regular file).
int OpenRegularAt(int dirfd, const std::string &name, int flags, mode_t mode);

enum class State { Stopped, Starting, Running };

struct Status {
    State state = State::Stopped;
    pid_t pid = 0;  // the process holding the lock; 0 when stopped
};

// The service's state as its files tell it. Never changes them; a missing
// run/ folder or lock file is a stopped service.
Status QueryService(const ServiceFiles &files);

// The running service's hold on its files; one per process.
class ServiceLease {
public:
    // Takes the lock. Null with *error when another process holds it
    // ("already running (pid N)") or the file cannot be made.
    static std::unique_ptr<ServiceLease> Acquire(const ServiceFiles &files, std::string *error);

    // The same for a process that has just exec'd itself: inheritedFd is
    // the lock descriptor that KeepAcrossExec returned before the exec, and
    // the lease goes on with it (the lock was never let go). An inherited
    // descriptor that is not the lock file's is left alone and the lock
    // taken as Acquire takes it.
    static std::unique_ptr<ServiceLease> Adopt(const ServiceFiles &files, int inheritedFd,
                                               std::string *error);

    // Releases the lock, after removing the pid file if Publish wrote it.
    ~ServiceLease();
    ServiceLease(const ServiceLease &) = delete;
    ServiceLease &operator=(const ServiceLease &) = delete;

    // Writes the pid file: the service now serves. False with *error when
    // it cannot be written.
    bool Publish(std::string *error);

    // Before this process execs itself: lets the lock's descriptor stay
    // open across the exec (closing any descriptor of the file would drop
    // the lock) and returns its number, for Adopt in the new program; -1
    // with errno on failure. The pid file stays: the pid does not change.
    int KeepAcrossExec();

private:
    ServiceLease(ServiceFiles files, int folderFd, int lockFd);

    ServiceFiles files_;
    int folderFd_;
    int lockFd_;
    bool published_ = false;
};

}  // namespace svcstate

#endif  // SERVICE_SERVICE_STATE_H

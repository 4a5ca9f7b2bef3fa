// Reloading the running service on SIGHUP.
//
// The service reloads by executing its own program again in its own
// process (execv of /proc/self/exe with the arguments it was started
// with): the new program reads the configuration and the registry, loads
// the agents and probes the adapters afresh, as at a start, and the pid,
// the lock in run/ and the pid file stay the same throughout. Before
// anything is let go, what the new program will read is checked in the old
// one (CheckReload): a configuration or registry that would not load
// leaves the old service serving as it was, and the log says why.
//
// The lock's descriptor crosses the exec (its number in the environment
// variable SNMPSVC_LOCK_FD, which the new program takes out again), so
// that no other start can slip in between; every other descriptor is
// closed by the exec. Signals blocked for the signalfd stay blocked and
// pending across it, so a SIGTERM that arrives during a reload is served
// by the new program.
#ifndef SERVICE_SERVICE_RELOAD_H
#define SERVICE_SERVICE_RELOAD_H

#include <string>

#include "service_run.h"

namespace snmpsvc {

// Remembers the command line the program was started with; Main calls it
// first.
void RememberArguments(int argc, char **argv);

// Checks, without changing anything, that a start of the service with
// options would find its root, read its configuration file and its agent
// list. False with *error saying why not.
bool CheckReload(const RunOptions &options, std::string *error);

// Checks the configuration file's own lines (agentxRole, snmpsvcCommunity)
// and that it can be read when it exists, as a reload requires. False with
// *error naming the file and the line.
bool CheckConfigFile(const std::string &configFile, std::string *error);

// The lock descriptor a reload handed over (and takes it out of the
// environment), or -1 when this program was not started by a reload.
int TakeInheritedLock();

// Executes the program again in this process, keeping lockFd open for it.
// Returns only when the exec failed, with *error.
void ExecAgain(int lockFd, std::string *error);

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_RELOAD_H

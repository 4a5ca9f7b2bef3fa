// NET: service control in the manner of NT's NET command.
//
//   NET START [service]   starts a service (without a name: lists the
//                         services that run)
//   NET STOP service      stops a service
//   NET HELPMSG number    explains a message number
//
// Services are the keys under HKLM\SYSTEM\CurrentControlSet\Services of the
// NT root; a name matches a key's name or its DisplayName without regard to
// case. START runs the key's ImagePath as a detached process (a session of
// its own, the root as its folder, $NTROOT naming it, standard input from
// /dev/null, standard output and error appended to run/NAME.log, no other
// descriptor inherited), and returns once
// the service has written run/NAME.pid, or fails with the last line the
// service logged when it ends before that. STOP sends SIGTERM and returns
// once the process has ended. Whether a service runs is told by the lock it
// holds on run/NAME.lock (service_state.h), so a stale pid file counts as
// stopped, and STOP finds a running service by that lock alone when the
// registry is gone or damaged under it. NETs that start or stop one service
// at once take turns (a flock on run/): one starts it, the others then find
// it started. The root must be its owner's alone (nt::CheckRootOwnership).
// Every wait is bounded: 15 seconds to start, 15 to stop.
//
// Messages and exit statuses are NT's: 0 on success, 2 for a failure (with
// "More help is available by typing NET HELPMSG n."), 1 for a wrong command
// line. Progress goes to standard output, failures to standard error.
#ifndef TOOLS_NET_NET_COMMAND_H
#define TOOLS_NET_NET_COMMAND_H

namespace net {

int Main(int argc, char **argv);

}  // namespace net

#endif  // TOOLS_NET_NET_COMMAND_H

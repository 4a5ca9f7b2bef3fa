// Telling the service manager how the service stands: systemd's
// notification protocol, spoken directly (no libsystemd).
//
// When the environment names a socket in NOTIFY_SOCKET (a path, or an
// abstract name written with a leading '@'), each state goes to it as one
// datagram of newline-separated VARIABLE=value lines ("READY=1",
// "RELOADING=1", "STOPPING=1", "STATUS=..."). Without NOTIFY_SOCKET
// nothing is sent. The variable stays in the environment, so that the
// program a reload execs tells the same manager.
#ifndef SERVICE_SERVICE_NOTIFY_H
#define SERVICE_SERVICE_NOTIFY_H

#include <string>

namespace snmpsvc {

// Sends state (lines without a final newline); false with *error when
// NOTIFY_SOCKET is set and the datagram cannot be sent.
bool NotifyManager(const std::string &state, std::string *error);

// The CLOCK_MONOTONIC time in microseconds, as RELOADING=1 carries it in
// MONOTONIC_USEC.
unsigned long long MonotonicMicroseconds();

}  // namespace snmpsvc

#endif  // SERVICE_SERVICE_NOTIFY_H

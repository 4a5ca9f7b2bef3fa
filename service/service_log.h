// The service's log in run/ (run/SNMP.log), kept to a bounded size.
//
// NET START opens the log and hands it to the service as its standard
// output and error, so that whatever the service says from its first
// moment lands there (a loader's error, a sanitizer's report). No line of
// it may fill the disk, however many requests make the library talk: when
// the log passes its limit it becomes SNMP.log.1 (replacing the one there)
// and a new SNMP.log begins. So the log takes at most about twice its
// limit. NET turns a log that is over the limit before it starts the
// service; the running service watches its own (a thread that wakes when
// something is written in run/, through inotify, and at least once a
// second) and turns it as soon as it passes the limit.
//
// The limit is 1 MiB; $SNMPSVC_LOG_LIMIT (bytes, at least 4096) sets
// another, for NET and the service alike.
#ifndef SERVICE_SERVICE_LOG_H
#define SERVICE_SERVICE_LOG_H

#include <string>
#include <sys/types.h>

#include "service_state.h"

namespace svcstate {

// The log's limit in bytes.
off_t LogLimit();

// When the entry files.name + ".log" of the folder dirfd is larger than
// limit, renames it to files.name + ".log.1". True when it did.
bool TurnLogIfFull(int dirfd, const ServiceFiles &files, off_t limit);

// Opens the service's log for appending (turned first if full), for NET to
// hand to the service. -1 with *error when it cannot (a link or anything
// but a regular file planted there included).
int OpenServiceLog(int dirfd, const ServiceFiles &files, std::string *error);

// In the service: when its standard error is its log in run/, keeps that
// log under the limit for as long as the process lives, moving standard
// output and error to the new file each time it turns the log. Does nothing
// when standard error is anything else (a terminal, a file elsewhere, the
// system log).
void WatchServiceLog(const ServiceFiles &files);

}  // namespace svcstate

#endif  // SERVICE_SERVICE_LOG_H

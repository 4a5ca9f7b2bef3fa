// The TCP-wrappers access check at the cost of a lookup.
//
// Debian's Net-SNMP agent library asks libwrap's hosts_ctl(daemon,
// "unknown", address, "unknown") for every datagram it receives, and
// libwrap reads /etc/hosts.allow and /etc/hosts.deny afresh on each call.
// This service defines hosts_ctl itself (hosts_access.cc): the dynamic
// linker binds the agent library's call to the executable's definition
// first, and ours asks libwrap's own (found with dlsym(RTLD_NEXT)) on a
// miss, then keeps its verdict per (daemon, address) until either file
// changes.
//
// Why the kept verdict is libwrap's: with the client's name and user given
// as "unknown", libwrap neither resolves names nor asks identd, so its
// answer is a function of the daemon name, the address and the two files
// alone, as long as no rule does more than match. A rule does more when it
// has an option field (spawn, twist, severity, setenv, banners, ...: any
// third ':' field), names a file of patterns ("/path") or a netgroup or user
// ("@"); then nothing is kept while the files hold such a rule, and every
// request goes to libwrap as before. Nothing is kept either while either
// file is a symbolic link, is larger than a small cap, cannot be read, or
// while the folders that hold them cannot be watched.
//
// The files are watched with inotify on their folders (so a file replaced by
// a rename is seen as well as one written in place); the descriptor is
// watched by the engine's event loop, which drains it before it reads the
// next datagram, so a change made before a request arrives applies to that
// request. The paths are libwrap's own (its hosts_allow_table and
// hosts_deny_table), read when watching starts.
#ifndef SERVICE_HOSTS_ACCESS_H
#define SERVICE_HOSTS_ACCESS_H

#include <string>

namespace snmpsvc {

// Starts watching the access files and keeping verdicts; the inotify
// descriptor is registered with the engine's event loop (register_readfd).
// When the files cannot be watched, verdicts are not kept (every check
// goes to libwrap) and *warning says why; true otherwise.
bool StartHostsAccessCache(std::string *warning);

// Stops watching and forgets every verdict.
void StopHostsAccessCache();

// Whether rules text (one access file's content) only matches: no option
// field, no "/file" pattern, no "@" netgroup or user pattern. Such rules
// give the same verdict for the same daemon and address every time.
bool AccessRulesArePure(const std::string &text);

}  // namespace snmpsvc

#endif  // SERVICE_HOSTS_ACCESS_H

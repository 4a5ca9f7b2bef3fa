// The NT root: the one folder that holds a machine's NT state.
//
// Everything the NT system would keep in its own places lives under one
// folder, like a Wine prefix: the registry, %SystemRoot% ("Windows"), the
// system directory ("Windows/System32"), the kernel device namespace
// ("Device") and the service state ("run"). The folder is $NTROOT when that
// is set and not empty, else ~/.ntroot. Nothing here creates it.
#ifndef NT_NTROOT_H
#define NT_NTROOT_H

#include <cstdint>
#include <string>

#define NT_EXPORT __attribute__((visibility("default")))

namespace nt {

// The root folder, absolute, without a trailing slash.
NT_EXPORT std::string RootPath();

// The file that stands for the kernel device "\Device\<name>".
NT_EXPORT std::string DeviceFilePath(const std::string &name);

// Names the SNMP request (one PDU) this process answers from now: an id of
// its own for each request, never 0; 0 when it answers none (the default).
// While one request is named, an adapter linked to an interface checks that
// its Device entry still leads to the interface, reads the duplex and asks
// ethtool for its eth-mac counters once, on the first statistic the request
// asks of it, instead of for each statistic: every statistic is still read
// from the interface, and whatever changed (a relinked entry, a new duplex,
// a counter) is seen by the next request. With no request named, all of
// that is done at every query.
NT_EXPORT void SetDeviceRequest(uint64_t request);

// ---- Trust in a root -------------------------------------------------------
//
// A root decides what runs (the registry names the service's program and the
// agents' libraries) and what is written where, so the commands that act on
// one refuse it when someone else could change it, as ssh's StrictModes
// does: the root folder, the folders run, snmp, Device, Windows and
// Windows/System32 in it, and registry.db must each be owned by the user the
// command runs as (or by root, whom every user trusts anyway) and be
// writable by nobody else (no group or other write bit, sticky or not).
// Links are followed: what counts is the folder a link leads to. What does
// not exist yet is no problem here; the folders above the root are not
// looked at (a root in /tmp is as safe as its own folder).

// False with *problem, one phrase naming the path and what is wrong with it
// and how to mend it, when the root at root cannot be trusted; true when it
// can or is not there at all.
NT_EXPORT bool CheckRootOwnership(const std::string &root, std::string *problem);

// The same test for one open folder or file: fd, which path names. For
// callers that go on working relative to that descriptor.
NT_EXPORT bool CheckOpenOwnership(int fd, const std::string &path, std::string *problem);

// The check every command makes before it acts on a root, in the one
// wording they all print: root must be a folder ("no NT root at ROOT; run
// 'ntroot init'"), hold registry.db when needRegistry ("no NT root at ROOT
// (it has no registry.db); run 'ntroot init'"), and pass
// CheckRootOwnership. False with *problem when it does not.
NT_EXPORT bool CheckRoot(const std::string &root, bool needRegistry, std::string *problem);

// ---- Temporaries beside a file being replaced ------------------------------
//
// A file that is replaced whole (CopyFileA, ntroot's writes) is first written
// to a temporary in the same folder: ".NAME.copy-XXXXXX" (CopyFileA) or
// ".NAME.ntroot-XXXXXX" (ntroot), then renamed over NAME. The writer holds
// an exclusive flock on the temporary from its first moment until it is
// renamed or removed, so a temporary nobody holds locked was left by a
// writer that died (SIGKILL, power loss) and may be removed.

// Whether name (one folder entry) is such a temporary.
NT_EXPORT bool IsReplacementTemporary(const std::string &name);

// Makes a temporary for name in the folder dirfd (path names it, for
// messages) with the given suffix ("copy" or "ntroot"): created with
// O_EXCL, mode 0600, and locked. The descriptor, with *temporary its entry
// name; -1 with errno set on failure.
NT_EXPORT int CreateReplacementTemporary(int dirfd, const std::string &name, const char *suffix,
                                         std::string *temporary);

// Removes from the folder dirfd the temporaries that no live writer holds.
// Best effort; returns how many it removed.
NT_EXPORT int RemoveStaleTemporaries(int dirfd);

}  // namespace nt

#endif  // NT_NTROOT_H

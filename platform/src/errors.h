// Turning Linux errors into Win32 error codes, in one place.
#ifndef PLATFORM_ERRORS_H
#define PLATFORM_ERRORS_H

#include <string>

#include "nt/wintypes.h"

namespace nt {

// The Win32 error code that stands for errno value err. When the
// environment has NTPLATFORM_TRACE set, the failed call and its path are
// written to standard error with both codes.
DWORD ErrorFromErrno(int err, const char *call, const std::string &path);

// Sets the thread's last-error code from errno value err (as above) and
// returns it.
DWORD SetLastErrorFromErrno(int err, const char *call, const std::string &path);

// Writes one line to standard error when NTPLATFORM_TRACE is set.
void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nt

#endif  // PLATFORM_ERRORS_H

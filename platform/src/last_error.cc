// The last-error code: one per thread, as on NT.
#include "nt/win32.h"

namespace {
thread_local DWORD LastError = ERROR_SUCCESS;
}

extern "C" {

DWORD GetLastError(void) { return LastError; }

void SetLastError(DWORD code) { LastError = code; }

}  // extern "C"

// GetVersionExA: the system is Windows NT 4.0.
//
// Programs check the platform identifier before anything else; a platform
// other than NT cannot exist here, so NTPLATFORM_PLATFORM_ID (0, 1 or 2)
// lets a test make the call report Win32s or Windows 95 instead.
#include <cstdlib>
#include <cstring>

#include "errors.h"
#include "nt/win32.h"

extern "C" BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        nt::Trace("GetVersionExA: record size %u, expected %zu", info->dwOSVersionInfoSize,
                  sizeof(OSVERSIONINFOA));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD platform = VER_PLATFORM_WIN32_NT;
    const char *configured = std::getenv("NTPLATFORM_PLATFORM_ID");
    if (configured != nullptr && configured[0] >= '0' && configured[0] <= '2' &&
        configured[1] == '\0') {
        platform = static_cast<DWORD>(configured[0] - '0');
    }
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    if (platform == VER_PLATFORM_WIN32_NT) {
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 0;
        info->dwBuildNumber = 1381;
        std::strcpy(info->szCSDVersion, "Service Pack 6");
    } else if (platform == VER_PLATFORM_WIN32_WINDOWS) {
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 0;
        info->dwBuildNumber = 950;
    } else {
        info->dwMajorVersion = 3;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = 0;
    }
    info->dwPlatformId = platform;
    return TRUE;
}

// errno to Win32 error codes, and the platform's trace; see errors.h.
#include "errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nt/win32.h"

namespace nt {

namespace {

bool Tracing() {
    static const bool tracing = std::getenv("NTPLATFORM_TRACE") != nullptr;
    return tracing;
}

}  // namespace

void Trace(const char *format, ...) {
    if (!Tracing()) {
        return;
    }
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "ntplatform: %s\n", line);
}

DWORD ErrorFromErrno(int err, const char *call, const std::string &path) {
    DWORD code;
    switch (err) {
        case 0: code = ERROR_SUCCESS; break;
        case ENOENT: code = ERROR_FILE_NOT_FOUND; break;
        case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
        case EACCES:
        case EPERM: code = ERROR_ACCESS_DENIED; break;
        case EROFS: code = ERROR_WRITE_PROTECT; break;
        case EEXIST: code = ERROR_FILE_EXISTS; break;
        case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
        case EBADF: code = ERROR_INVALID_HANDLE; break;
        case EINVAL: code = ERROR_INVALID_PARAMETER; break;
        case ENAMETOOLONG: code = ERROR_INVALID_NAME; break;
        case ENODEV:
        case ENXIO: code = ERROR_DEV_NOT_EXIST; break;
        case EOPNOTSUPP: code = ERROR_NOT_SUPPORTED; break;
        default: code = ERROR_GEN_FAILURE; break;
    }
    Trace("%s(%s): %s (errno %d, Win32 error %u)", call, path.c_str(), std::strerror(err), err,
          code);
    return code;
}

DWORD SetLastErrorFromErrno(int err, const char *call, const std::string &path) {
    const DWORD code = ErrorFromErrno(err, call, path);
    SetLastError(code);
    return code;
}

}  // namespace nt

// wsprintfA: printf formatting into at most 1024 bytes, as on NT.
#include <cstdarg>
#include <cstdio>

#include "nt/win32.h"

namespace {
constexpr int kWsprintfLimit = 1024;  // bytes, the NUL counted
}

extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    if (buffer == nullptr || format == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, kWsprintfLimit, format, arguments);
    va_end(arguments);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    // A longer result is cut at the limit; the count is what was written.
    return length < kWsprintfLimit ? length : kWsprintfLimit - 1;
}

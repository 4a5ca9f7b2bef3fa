// Object-identifier utilities and the diagnostic log; see snmp.h.
#include "snmp.h"

#include <cstdarg>
#include <cstring>

int LogLevel = 1;
int LogTargets = LOG_TO_EVENTLOG;
std::FILE *LogFile = nullptr;
HANDLE LogEventSource = nullptr;

BOOL OidCopy(AsnObjectIdentifier *destination, const AsnObjectIdentifier *source) {
    destination->ids = static_cast<UINT *>(
        GlobalAlloc(GPTR, static_cast<SIZE_T>(source->idLength) * sizeof(UINT)));
    if (destination->ids == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    destination->idLength = source->idLength;
    if (source->idLength != 0) {
        std::memcpy(destination->ids, source->ids, source->idLength * sizeof(UINT));
    }
    return TRUE;
}

BOOL OidAppend(AsnObjectIdentifier *destination, const AsnObjectIdentifier *source) {
    // Both lengths are at most 2^32 - 1, so the sum is exact in 64 bits.
    const uint64_t total = uint64_t{destination->idLength} + source->idLength;
    if (total > OidArcLimit) {
        AgentLog(2, "OID append overflow; DestObjId->idLength=%d, SrcObjId->idLength=%d\n",
                 static_cast<int>(destination->idLength), static_cast<int>(source->idLength));
        SetLastError(ERROR_INVALID_ACCESS);
        return FALSE;
    }
    const SIZE_T bytes = static_cast<SIZE_T>(total) * sizeof(UINT);
    UINT *block = static_cast<UINT *>(destination->ids == nullptr
                                          ? GlobalAlloc(GPTR, bytes)
                                          : GlobalReAlloc(destination->ids, bytes, GHND));
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    destination->ids = block;
    if (source->idLength != 0) {
        std::memcpy(block + destination->idLength, source->ids, source->idLength * sizeof(UINT));
    }
    destination->idLength = static_cast<UINT>(total);
    return TRUE;
}

void AgentLog(int level, const char *format, ...) {
    if (level > LogLevel) {
        return;
    }
    char buffer[AgentLogBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);

    if ((LogTargets & LOG_TO_FILE) != 0) {
        if (LogFile == nullptr) {
            LogFile = std::fopen(AgentLogFileName, "w");
        }
        if (LogFile != nullptr) {
            std::fprintf(LogFile, "%s", buffer);
            std::fflush(LogFile);
        }
    }
    if ((LogTargets & LOG_TO_EVENTLOG) != 0) {
        if (LogEventSource == nullptr) {
            LogEventSource = RegisterEventSourceA(nullptr, AgentLogEventSource);
        }
        if (LogEventSource != nullptr) {
            const char *strings[1] = {buffer};
            if (!ReportEventA(LogEventSource, EVENTLOG_INFORMATION_TYPE, 0, AgentLogEventId,
                              nullptr, 1, 0, strings, nullptr)) {
                DeregisterEventSource(LogEventSource);
                LogEventSource = nullptr;
            }
        }
    }
    if ((LogTargets & LOG_TO_CONSOLE) != 0) {
        std::printf("%s", buffer);
        std::fflush(stdout);
    }
}

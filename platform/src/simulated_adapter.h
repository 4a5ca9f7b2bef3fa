// Simulated adapters: a regular file in the NT root's Device folder that
// stands for an adapter's driver.
//
// The file lists the driver's statistics, one a line: the NDIS statistic
// identifier, then its value, each in decimal or in hexadecimal with 0x,
// separated by white space ("0x0002020D 5"). '#' starts a comment; blank
// lines are allowed. A value larger than 32 bits is taken modulo 2^32, as a
// Counter32 wraps. When a statistic is listed more than once, its last line
// counts. The file is read afresh at every query, so it may be changed
// while a service reads it.
#ifndef PLATFORM_SIMULATED_ADAPTER_H
#define PLATFORM_SIMULATED_ADAPTER_H

#include <cstdint>
#include <string>

#include "nt/wintypes.h"

namespace nt {

// Parses a number as the file writes it; false for anything else,
// including a number that does not fit in 64 bits (an identifier must be
// exact).
bool ParseStatisticNumber(const std::string &text, uint64_t *value);

// Parses a statistic's value as the file writes it, modulo 2^32 whatever
// its length, as a Counter32 wraps; false when it is not a number.
bool ParseCounterValue(const std::string &text, uint32_t *value);

// The statistic's value from the file's text: ERROR_SUCCESS with *value;
// ERROR_NOT_SUPPORTED when no line names it; ERROR_INVALID_DATA when the
// line that counts for it is malformed. A malformed line that names no
// statistic one can read affects nothing.
DWORD FindStatistic(const std::string &text, DWORD statistic, uint32_t *value);

// Reads the file and answers as FindStatistic; ERROR_DEV_NOT_EXIST when the
// file cannot be read.
DWORD ReadSimulatedStatistic(const std::string &path, DWORD statistic, uint32_t *value);

}  // namespace nt

#endif  // PLATFORM_SIMULATED_ADAPTER_H

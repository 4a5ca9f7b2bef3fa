// The text of a simulated adapter file, for everyone who reads or edits
// one: the platform's simulated adapters and ntroot.
//
// The file lists the driver's statistics, one a line: the NDIS statistic
// identifier, then its value, each in decimal or in hexadecimal with 0x,
// separated by white space ("0x0002020D 5"). A line ends at LF, CR or CRLF;
// '#' starts a comment; blank lines are allowed. A value larger than 32 bits
// is taken modulo 2^32, as a Counter32 wraps. When a statistic is listed
// more than once, its last line counts.
#ifndef NT_SIMULATED_ADAPTER_FILE_H
#define NT_SIMULATED_ADAPTER_FILE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nt/ntroot.h"

namespace nt {

// Parses a number as the file writes it; false for anything else,
// including a number that does not fit in 64 bits (an identifier must be
// exact).
NT_EXPORT bool ParseStatisticNumber(std::string_view text, uint64_t *value);

// Parses a statistic's value as the file writes it, modulo 2^32 whatever
// its length, as a Counter32 wraps; false when it is not a number.
NT_EXPORT bool ParseCounterValue(std::string_view text, uint32_t *value);

// One line of the file, as offsets into its text.
struct SimulatedFileLine {
    size_t number = 0;          // from 1
    size_t begin = 0;           // its first byte
    size_t end = 0;             // where its line end starts (the text's end for the last)
    size_t next = 0;            // the first byte after its line end
    size_t wordCount = 0;       // its white-space separated words before any '#'
    std::string_view words[2];  // the first two of them
    size_t wordsEnd = 0;        // just after its last word (begin when it has none)
};

// Reads the line of text that starts at *position into *line and moves
// *position to the next one; false when no line is left. Pass the same
// line each time, so that it counts the lines.
NT_EXPORT bool NextSimulatedFileLine(std::string_view text, size_t *position,
                                     SimulatedFileLine *line);

}  // namespace nt

#endif  // NT_SIMULATED_ADAPTER_FILE_H

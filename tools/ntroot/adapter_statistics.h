// The NDIS statistics the Ethernet statistics agent asks an adapter for,
// with the short names people give them on ntroot's command line, and the
// parsing of a counter setting such as "fcs=6" or "0x0002020D=6".
//
// The agent serves each statistic in one column of dot3StatsTable (RFC
// 1643); a statistic its adapter does not answer ends every walk of the
// table at that cell, so a simulated adapter meant for a walk lists all 11.
#ifndef TOOLS_NTROOT_ADAPTER_STATISTICS_H
#define TOOLS_NTROOT_ADAPTER_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace ntroot {

struct AdapterStatistic {
    uint32_t identifier;     // the NDIS statistic identifier
    const char *name;        // the short name, as typed on the command line
    unsigned column;         // the dot3StatsEntry column it feeds
    const char *columnName;  // that column's object, dot3Stats...
};

// The 11 statistics, in the order of their columns.
constexpr size_t kAdapterStatisticCount = 11;
extern const AdapterStatistic kAdapterStatistics[kAdapterStatisticCount];

// The statistic of that identifier, or of that short name (any case); null
// when there is none.
const AdapterStatistic *FindAdapterStatistic(uint32_t identifier);
const AdapterStatistic *FindAdapterStatisticByName(const std::string &name);

// A number as simulated adapter files and the command line write it:
// decimal digits, or hexadecimal ones after 0x. False for anything else
// (signs, blanks, an empty word) and for a number above limit.
bool ParseAdapterNumber(const std::string &word, uint64_t limit, uint64_t *value);

// Whether word is written as such a number, whatever its size.
bool HasNumberShape(const std::string &word);

// One counter to set, from "STAT=VALUE": STAT is a short name or an
// identifier (decimal or 0x hexadecimal, at most 32 bits); VALUE is a
// non-negative number of at most 64 bits (the agents see it modulo 2^32).
struct CounterSetting {
    uint32_t identifier = 0;
    uint64_t value = 0;
    const AdapterStatistic *statistic = nullptr;  // null for an identifier the agent never asks
};

// False with *error, one phrase naming what is wrong, when text is not a
// counter setting.
bool ParseCounterSetting(const std::string &text, CounterSetting *setting, std::string *error);

// "0x0002020D", the way the files write identifiers.
std::string IdentifierText(uint32_t identifier);

}  // namespace ntroot

#endif  // TOOLS_NTROOT_ADAPTER_STATISTICS_H

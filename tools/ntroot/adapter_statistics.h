// The NDIS statistics on ntroot's command line (nt/adapter_statistics.h
// holds their table), and the parsing of a counter setting such as "fcs=6"
// or "0x0002020D=6".
#ifndef TOOLS_NTROOT_ADAPTER_STATISTICS_H
#define TOOLS_NTROOT_ADAPTER_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "nt/adapter_statistics.h"

namespace ntroot {

using nt::AdapterStatistic;
using nt::FindAdapterStatistic;
using nt::kAdapterStatisticCount;
using nt::kAdapterStatistics;

// The statistic of that short name (any case); null when there is none.
inline const AdapterStatistic *FindAdapterStatisticByName(const std::string &name) {
    return nt::FindAdapterStatisticByName(name.c_str());
}

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

// Counter settings on the command line; see adapter_statistics.h.
#include "adapter_statistics.h"

#include <cstdio>

#include "nt/simulated_adapter_file.h"

namespace ntroot {

bool HasNumberShape(const std::string &word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        return word.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    }
    return !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
}

bool ParseAdapterNumber(const std::string &word, uint64_t limit, uint64_t *value) {
    uint64_t parsed = 0;
    if (!nt::ParseStatisticNumber(word, &parsed) || parsed > limit) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseCounterSetting(const std::string &text, CounterSetting *setting, std::string *error) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "'" + text + "' is not STAT=VALUE";
        return false;
    }
    const std::string stat = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    CounterSetting parsed;
    if (stat.empty()) {
        *error = "'" + text + "' names no statistic";
        return false;
    }
    const char first = stat[0];
    if (first >= '0' && first <= '9') {
        uint64_t identifier = 0;
        if (!ParseAdapterNumber(stat, UINT32_MAX, &identifier)) {
            *error = "'" + stat +
                     "' is not a statistic identifier (a number of at most 32 bits, "
                     "decimal or 0x hexadecimal)";
            return false;
        }
        parsed.identifier = static_cast<uint32_t>(identifier);
        parsed.statistic = FindAdapterStatistic(parsed.identifier);
    } else {
        parsed.statistic = FindAdapterStatisticByName(stat);
        if (parsed.statistic == nullptr) {
            *error =
                "unknown statistic '" + stat + "' (see 'ntroot device sim --help' for the names)";
            return false;
        }
        parsed.identifier = parsed.statistic->identifier;
    }
    if (value.empty()) {
        *error = "'" + text + "' gives no value";
        return false;
    }
    if (!ParseAdapterNumber(value, UINT64_MAX, &parsed.value)) {
        // Well-formed digits that do not fit are told apart from the rest.
        *error = HasNumberShape(value)
                     ? "the value of '" + stat + "' is larger than 18446744073709551615 (2^64-1)"
                     : "the value of '" + stat + "' is not a non-negative number: '" + value + "'";
        return false;
    }
    *setting = parsed;
    return true;
}

std::string IdentifierText(uint32_t identifier) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", identifier);
    return text;
}

}  // namespace ntroot

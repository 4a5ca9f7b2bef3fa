// Fuzz target of the simulated adapter's parser, nt::FindStatistic.
//
// The input's first 4 bytes are the statistic asked for (little-endian);
// the rest is the adapter file's text. Besides running clean under the
// sanitizers, the parser must keep its contract on any text:
//  - it answers ERROR_SUCCESS, ERROR_NOT_SUPPORTED or ERROR_INVALID_DATA
//    (the value counts only on success: it may be written on the way to a
//    later malformed line, which the device layer never passes on);
//  - a well-formed line for the statistic added at the end decides the
//    answer, whatever came before (the last line counts), with its value
//    taken modulo 2^32;
//  - a malformed line for it added at the end makes it ERROR_INVALID_DATA;
//  - lines about another statistic, well-formed or not, put in front
//    change nothing.
// Built with libFuzzer this is a coverage-guided fuzzer; otherwise
// simulated_adapter_robustness.cc drives it.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simulated_adapter.h"

namespace {

[[noreturn]] void Violation(const char *what, DWORD statistic, const std::string &text) {
    std::fprintf(stderr, "simulated adapter parser: %s (statistic 0x%08X, %zu bytes of text)\n",
                 what, statistic, text.size());
    std::abort();
}

struct Answer {
    DWORD error;
    uint32_t value;
};

Answer Find(const std::string &text, DWORD statistic) {
    uint32_t value = 0;
    const DWORD error = nt::FindStatistic(text, statistic, &value);
    if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_DATA) {
        Violation("unexpected error code", statistic, text);
    }
    return {error, error == ERROR_SUCCESS ? value : 0};
}

std::string Hex(uint64_t number) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIX64, number);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) {
        return 0;
    }
    DWORD statistic = 0;
    for (int i = 3; i >= 0; --i) {
        statistic = (statistic << 8) | data[i];
    }
    const std::string text(reinterpret_cast<const char *>(data + 4), size - 4);
    const Answer plain = Find(text, statistic);

    // A counter from the input's size and first bytes, as wide as 64 bits.
    const uint64_t counter = (uint64_t{statistic} << 32 | size) * 0x9E3779B97F4A7C15u;
    const Answer last =
        Find(text + "\n" + Hex(statistic) + "\t" + std::to_string(counter) + "\n", statistic);
    if (last.error != ERROR_SUCCESS || last.value != static_cast<uint32_t>(counter)) {
        Violation("the last well-formed line does not count", statistic, text);
    }
    const Answer broken = Find(text + "\n" + std::to_string(statistic) + " 12z\n", statistic);
    if (broken.error != ERROR_INVALID_DATA) {
        Violation("the last malformed line does not count", statistic, text);
    }
    const std::string other = Hex(statistic ^ 0x80000000u);
    const Answer prefixed = Find(other + " 1\n" + other + " junk # note\n" + text, statistic);
    if (prefixed.error != plain.error || prefixed.value != plain.value) {
        Violation("another statistic's lines change the answer", statistic, text);
    }
    return 0;
}

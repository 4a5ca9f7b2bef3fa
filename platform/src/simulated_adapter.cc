// Simulated adapters; see simulated_adapter.h.
#include "simulated_adapter.h"

namespace nt {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

int DigitValue(char c, int base) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
        digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
    }
    return digit < base ? digit : -1;
}

// Reads the digits of a number as the file writes it (decimal, or
// hexadecimal after 0x), keeping the result modulo 2^64; *wrapped tells
// whether it did not fit. False when the text is not such a number.
bool ParseDigits(std::string_view text, uint64_t *value, bool *wrapped) {
    size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size()) {
        return false;
    }
    uint64_t result = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) {
            return false;
        }
        if (result > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) {
            overflow = true;
        }
        result = result * base + static_cast<uint64_t>(digit);  // modulo 2^64
    }
    *value = result;
    *wrapped = overflow;
    return true;
}

}  // namespace

bool ParseStatisticNumber(std::string_view text, uint64_t *value) {
    uint64_t result = 0;
    bool wrapped = false;
    if (!ParseDigits(text, &result, &wrapped) || wrapped) {
        return false;
    }
    *value = result;
    return true;
}

bool ParseCounterValue(std::string_view text, uint32_t *value) {
    // 2^32 divides 2^64, so the digits taken modulo 2^64 keep the value's
    // low 32 bits exact however long the number is.
    uint64_t result = 0;
    bool wrapped = false;
    if (!ParseDigits(text, &result, &wrapped)) {
        return false;
    }
    *value = static_cast<uint32_t>(result);
    return true;
}

DWORD FindStatistic(std::string_view text, DWORD statistic, uint32_t *value, size_t *badLine) {
    DWORD answer = ERROR_NOT_SUPPORTED;
    const char *at = text.data();
    const char *const end = at + text.size();
    size_t lineNumber = 0;
    bool afterCr = false;  // a LF right after a CR ends no further line
    while (at < end) {
        if (*at == '\n' && afterCr) {
            afterCr = false;
            ++at;
            continue;
        }
        ++lineNumber;
        const char *lineEnd = at;
        while (lineEnd < end && !IsLineEnd(*lineEnd)) {
            ++lineEnd;
        }
        const char *const next = lineEnd < end ? lineEnd + 1 : end;
        afterCr = lineEnd < end && *lineEnd == '\r';
        for (const char *hash = at; hash < lineEnd; ++hash) {
            if (*hash == '#') {
                lineEnd = hash;
                break;
            }
        }
        // The white-space separated words of the line: the first two, and
        // how many there are.
        std::string_view words[2];
        size_t count = 0;
        for (const char *i = at; i < lineEnd;) {
            while (i < lineEnd && IsBlank(*i)) {
                ++i;
            }
            const char *j = i;
            while (j < lineEnd && !IsBlank(*j)) {
                ++j;
            }
            if (j > i) {
                if (count < 2) {
                    words[count] = std::string_view(i, static_cast<size_t>(j - i));
                }
                ++count;
            }
            i = j;
        }
        at = next;
        uint64_t identifier = 0;
        if (count == 0 || !ParseStatisticNumber(words[0], &identifier) ||
            identifier != statistic) {
            continue;
        }
        uint32_t number = 0;
        if (count != 2 || !ParseCounterValue(words[1], &number)) {
            answer = ERROR_INVALID_DATA;
            if (badLine != nullptr) {
                *badLine = lineNumber;
            }
        } else {
            answer = ERROR_SUCCESS;
            *value = number;
        }
    }
    return answer;
}

}  // namespace nt

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

bool NextSimulatedFileLine(std::string_view text, size_t *position, SimulatedFileLine *line) {
    size_t at = *position;
    if (at >= text.size()) {
        return false;
    }
    size_t end = at;
    while (end < text.size() && !IsLineEnd(text[end])) {
        ++end;
    }
    size_t next = end;
    if (next < text.size()) {
        // CRLF is one line end.
        next += text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n' ? 2 : 1;
    }
    size_t content = at;
    while (content < end && text[content] != '#') {
        ++content;
    }
    ++line->number;
    line->begin = at;
    line->end = end;
    line->next = next;
    line->wordCount = 0;
    line->words[0] = line->words[1] = std::string_view();
    line->wordsEnd = at;
    for (size_t i = at; i < content;) {
        while (i < content && IsBlank(text[i])) {
            ++i;
        }
        size_t j = i;
        while (j < content && !IsBlank(text[j])) {
            ++j;
        }
        if (j > i) {
            if (line->wordCount < 2) {
                line->words[line->wordCount] = text.substr(i, j - i);
            }
            ++line->wordCount;
            line->wordsEnd = j;
        }
        i = j;
    }
    *position = next;
    return true;
}

DWORD FindStatistic(std::string_view text, DWORD statistic, uint32_t *value, size_t *badLine) {
    DWORD answer = ERROR_NOT_SUPPORTED;
    SimulatedFileLine line;
    size_t position = 0;
    while (NextSimulatedFileLine(text, &position, &line)) {
        uint64_t identifier = 0;
        if (line.wordCount == 0 || !ParseStatisticNumber(line.words[0], &identifier) ||
            identifier != statistic) {
            continue;
        }
        uint32_t number = 0;
        if (line.wordCount != 2 || !ParseCounterValue(line.words[1], &number)) {
            answer = ERROR_INVALID_DATA;
            if (badLine != nullptr) {
                *badLine = line.number;
            }
        } else {
            answer = ERROR_SUCCESS;
            *value = number;
        }
    }
    return answer;
}

}  // namespace nt

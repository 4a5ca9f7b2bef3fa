// Simulated adapters; see simulated_adapter.h.
#include "simulated_adapter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "errors.h"

namespace nt {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

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
bool ParseDigits(const std::string &text, uint64_t *value, bool *wrapped) {
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

bool ParseStatisticNumber(const std::string &text, uint64_t *value) {
    uint64_t result = 0;
    bool wrapped = false;
    if (!ParseDigits(text, &result, &wrapped) || wrapped) {
        return false;
    }
    *value = result;
    return true;
}

bool ParseCounterValue(const std::string &text, uint32_t *value) {
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

DWORD FindStatistic(const std::string &text, DWORD statistic, uint32_t *value) {
    DWORD answer = ERROR_NOT_SUPPORTED;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t comment = line.find('#');
        if (comment != std::string::npos) {
            line.erase(comment);
        }
        // Split into white-space separated words.
        std::string words[3];
        size_t count = 0;
        for (size_t i = 0; i < line.size();) {
            while (i < line.size() && IsBlank(line[i])) {
                ++i;
            }
            size_t j = i;
            while (j < line.size() && !IsBlank(line[j])) {
                ++j;
            }
            if (j > i) {
                if (count < 3) {
                    words[count] = line.substr(i, j - i);
                }
                ++count;
            }
            i = j;
        }
        uint64_t identifier = 0;
        if (count == 0 || !ParseStatisticNumber(words[0], &identifier) ||
            identifier != statistic) {
            continue;
        }
        uint32_t number = 0;
        if (count != 2 || !ParseCounterValue(words[1], &number)) {
            answer = ERROR_INVALID_DATA;
        } else {
            answer = ERROR_SUCCESS;
            *value = number;
        }
    }
    return answer;
}

DWORD ReadSimulatedStatistic(const std::string &path, DWORD statistic, uint32_t *value) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ErrorFromErrno(errno, "open", path);
        return ERROR_DEV_NOT_EXIST;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ErrorFromErrno(errno, "read", path);
            close(fd);
            return ERROR_DEV_NOT_EXIST;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    uint32_t found = 0;
    const DWORD answer = FindStatistic(text, statistic, &found);
    if (answer == ERROR_SUCCESS) {
        *value = found;
    }
    return answer;
}

}  // namespace nt

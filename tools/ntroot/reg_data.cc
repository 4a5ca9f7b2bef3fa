// Registry values as text; see reg_data.h.
#include "reg_data.h"

#include <cstdint>
#include <cstdio>
#include <strings.h>

#include "nt/win32.h"

namespace ntroot {

namespace {

struct NamedType {
    const char *name;
    DWORD type;
    bool accepted;  // taken by /t
};

const NamedType kTypes[] = {
    {"REG_NONE", REG_NONE, true},
    {"REG_SZ", REG_SZ, true},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ, true},
    {"REG_BINARY", REG_BINARY, true},
    {"REG_DWORD", REG_DWORD, true},
    {"REG_DWORD_BIG_ENDIAN", 5, false},
    {"REG_LINK", 6, false},
    {"REG_MULTI_SZ", REG_MULTI_SZ, true},
    {"REG_RESOURCE_LIST", 8, false},
    {"REG_FULL_RESOURCE_DESCRIPTOR", 9, false},
    {"REG_RESOURCE_REQUIREMENTS_LIST", 10, false},
    {"REG_QWORD", REG_QWORD, true},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A number of at most bits bits, decimal or 0x hexadecimal.
bool ParseNumber(const std::string &text, int bits, uint64_t *value) {
    size_t i = 0;
    uint64_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size()) {
        return false;
    }
    const uint64_t limit = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || static_cast<uint64_t>(digit) >= base ||
            result > (limit - static_cast<uint64_t>(digit)) / base) {
            return false;
        }
        result = result * base + static_cast<uint64_t>(digit);
    }
    *value = result;
    return true;
}

std::string Hex(const std::string &bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

}  // namespace

bool ParseTypeName(const std::string &name, DWORD *type) {
    for (const NamedType &entry : kTypes) {
        if (entry.accepted && strcasecmp(entry.name, name.c_str()) == 0) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

std::string TypeName(DWORD type) {
    for (const NamedType &entry : kTypes) {
        if (entry.type == type) {
            return entry.name;
        }
    }
    char name[32];
    std::snprintf(name, sizeof name, "REG_0x%X", type);
    return name;
}

bool EncodeData(DWORD type, const std::string &text, std::string *bytes, std::string *error) {
    bytes->clear();
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            *bytes = text;
            bytes->push_back('\0');
            return true;
        case REG_MULTI_SZ: {
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find("\\0", start);
                if (end == std::string::npos) {
                    end = text.size();
                }
                if (end == start) {
                    *error = "REG_MULTI_SZ data cannot hold an empty string";
                    return false;
                }
                bytes->append(text, start, end - start);
                bytes->push_back('\0');
                start = end + 2;
            }
            bytes->push_back('\0');
            return true;
        }
        case REG_DWORD:
        case REG_QWORD: {
            const int bits = type == REG_DWORD ? 32 : 64;
            uint64_t number = 0;
            if (!ParseNumber(text, bits, &number)) {
                *error = "REG_" + std::string(bits == 32 ? "DWORD" : "QWORD") +
                         " data must be a number from 0 to " +
                         (bits == 32 ? "4294967295" : "18446744073709551615") +
                         ", decimal or 0x hexadecimal";
                return false;
            }
            for (int i = 0; i < bits / 8; ++i) {
                bytes->push_back(static_cast<char>(number >> (8 * i)));
            }
            return true;
        }
        case REG_BINARY:
        case REG_NONE:
            if (text.size() % 2 != 0) {
                *error = TypeName(type) + " data must be pairs of hexadecimal digits";
                return false;
            }
            for (size_t i = 0; i < text.size(); i += 2) {
                const int high = HexDigit(text[i]);
                const int low = HexDigit(text[i + 1]);
                if (high < 0 || low < 0) {
                    *error = TypeName(type) + " data must be pairs of hexadecimal digits";
                    return false;
                }
                bytes->push_back(static_cast<char>(high * 16 + low));
            }
            return true;
        default:
            *error = "values of type " + TypeName(type) + " cannot be written here";
            return false;
    }
}

std::string FormatData(DWORD type, const std::string &bytes) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: return bytes.substr(0, bytes.find('\0'));
        case REG_MULTI_SZ: {
            std::string text;
            size_t start = 0;
            while (start < bytes.size()) {
                size_t end = bytes.find('\0', start);
                if (end == std::string::npos) {
                    end = bytes.size();
                }
                if (end == start) {
                    break;  // the empty string that ends the list
                }
                if (!text.empty()) {
                    text += "\\0";
                }
                text.append(bytes, start, end - start);
                start = end + 1;
            }
            return text;
        }
        case REG_DWORD:
        case REG_QWORD: {
            const size_t size = type == REG_DWORD ? 4 : 8;
            if (bytes.size() != size) {
                return Hex(bytes);
            }
            uint64_t number = 0;
            for (size_t i = 0; i < size; ++i) {
                number |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
            }
            char text[32];
            std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(number));
            return text;
        }
        default: return Hex(bytes);
    }
}

}  // namespace ntroot

// Fuzz target of ntroot's registry data: the /d text of `ntroot reg add`
// turned into a value's bytes, and any value's bytes shown as text.
//
// Input: a byte choosing the type, then the text (or the stored bytes).
// Contract:
//  - a type name reg takes reads back as its type;
//  - text that fits its type gives bytes whose shown text gives the same
//    bytes again (what `reg query` shows, `reg add` takes back); text that
//    does not fit gives one sentence of error;
//  - REG_DWORD and REG_QWORD hold exactly 4 and 8 bytes;
//  - any bytes of any type, as stored by another program, show as text
//    without fault.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "nt/win32.h"
#include "reg_data.h"

namespace {

const char Target[] = "registry data";

constexpr DWORD Types[] = {REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
                           REG_QWORD, REG_BINARY,    REG_NONE};

std::string Describe(DWORD type, const std::string &text) {
    return ntroot::TypeName(type) + " \"" + text + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Bytes input(data, size);
    const uint8_t choice = input.Byte();
    // Mostly the types reg takes; now and then any type another program
    // may have stored.
    const DWORD type = choice < 0xF0   ? Types[choice % (sizeof Types / sizeof Types[0])]
                       : choice < 0xF8 ? DWORD{input.Byte()} % 16
                                       : input.Number<DWORD>();
    const std::string text = input.Rest();

    DWORD named = 0;
    const std::string name = ntroot::TypeName(type);
    const bool accepted = ntroot::ParseTypeName(name, &named);
    if (accepted && named != type) {
        fuzz::Violation(Target, name + " reads back as another type");
    }

    // Stored bytes, whatever they hold, show without fault.
    (void)ntroot::FormatData(type, text);

    // A command line cannot carry a NUL: /d text stops at the first.
    const std::string typed = text.substr(0, text.find('\0'));
    std::string bytes;
    std::string error;
    if (!ntroot::EncodeData(type, typed, &bytes, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) {
            fuzz::Violation(Target, "refused without one line of error: " + Describe(type, typed));
        }
        if (accepted && type != REG_MULTI_SZ && type != REG_DWORD && type != REG_QWORD &&
            type != REG_BINARY && type != REG_NONE) {
            fuzz::Violation(Target, "a string was refused: " + Describe(type, typed));
        }
        return 0;
    }
    if (!accepted) {
        fuzz::Violation(Target, "a type reg does not take was written: " + name);
    }
    if ((type == REG_DWORD && bytes.size() != 4) || (type == REG_QWORD && bytes.size() != 8)) {
        fuzz::Violation(Target, "a number of the wrong size: " + Describe(type, typed));
    }
    const std::string shown = ntroot::FormatData(type, bytes);
    std::string again;
    if (!ntroot::EncodeData(type, shown, &again, &error) || again != bytes) {
        fuzz::Violation(Target, "the shown text \"" + shown + "\" does not give the bytes of " +
                                    Describe(type, typed));
    }
    return 0;
}

namespace {

const char *const Texts[] = {
    "",
    "0",
    "5",
    "4294967295",
    "4294967296",
    "18446744073709551615",
    "18446744073709551616",
    "0x",
    "0x0",
    "0xFFFFFFFF",
    "0x100000000",
    "0xffffffffffffffff",
    "0x1ffffffffffffffff",
    "-1",
    "+1",
    " 1",
    "1 ",
    "00",
    "0x0g",
    "ab",
    "AB12",
    "a",
    "xyz",
    "C:\\Windows",
    "a\\0b",
    "a\\0",
    "\\0",
    "\\0\\0",
    "a\\0\\0b",
    "\\",
    "%SystemRoot%\\System32",
    "with space",
};

}  // namespace

std::string GenerateFuzzInput(std::mt19937 &random) {
    std::string input(1, static_cast<char>(random() % 4 == 0 ? random() % 256 : random() % 7));
    if (static_cast<uint8_t>(input[0]) >= 0xF0) {
        input += std::string(4, static_cast<char>(random() % 16));
    }
    const size_t pieces = 1 + random() % 3;
    for (size_t i = 0; i < pieces; ++i) {
        input += Texts[random() % (sizeof Texts / sizeof Texts[0])];
    }
    if (random() % 6 == 0) {
        input.insert(1 + random() % input.size(), 1, static_cast<char>(random() % 256));
    }
    return input;
}

// ntroot's registry data: /d text to bytes and bytes to reg's text, as
// accept and reject tables.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "reg_data.h"

namespace ntroot {
namespace {

std::string Bytes(const char *text, size_t size) { return std::string(text, size); }

TEST(RegData, TextBecomesTheBytesRegStores) {
    struct Case {
        DWORD type;
        std::string text;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {REG_SZ, "abc", Bytes("abc", 4)},
        {REG_SZ, "", Bytes("", 1)},
        {REG_EXPAND_SZ, "%SystemRoot%\\x", Bytes("%SystemRoot%\\x", 15)},
        {REG_MULTI_SZ, "a\\0bc", Bytes("a\0bc\0\0", 6)},
        {REG_MULTI_SZ, "one", Bytes("one\0\0", 5)},
        {REG_MULTI_SZ, "", Bytes("", 1)},
        {REG_DWORD, "0", Bytes("\0\0\0\0", 4)},
        {REG_DWORD, "4294967295", Bytes("\xff\xff\xff\xff", 4)},
        {REG_DWORD, "0x12345678", Bytes("\x78\x56\x34\x12", 4)},
        {REG_DWORD, "0XfF", Bytes("\xff\0\0\0", 4)},
        {REG_QWORD, "18446744073709551615", std::string(8, '\xff')},
        {REG_QWORD, "0x0102030405060708", Bytes("\x08\x07\x06\x05\x04\x03\x02\x01", 8)},
        {REG_BINARY, "00ff10Ab", Bytes("\0\xff\x10\xab", 4)},
        {REG_BINARY, "", ""},
        {REG_NONE, "01", Bytes("\1", 1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(TypeName(c.type) + " " + c.text);
        std::string bytes, error;
        ASSERT_TRUE(EncodeData(c.type, c.text, &bytes, &error)) << error;
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST(RegData, TextThatDoesNotFitItsTypeIsRefused) {
    struct Case {
        DWORD type;
        std::string text;
    };
    const std::vector<Case> cases = {
        {REG_DWORD, ""},
        {REG_DWORD, "4294967296"},
        {REG_DWORD, "-1"},
        {REG_DWORD, "0x"},
        {REG_DWORD, "0x100000000"},
        {REG_DWORD, "12a"},
        {REG_DWORD, " 1"},
        {REG_QWORD, "18446744073709551616"},
        {REG_BINARY, "0"},
        {REG_BINARY, "0g"},
        {REG_NONE, "abc"},
        {REG_MULTI_SZ, "a\\0\\0b"},
        {REG_MULTI_SZ, "\\0a"},
        {6 /* REG_LINK */, "x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(TypeName(c.type) + " '" + c.text + "'");
        std::string bytes, error;
        EXPECT_FALSE(EncodeData(c.type, c.text, &bytes, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(RegData, BytesAreShownAsRegShowsThem) {
    struct Case {
        DWORD type;
        std::string bytes;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {REG_SZ, Bytes("abc", 4), "abc"},
        {REG_SZ, Bytes("abc", 3), "abc"},  // stored without its NUL
        {REG_EXPAND_SZ, Bytes("%windir%\0junk", 13), "%windir%"},
        {REG_MULTI_SZ, Bytes("a\0bc\0\0", 6), "a\\0bc"},
        {REG_MULTI_SZ, Bytes("a\0b", 3), "a\\0b"},
        {REG_MULTI_SZ, Bytes("\0", 1), ""},
        {REG_DWORD, Bytes("\x10\0\0\0", 4), "0x10"},
        {REG_DWORD, Bytes("\x10\0", 2), "1000"},  // the wrong size: bytes
        {REG_QWORD, Bytes("\1\0\0\0\0\0\0\x80", 8), "0x8000000000000001"},
        {REG_BINARY, Bytes("\0\xab\x10", 3), "00AB10"},
        {REG_NONE, "", ""},
        {0x99, Bytes("\1", 1), "01"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(TypeName(c.type));
        EXPECT_EQ(FormatData(c.type, c.bytes), c.shown);
    }
    EXPECT_EQ(TypeName(REG_EXPAND_SZ), "REG_EXPAND_SZ");
    EXPECT_EQ(TypeName(0x99), "REG_0x99");
    DWORD type = 0;
    EXPECT_TRUE(ParseTypeName("reg_qword", &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    EXPECT_FALSE(ParseTypeName("REG_LINK", &type));
    EXPECT_FALSE(ParseTypeName("SZ", &type));
}

}  // namespace
}  // namespace ntroot

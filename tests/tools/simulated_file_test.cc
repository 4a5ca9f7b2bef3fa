// How ntroot changes a simulated adapter's text: the lines that name a
// statistic get the new value, everything else stays byte for byte.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device_entries.h"
#include "simulated_file.h"

namespace ntroot {
namespace {

CounterSetting Set(uint32_t identifier, uint64_t value) {
    CounterSetting setting;
    setting.identifier = identifier;
    setting.value = value;
    setting.statistic = FindAdapterStatistic(identifier);
    return setting;
}

TEST(SimulatedFile, AnEditTouchesOnlyTheLinesOfTheStatisticsSet) {
    struct Case {
        const char *what;
        std::string text;
        std::vector<CounterSetting> settings;
        std::string edited;
        size_t appended;
    };
    const std::string fcsLine = "0x0002020D 3            # fcs: dot3StatsFCSErrors";
    const std::vector<Case> cases = {
        {"an empty file", "", {Set(0x0002020D, 3)}, fcsLine + "\n", 1},
        {"no newline at the end", "0x0002020D 5", {Set(0x0002020D, 3)}, "0x0002020D 3", 0},
        {"no newline, then a new line",
         "# only a comment",
         {Set(0x0002020D, 3)},
         "# only a comment\n" + fcsLine + "\n",
         1},
        {"CRLF lines stay CRLF",
         "0x0002020D 1\r\n# c\r\n",
         {Set(0x0002020D, 2), Set(0x01020101, 3)},
         "0x0002020D 2\r\n# c\r\n0x01020101 3            # alignment: dot3StatsAlignmentErrors\r\n",
         1},
        {"extra words after the value go",
         "0x0002020D 1 2   # two values\n",
         {Set(0x0002020D, 3)},
         "0x0002020D 3   # two values\n",
         0},
        {"an identifier alone gets its value",
         "  0x0002020D\t# c\n",
         {Set(0x0002020D, 3)},
         "  0x0002020D 3\t# c\n",
         0},
        {"any spelling of the identifier",
         "0X0002020d 1\n131597 2\n0x000000000002020D 4\n",
         {Set(0x0002020D, 18446744073709551615u)},
         "0X0002020d 18446744073709551615\n131597 18446744073709551615\n"
         "0x000000000002020D 18446744073709551615\n",
         0},
        {"comments and other statistics stay",
         "# 0x0002020D 1\n0x01020101 1 # 0x0002020D\n",
         {Set(0x0002020D, 3)},
         "# 0x0002020D 1\n0x01020101 1 # 0x0002020D\n" + fcsLine + "\n",
         1},
        {"an identifier beyond 64 bits names nothing",
         "0x10000000000000000002020D 1\n",
         {Set(0x0002020D, 3)},
         "0x10000000000000000002020D 1\n" + fcsLine + "\n",
         1},
        {"an identifier the agent never asks", "\n", {Set(0x00020101, 7)}, "\n0x00020101 7\n", 1},
        // A CR alone ends a line, as the platform reads it: the edit of one
        // such line leaves the next one whole.
        {"lines ending in CR alone stay apart",
         "0x01020101 1\r0x0002020D 5\r",
         {Set(0x01020101, 7)},
         "0x01020101 7\r0x0002020D 5\r",
         0},
        {"every CR-ended line of the statistic",
         "0x0002020D 1\r0x0002020D 2",
         {Set(0x0002020D, 3)},
         "0x0002020D 3\r0x0002020D 3",
         0},
        {"appended after a last line ending in CR",
         "# c\r",
         {Set(0x0002020D, 3)},
         "# c\r" + fcsLine + "\n",
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        size_t appended = 99;
        EXPECT_EQ(EditSimulatedFile(c.text, c.settings, &appended), c.edited);
        EXPECT_EQ(appended, c.appended);
    }
}

TEST(SimulatedFile, StatisticsCountedAsThePlatformReadsTheLines) {
    const struct {
        const char *what;
        std::string text;
        size_t statistics;
        size_t malformed;
    } cases[] = {
        {"empty", "", 0, 0},
        {"comments and blank lines", "# a\n\n  \t# 0x0002020D 1\n", 0, 0},
        {"one statistic twice, spelt two ways", "0x0002020D 1\n131597 2\n", 1, 0},
        {"CRLF, CR and LF line ends", "0x0002020D 1\r\n0x01020101 2\r0x01020102 3\n", 3, 0},
        {"a value of any length", "0x0002020D 0xFFFFFFFFFFFFFFFFFFFF\n", 1, 0},
        {"malformed lines", "0x0002020D\n0x0002020D 1 2\nfcs 1\n0x0002020D -1\n", 0, 4},
        {"an identifier beyond 32 bits", "0x100000000 1\n", 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        size_t statistics = 99;
        size_t malformed = 99;
        CountStatistics(c.text, &statistics, &malformed);
        EXPECT_EQ(statistics, c.statistics);
        EXPECT_EQ(malformed, c.malformed);
    }
}

TEST(SimulatedFile, CounterSettingsAccepted) {
    struct Case {
        const char *text;
        uint32_t identifier;
        uint64_t value;
    };
    const Case cases[] = {
        {"fcs=0", 0x0002020D, 0},
        {"FCS=0x1f", 0x0002020D, 31},
        {"Excessive-Collisions=4294967296", 0x01020202, 4294967296u},
        {"0x0002020d=1", 0x0002020D, 1},
        {"131597=2", 0x0002020D, 2},
        {"0xFFFFFFFF=0xFFFFFFFFFFFFFFFF", 0xFFFFFFFF, 18446744073709551615u},
        {"0=18446744073709551615", 0, 18446744073709551615u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        CounterSetting setting;
        std::string error;
        ASSERT_TRUE(ParseCounterSetting(c.text, &setting, &error)) << error;
        EXPECT_EQ(setting.identifier, c.identifier);
        EXPECT_EQ(setting.value, c.value);
        EXPECT_EQ(setting.statistic, FindAdapterStatistic(c.identifier));
    }
}

}  // namespace
}  // namespace ntroot

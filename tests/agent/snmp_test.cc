// The identifier utilities and the diagnostic log.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "agent_fixture.h"

namespace {

using IdentifierTest = AgentTest;

AsnObjectIdentifier Oid(Arcs &arcs) {
    return {static_cast<UINT>(arcs.size()), arcs.empty() ? nullptr : arcs.data()};
}

Arcs ArcsOf(const AsnObjectIdentifier &oid) { return Arcs(oid.ids, oid.ids + oid.idLength); }

TEST_F(IdentifierTest, CopyThenAppendBuildsARowNameInOneBlock) {
    Arcs view = {1, 3, 6, 1, 2, 1, 10, 7, 2, 1};
    Arcs suffix = {0, 0};
    AsnObjectIdentifier source = Oid(view), tail = Oid(suffix);
    AsnObjectIdentifier row = {0, nullptr};
    ASSERT_TRUE(OidCopy(&row, &source));
    ASSERT_TRUE(OidAppend(&row, &tail));
    EXPECT_EQ(ArcsOf(row), (Arcs{1, 3, 6, 1, 2, 1, 10, 7, 2, 1, 0, 0}));
    EXPECT_EQ(GlobalSize(row.ids), 48u);
    EXPECT_EQ(fake::P().liveGlobalBlocks.size(), 1u);
    GlobalFree(row.ids);
}

TEST_F(IdentifierTest, CopyLeavesTheDestinationsOldBlockAlone) {
    Arcs a = {1, 2, 3};
    AsnObjectIdentifier source = Oid(a);
    AsnObjectIdentifier destination = {0, nullptr};
    ASSERT_TRUE(OidCopy(&destination, &source));
    UINT *first = destination.ids;
    ASSERT_TRUE(OidCopy(&destination, &source));
    EXPECT_NE(destination.ids, first);
    EXPECT_EQ(fake::P().liveGlobalBlocks.count(first), 1u) << "the old block must not be released";
    GlobalFree(first);
    GlobalFree(destination.ids);
}

TEST_F(IdentifierTest, AppendLengths) {
    struct Case {
        UINT destination, source;
        bool succeeds;
    } cases[] = {
        {0, 5, true},                                    // onto an empty identifier: a fresh block
        {7, 0, true},                                    // nothing to append
        {32500, 12, true},                               // exactly the limit
        {32500, 13, false},                              // one past it
        {0, 32513, false},  {0xFFFFFFF0u, 0x20, false},  // a sum that would wrap in 32 bits
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.destination) + " + " + std::to_string(c.source));
        fake::Reset();
        const bool hugeDestination = c.destination > 100000;
        Arcs destinationArcs(hugeDestination ? 1 : c.destination, 7);
        Arcs sourceArcs(c.source > 100000 ? 1 : c.source, 9);
        AsnObjectIdentifier source = {c.source, sourceArcs.data()};
        AsnObjectIdentifier destination = {0, nullptr};
        if (c.destination != 0) {
            AsnObjectIdentifier start = Oid(destinationArcs);
            ASSERT_TRUE(OidCopy(&destination, &start));
            destination.idLength = c.destination;  // only the length matters past the limit
        }
        const AsnObjectIdentifier before = destination;
        SetLastError(0);
        EXPECT_EQ(OidAppend(&destination, &source), c.succeeds ? TRUE : FALSE);
        if (c.succeeds) {
            EXPECT_EQ(destination.idLength, c.destination + c.source);
            for (UINT i = 0; i < c.source; ++i) {
                ASSERT_EQ(destination.ids[c.destination + i], 9u);
            }
            for (UINT i = 0; i < c.destination; ++i) {
                ASSERT_EQ(destination.ids[i], 7u);
            }
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACCESS));
            EXPECT_EQ(destination.idLength, before.idLength);
            EXPECT_EQ(destination.ids, before.ids);
        }
        GlobalFree(destination.ids);
    }
}

TEST_F(IdentifierTest, CopyOfAnEmptyIdentifierAsksForZeroBytes) {
    AsnObjectIdentifier empty = {0, nullptr};
    AsnObjectIdentifier destination = {5, nullptr};
    ASSERT_TRUE(OidCopy(&destination, &empty));
    EXPECT_EQ(destination.idLength, 0u);
    ASSERT_NE(destination.ids, nullptr);
    EXPECT_EQ(GlobalSize(destination.ids), 0u);
    GlobalFree(destination.ids);
}

TEST_F(IdentifierTest, AllocationFailures) {
    Arcs arcs = {1, 3, 6};
    AsnObjectIdentifier source = Oid(arcs);

    // OidCopy: the destination's arcs pointer is null, its length as it was.
    fake::P().failAllGlobalCalls = true;
    AsnObjectIdentifier copy = {42, arcs.data()};
    SetLastError(0);
    EXPECT_FALSE(OidCopy(&copy, &source));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(copy.ids, nullptr);
    EXPECT_EQ(copy.idLength, 42u);

    // OidAppend, growing a block or making one: the destination as it was.
    fake::P().failAllGlobalCalls = false;
    AsnObjectIdentifier grown = {0, nullptr};
    ASSERT_TRUE(OidCopy(&grown, &source));
    fake::P().failAllGlobalCalls = true;
    for (AsnObjectIdentifier *destination : {&grown, &copy}) {
        const AsnObjectIdentifier before = *destination;
        SetLastError(0);
        EXPECT_FALSE(OidAppend(destination, &source));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        EXPECT_EQ(destination->ids, before.ids);
        EXPECT_EQ(destination->idLength, before.idLength);
    }
    EXPECT_EQ(ArcsOf(grown), arcs);
    GlobalFree(grown.ids);
}

using LogTest = AgentTest;

TEST_F(LogTest, ShippedSettingsSendLevelsUpToOneToTheEventLogOnly) {
    ::testing::internal::CaptureStdout();
    AgentLog(2, "not %s\n", "emitted");
    AgentLog(1, "one\n");
    AgentLog(0, "zero\n");
    AgentLog(-7, "negative %d\n", -7);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const auto &events = fake::P().events;
    ASSERT_EQ(events.size(), 3u);
    const char *texts[] = {"one\n", "zero\n", "negative -7\n"};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].source, "SNMP");
        EXPECT_EQ(events[i].type, EVENTLOG_INFORMATION_TYPE);
        EXPECT_EQ(events[i].category, 0);
        EXPECT_EQ(events[i].id, 1999u);
        EXPECT_EQ(events[i].strings, std::vector<std::string>{texts[i]});
    }
    EXPECT_EQ(fake::P().registered, 1) << "the source is registered once and kept";
}

TEST_F(LogTest, TheOverflowMessageIsSuppressedByTheShippedThreshold) {
    Arcs arcs(32512, 1);
    AsnObjectIdentifier big = {0, nullptr}, source = Oid(arcs), one = {1, arcs.data()};
    ASSERT_TRUE(OidAppend(&big, &source));
    EXPECT_FALSE(OidAppend(&big, &one));
    EXPECT_TRUE(fake::P().events.empty());
    EXPECT_EQ(fake::P().registered, 0);
    GlobalFree(big.ids);
}

TEST_F(LogTest, OverflowMessageTextWhenLogged) {
    LogLevel = 2;
    Arcs arcs(32512, 1);
    AsnObjectIdentifier big = {0, nullptr}, source = Oid(arcs), one = {1, arcs.data()};
    ASSERT_TRUE(OidAppend(&big, &source));
    EXPECT_FALSE(OidAppend(&big, &one));
    ASSERT_EQ(fake::P().events.size(), 1u);
    EXPECT_EQ(fake::P().events[0].strings[0],
              "OID append overflow; DestObjId->idLength=32512, SrcObjId->idLength=1\n");
    GlobalFree(big.ids);
}

TEST_F(LogTest, NoTargetsWritesNowhere) {
    LogTargets = 0;
    ::testing::internal::CaptureStdout();
    AgentLog(0, "nowhere\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fake::P().events.empty());
}

TEST_F(LogTest, AFailedReportDeregistersAndTheNextMessageRegistersAgain) {
    fake::P().failReportCalls = {1};
    AgentLog(1, "lost\n");
    EXPECT_EQ(fake::P().deregistered, 1);
    EXPECT_EQ(LogEventSource, nullptr);
    AgentLog(1, "kept\n");
    EXPECT_EQ(fake::P().registered, 2);
    ASSERT_EQ(fake::P().events.size(), 1u);
    EXPECT_EQ(fake::P().events[0].strings[0], "kept\n");
}

TEST_F(LogTest, ARegistrationThatFailsIsTriedAgainNextTime) {
    fake::P().registerFails = true;
    AgentLog(1, "lost\n");
    EXPECT_TRUE(fake::P().events.empty());
    fake::P().registerFails = false;
    AgentLog(1, "kept\n");
    EXPECT_EQ(fake::P().events.size(), 1u);
}

TEST_F(LogTest, FileAndConsoleTargets) {
    char folder[] = "/tmp/agentlog.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder), 0);
    {
        std::ofstream stale("snmpdbg.log");
        stale << "from an earlier load\n";
    }
    LogTargets = LOG_TO_FILE | LOG_TO_CONSOLE;
    ::testing::internal::CaptureStdout();
    AgentLog(1, "first %d\n", 1);
    // Flushed at once: the file holds the message before the next one.
    std::ifstream early("snmpdbg.log");
    std::stringstream seen;
    seen << early.rdbuf();
    EXPECT_EQ(seen.str(), "first 1\n");
    AgentLog(1, "second\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "first 1\nsecond\n");
    std::ifstream file("snmpdbg.log");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "first 1\nsecond\n");
    EXPECT_TRUE(fake::P().events.empty());
    ASSERT_EQ(chdir(previous), 0);
    std::system((std::string("rm -rf ") + folder).c_str());
}

TEST_F(LogTest, ALongMessageIsCutToTheBuffer) {
    const std::string longText(1000, 'x');
    AgentLog(1, "%s", longText.c_str());
    ASSERT_EQ(fake::P().events.size(), 1u);
    EXPECT_EQ(fake::P().events[0].strings[0], std::string(255, 'x'));
}

}  // namespace

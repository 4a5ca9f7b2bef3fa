// The Ethernet-like statistics table: every counter from the driver.
#include "agent_fixture.h"
#include "ethstat/ethstat.h"

namespace {

using EthstatTest = AgentTest;

TEST_F(EthstatTest, EachCounterColumnAsksItsStatistic) {
    InitWithAdapters(2);
    const struct {
        UINT column;
        DWORD statistic;
    } columns[] = {
        {2, 0x01020101}, {3, 0x0002020D}, {4, 0x01020102},  {5, 0x01020103},
        {6, 0x01020205}, {7, 0x01020201}, {8, 0x01020207},  {9, 0x01020202},
        {10, 0x01020204}, {11, 0x01020206}, {16, 0x01020203},
    };
    for (const auto &c : columns) {
        for (UINT row : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(c.column) + "." + std::to_string(row));
            fake::P().ioctls.clear();
            Request request({Name({c.column, row})});
            EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
            EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
            EXPECT_EQ(request.list[0].value.asnType, ASN_RFC1155_COUNTER);
            EXPECT_EQ(request.list[0].value.asnValue.counter, 100 * row + (c.statistic & 0xFF));
            ASSERT_EQ(fake::P().ioctls.size(), 1u);
            const fake::IoctlCall &call = fake::P().ioctls[0];
            EXPECT_EQ(call.device, AdapterTable[row - 1].handle);
            EXPECT_EQ(call.code, 0x00170002u);
            EXPECT_EQ(call.statistic, c.statistic);
            EXPECT_EQ(call.inSize, 4u);
            EXPECT_EQ(call.outSize, 4u);
            EXPECT_FALSE(call.overlapped);
        }
    }
}

TEST_F(EthstatTest, IndexAndFrameTooLongsAskNoDriver) {
    InitWithAdapters(2);
    Request request({Name({1, 2}), Name({13, 1})});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(request.list[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(request.list[0].value.asnValue.number, 2);
    EXPECT_EQ(request.list[1].value.asnType, ASN_RFC1155_COUNTER);
    EXPECT_EQ(request.list[1].value.asnValue.counter, 0u);
    EXPECT_TRUE(fake::P().ioctls.empty());
}

TEST_F(EthstatTest, CellsThatDoNotExist) {
    InitWithAdapters(2);
    const std::pair<UINT, UINT> cells[] = {{12, 1}, {14, 1}, {15, 2}, {17, 1}, {0, 1},
                                           {0xFFFFFFFFu, 1}, {1, 0}, {3, 0}, {3, 3},
                                           {13, 3}, {1, 0xFFFFFFFFu}};
    for (const auto &cell : cells) {
        SCOPED_TRACE(std::to_string(cell.first) + "." + std::to_string(cell.second));
        Request request({Name({cell.first, cell.second})});
        request.list[0].value.asnType = 0x77;
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(request.errorIndex, 1);
        EXPECT_EQ(request.list[0].value.asnType, 0x77) << "the type tag is left as it was";
    }
    EXPECT_TRUE(fake::P().ioctls.empty());
}

TEST_F(EthstatTest, TheLargestDriverValue) {
    InitWithAdapters(1);
    fake::P().devices[DeviceName(1)].statistics[0x0002020D] = 0xFFFFFFFFu;
    Request request({Name({3, 1})});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.list[0].value.asnValue.counter, 4294967295u);
}

TEST_F(EthstatTest, ADriverThatDoesNotAnswer) {
    InitWithAdapters(1);
    fake::P().devices[DeviceName(1)].statistics.erase(0x0002020D);
    Request request({Name({3, 1})});
    request.list[0].value.asnValue.counter = 0xABCD;
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(request.list[0].value.asnType, ASN_RFC1155_COUNTER);
    EXPECT_EQ(request.list[0].value.asnValue.counter, 0xABCDu) << "the value as it came";
}

TEST_F(EthstatTest, WalksEndWhereADriverFails) {
    struct Case {
        int failingRow;
        DWORD statistic;
        size_t objects;
        std::pair<UINT, UINT> last;
    } cases[] = {
        {0, 0, 26, {16, 2}},               // every query answered
        {1, 0x0002020D, 4, {2, 2}},        // the walk ends at (3, 1)
        {2, 0x01020101, 3, {2, 1}},        // ... or at (2, 2)
        {2, 0x01020203, 25, {16, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.objects);
        SetUp();
        InitWithAdapters(2);
        if (c.failingRow != 0) {
            fake::P().devices[DeviceName(c.failingRow)].statistics.erase(c.statistic);
        }
        const auto objects = Walk(Name({}));
        ASSERT_EQ(objects.size(), c.objects);
        EXPECT_EQ(objects.back(), c.last);
    }
}

TEST_F(EthstatTest, InitWithoutAdaptersListsNoColumn) {
    HANDLE trap;
    AsnObjectIdentifier view;
    EXPECT_FALSE(SnmpExtensionInit(0, &trap, &view));
    EXPECT_EQ(ColumnList, nullptr);
}

TEST_F(EthstatTest, QueryAdapterStatisticLooksOnlyAtTheLowByteOfTheResult) {
    InitWithAdapters(1);
    DWORD value = 0;
    EXPECT_TRUE(QueryAdapterStatistic(AdapterTable[0].handle, 0x01020102, &value));
    EXPECT_EQ(value, 100u + 0x02);
}

}  // namespace

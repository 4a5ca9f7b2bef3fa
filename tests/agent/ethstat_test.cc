// The Ethernet-like statistics table: every counter from the driver.
#include <algorithm>
#include <map>

#include "agent_fixture.h"
#include "ethstat/ethstat.h"
#include "nt/adapter_statistics.h"

namespace {

using EthstatTest = AgentTest;

// The NDIS statistic behind each counter column.
DWORD CounterStatistic(UINT column) {
    for (const nt::AdapterStatistic &statistic : nt::kAdapterStatistics) {
        if (statistic.column == column) {
            return statistic.identifier;
        }
    }
    ADD_FAILURE() << "no statistic feeds column " << column;
    return 0;
}

TEST_F(EthstatTest, EachCounterColumnAsksItsStatistic) {
    InitWithAdapters(2);
    for (const nt::AdapterStatistic &c : nt::kAdapterStatistics) {
        for (UINT row : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(c.column) + "." + std::to_string(row));
            fake::P().ioctls.clear();
            Request request({Name({c.column, row})});
            EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
            EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
            EXPECT_EQ(request.list[0].value.asnType, ASN_RFC1155_COUNTER);
            EXPECT_EQ(request.list[0].value.asnValue.counter, 100 * row + (c.identifier & 0xFF));
            ASSERT_EQ(fake::P().ioctls.size(), 1u);
            const fake::IoctlCall &call = fake::P().ioctls[0];
            EXPECT_EQ(call.device, AdapterTable[row - 1].handle);
            EXPECT_EQ(call.code, 0x00170002u);
            EXPECT_EQ(call.statistic, c.identifier);
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
    const std::pair<UINT, UINT> cells[] = {{12, 1}, {14, 1},          {15, 2},         {17, 1},
                                           {0, 1},  {0xFFFFFFFFu, 1}, {1, 0},          {3, 0},
                                           {3, 3},  {13, 3},          {1, 0xFFFFFFFFu}};
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

// A cell whose driver query fails is passed over: the walk goes on to the
// next cell that answers and shows every other cell of the table, and the
// names made for the cells passed over all go back to the heap.
TEST_F(EthstatTest, WalksPassOverCellsWhoseDriverFails) {
    using Cell = std::pair<UINT, UINT>;  // (column, row)
    const UINT counterColumns[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16};
    std::vector<Cell> firstRow, secondRow, everyCounter;
    for (UINT column : counterColumns) {
        firstRow.emplace_back(column, 1);
        secondRow.emplace_back(column, 2);
        everyCounter.emplace_back(column, 1);
        everyCounter.emplace_back(column, 2);
    }
    struct Case {
        const char *what;
        int adapters;
        std::vector<Cell> failing;
    } cases[] = {
        {"none", 2, {}},
        {"the first counter cell", 2, {{2, 1}}},
        {"a cell in the middle", 2, {{7, 2}}},
        {"the last cell", 2, {{16, 2}}},
        {"the whole last column", 2, {{16, 1}, {16, 2}}},
        {"a run across two column boundaries", 2, {{3, 2}, {4, 1}, {4, 2}, {5, 1}}},
        {"the last counter before a constant column", 2, {{11, 1}, {11, 2}}},
        {"every counter of the first adapter", 2, firstRow},
        {"every counter of the middle adapter of three", 3, secondRow},
        {"every counter of every adapter", 2, everyCounter},
        {"the only adapter's every counter", 1, firstRow},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        InitWithAdapters(c.adapters);
        for (const Cell &cell : c.failing) {
            fake::P().devices[DeviceName(static_cast<int>(cell.second))].statistics.erase(
                CounterStatistic(cell.first));
        }
        std::vector<Cell> expected;
        for (UINT column : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 13u, 16u}) {
            for (UINT row = 1; row <= static_cast<UINT>(c.adapters); ++row) {
                if (std::find(c.failing.begin(), c.failing.end(), Cell(column, row)) ==
                    c.failing.end()) {
                    expected.emplace_back(column, row);
                }
            }
        }
        EXPECT_EQ(Walk(Name({})), expected);
        EXPECT_TRUE(fake::P().liveGlobalBlocks.empty()) << "a name was left on the heap";
        EXPECT_EQ(fake::P().badFrees, 0);
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

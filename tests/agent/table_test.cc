// The supported-column list and the table walk, over this agent's columns.
#include "agent_fixture.h"

namespace {

class ColumnListTest : public AgentTest {
protected:
    std::vector<UINT> Columns(const ColumnNode *first) {
        std::vector<UINT> columns;
        for (; first != nullptr; first = first->next) {
            columns.push_back(first->column);
        }
        return columns;
    }
};

TEST_F(ColumnListTest, AppendKeepsOrderAndAFailedAppendChangesNothing) {
    ColumnNode *list = nullptr;
    fake::P().failHeapCalls = {1, 4};
    EXPECT_EQ(ColumnListAppend(&list, 1), 1);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(ColumnListAppend(&list, 1), 0);
    EXPECT_EQ(ColumnListAppend(&list, 5), 0);
    EXPECT_EQ(ColumnListAppend(&list, 9), 1);
    EXPECT_EQ(Columns(list), (std::vector<UINT>{1, 5}));
    ColumnListFree(list);
    EXPECT_TRUE(fake::P().liveHeapBlocks.empty());
}

TEST_F(ColumnListTest, ContainsAndNextAfter) {
    ColumnNode *list = nullptr;
    EXPECT_EQ(ColumnListContains(list, 0), 1);
    UINT next = 77;
    EXPECT_EQ(ColumnListNextAfter(list, 0, &next), 1) << "an empty list has no next column";
    for (UINT column : {3u, 4u, 8u}) {
        ASSERT_EQ(ColumnListAppend(&list, column), 0);
    }
    struct Case {
        UINT column;
        int contains;
        int found;
        UINT next;
    } cases[] = {
        {0, 1, 0, 3}, {2, 1, 0, 3}, {3, 0, 0, 4}, {4, 0, 0, 8},
        {5, 1, 0, 8}, {8, 0, 1, 0}, {9, 1, 1, 0}, {0xFFFFFFFFu, 1, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(ColumnListContains(list, c.column), c.contains);
        next = 77;
        EXPECT_EQ(ColumnListNextAfter(list, c.column, &next), c.found);
        EXPECT_EQ(next, c.found == 0 ? c.next : 77u);
    }
    ColumnListFree(list);
}

using TableWalkTest = AgentTest;

TEST_F(TableWalkTest, ColumnsAreListedAscendingAfterInit) {
    InitWithAdapters(2);
    UINT previous = 0;
    for (const ColumnNode *node = ColumnList; node != nullptr; node = node->next) {
        EXPECT_GT(node->column, previous);
        previous = node->column;
    }
    EXPECT_NE(ColumnList, nullptr);
}

TEST_F(TableWalkTest, NextObjectAfter) {
    InitWithAdapters(2);
    const UINT end = 0xDEAD;
    struct Case {
        UINT column, instance, nextColumn, nextInstance;  // next end, end: no next
    } cases[] = {
        {0, 0, 1, 1},           {0, 12345, 1, 1},  {5, 0, 5, 1},
        {5, 1, 5, 2},           {5, 2, 6, 1},      {5, 99, 6, 1},
        {5, 0xFFFFFFFFu, 6, 1}, {12, 0, 13, 1},    {12, 1, 13, 1},
        {14, 7, 16, 1},         {13, 2, 16, 1},    {16, 1, 16, 2},
        {16, 2, end, end},      {17, 0, end, end}, {0xFFFFFFFFu, 0, end, end},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.column) + "." + std::to_string(c.instance));
        UINT column = c.column, instance = c.instance;
        const AsnInteger status = TableNext(&column, &instance);
        if (c.nextColumn == end) {
            EXPECT_EQ(status, SNMP_ERRORSTATUS_NOSUCHNAME);
            EXPECT_EQ(column, c.column);
            EXPECT_EQ(instance, c.instance);
        } else {
            EXPECT_EQ(status, SNMP_ERRORSTATUS_NOERROR);
            EXPECT_EQ(column, c.nextColumn);
            EXPECT_EQ(instance, c.nextInstance);
        }
    }
}

TEST_F(TableWalkTest, WholeWalkVisitsEveryObjectInNameOrder) {
    InitWithAdapters(2);
    std::vector<std::pair<UINT, UINT>> expected;
    for (UINT column : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16}) {
        expected.emplace_back(column, 1);
        expected.emplace_back(column, 2);
    }
    std::vector<std::pair<UINT, UINT>> visited;
    UINT column = 0, instance = 0;
    while (TableNext(&column, &instance) == SNMP_ERRORSTATUS_NOERROR) {
        visited.emplace_back(column, instance);
        ASSERT_LT(visited.size(), 100u);
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(TableWalkTest, ASecondInitListsEveryColumnTwiceAndWalksTheSame) {
    InitWithAdapters(2);
    HANDLE trap;
    AsnObjectIdentifier view;
    EXPECT_TRUE(SnmpExtensionInit(0, &trap, &view));
    size_t nodes = 0;
    for (const ColumnNode *node = ColumnList; node != nullptr; node = node->next) {
        ++nodes;
    }
    EXPECT_EQ(nodes, 26u);
    EXPECT_EQ(AdapterCount, 2u);
    EXPECT_EQ(Walk(Name({})).size(), 26u);
}

}  // namespace

// The exported entry points and the request dispatch, with the Ethernet
// statistics agent's hooks behind them.
#include "agent_fixture.h"

namespace {

class DispatchTest : public AgentTest {
protected:
    // Global blocks still live that are not names handed to the request.
    size_t StrayBlocks(const Request &request) {
        size_t handedOver = 0;
        for (size_t i = 0; i < request.list.size(); ++i) {
            handedOver += request.NameReplaced(i) ? 1 : 0;
        }
        return fake::P().liveGlobalBlocks.size() - handedOver;
    }
};

TEST_F(DispatchTest, InitHandsOverTheViewAndNoTrapEvent) {
    AddFirstAdapters(1);
    HANDLE trap = reinterpret_cast<HANDLE>(0x1234);
    AsnObjectIdentifier view = {0, nullptr};
    ASSERT_TRUE(SnmpExtensionInit(0, &trap, &view));
    EXPECT_EQ(trap, nullptr);
    EXPECT_EQ(view.idLength, 10u);
    EXPECT_EQ(view.ids, AgentView.ids) << "the view is handed over by reference";
}

TEST_F(DispatchTest, InitWithoutAdaptersWritesNothing) {
    HANDLE trap = reinterpret_cast<HANDLE>(0x1234);
    UINT arc = 9;
    AsnObjectIdentifier view = {1, &arc};
    // Discovery's own failed calls leave codes of their own; the one the
    // host reads afterwards says why the agent declined.
    fake::P().devices[DeviceName(1)].opens = false;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SnmpExtensionInit(0, &trap, &view));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    EXPECT_EQ(trap, reinterpret_cast<HANDLE>(0x1234));
    EXPECT_EQ(view.idLength, 1u);
    EXPECT_EQ(view.ids, &arc);
    EXPECT_EQ(ColumnList, nullptr);
}

TEST_F(DispatchTest, InitFailsWhenAColumnCannotBeListed) {
    AddFirstAdapters(1);
    fake::P().failHeapCalls = {3};
    HANDLE trap;
    AsnObjectIdentifier view;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SnmpExtensionInit(0, &trap, &view));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(DispatchTest, TrapReportsNothing) {
    EXPECT_FALSE(SnmpExtensionTrap(nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(DispatchTest, GetNextOnTheViewGivesTheFirstObject) {
    InitWithAdapters(2);
    Request request({Name({})});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(request.errorIndex, -1) << "the index is written only for a failed binding";
    EXPECT_EQ(request.Name(0), Name({1, 1}));
    EXPECT_EQ(request.list[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(request.list[0].value.asnValue.number, 1);
    EXPECT_EQ(StrayBlocks(request), 0u) << "the working identifier is released";
}

TEST_F(DispatchTest, GetNextPastTheEndAnswersWithTheEndOfViewName) {
    InitWithAdapters(2);
    Request request({Name({16, 2}), Name({3, 1})});
    request.list[0].value.asnType = 0x77;  // the value is left as it was
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(request.errorIndex, -1);
    EXPECT_EQ(request.Name(0), (Arcs{1, 3, 6, 1, 2, 1, 10, 7, 2, 2}));
    EXPECT_EQ(request.list[0].value.asnType, 0x77);
    EXPECT_EQ(request.Name(1), Name({3, 2})) << "later bindings are still answered";
    EXPECT_EQ(StrayBlocks(request), 0u);
}

TEST_F(DispatchTest, GetNamesThatAreNotTwelveArcsLong) {
    InitWithAdapters(2);
    for (size_t length : {0u, 1u, 10u, 11u, 13u, 128u}) {
        SCOPED_TRACE(length);
        Arcs name = Name({1, 1});
        name.resize(length, 1);
        Request request({Name({1, 1}), name, Name({1, 2})});
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(request.errorIndex, 2);
        EXPECT_EQ(request.list[0].value.asnType, ASN_INTEGER);
        EXPECT_EQ(request.list[2].value.asnType, ASN_NULL) << "the third is not answered";
        EXPECT_FALSE(request.NameReplaced(1));
    }
}

TEST_F(DispatchTest, GetNextFromNamesOfAnyLength) {
    InitWithAdapters(2);
    struct Case {
        Arcs name;
        Arcs next;
    } cases[] = {
        {{}, Name({1, 1})},
        {{1, 3, 6}, Name({1, 1})},
        {Name({5}), Name({5, 1})},
        {Name({5, 1, 9, 9}), Name({5, 2})},  // arcs after the 12th are ignored
        {Arcs(128, 1), Name({1, 2})},        // column 1, instance 1
    };
    for (const Case &c : cases) {
        Request request({c.name});
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(request.Name(0), c.next);
    }
}

TEST_F(DispatchTest, GetIsAnsweredFromArcsElevenAndTwelveAlone) {
    InitWithAdapters(2);
    Arcs elsewhere = {1, 3, 6, 1, 4, 1, 99, 99, 99, 99, 1, 2};
    Request request({elsewhere});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(request.list[0].value.asnValue.number, 2);
    EXPECT_FALSE(request.NameReplaced(0));
}

TEST_F(DispatchTest, OtherRequestTypesAreRefused) {
    InitWithAdapters(1);
    for (BYTE type : {BYTE{ASN_RFC1157_SETREQUEST}, BYTE{0xA2}, BYTE{0xA5}, BYTE{0}}) {
        Request request({Name({1, 1}), Name({2, 1})});
        EXPECT_TRUE(request.Run(type));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_GENERR);
        EXPECT_EQ(request.errorIndex, 1);
        EXPECT_EQ(request.list[0].value.asnType, ASN_NULL);
        EXPECT_FALSE(request.NameReplaced(0));
    }
    EXPECT_TRUE(fake::P().ioctls.empty());
}

TEST_F(DispatchTest, AnEmptyListWritesNeitherStatusNorIndex) {
    InitWithAdapters(1);
    Request request({});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.errorStatus, -1);
    EXPECT_EQ(request.errorIndex, -1);
}

TEST_F(DispatchTest, TheSecondOfThreeGetsFails) {
    InitWithAdapters(2);
    Request request({Name({1, 1}), Name({1, 3}), Name({1, 2})});
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(request.errorIndex, 2);
    EXPECT_EQ(request.list[0].value.asnValue.number, 1);
    EXPECT_EQ(request.list[2].value.asnType, ASN_NULL);
}

// A GETNEXT makes three blocks on its way (the working copy, its growth,
// the copy handed over) and the end-of-view rewrite one more. Whichever
// fails, the binding gets genErr, its name stays a valid identifier, and
// nothing is left allocated that the host does not know of.
TEST_F(DispatchTest, AllocationFailuresWhileANameIsBuilt) {
    InitWithAdapters(2);
    for (int failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE(failing);
        fake::P().globalCalls = 0;
        fake::P().failGlobalCalls = {failing};
        Request request({Name({3, 1})});
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_GENERR);
        EXPECT_EQ(request.errorIndex, 1);
        EXPECT_FALSE(request.NameReplaced(0));
        EXPECT_EQ(request.Name(0), Name({3, 1}));
        EXPECT_EQ(StrayBlocks(request), 0u);
    }
}

TEST_F(DispatchTest, AllocationFailureInTheEndOfViewRewrite) {
    InitWithAdapters(1);
    // Past the last object: only the end-of-view copy is made, and fails.
    fake::P().globalCalls = 0;
    fake::P().failGlobalCalls = {1};
    Request atEnd({Name({16, 1})});
    EXPECT_TRUE(atEnd.Run(ASN_RFC1157_GETNEXTREQUEST));
    EXPECT_EQ(atEnd.errorStatus, SNMP_ERRORSTATUS_GENERR);
    EXPECT_FALSE(atEnd.NameReplaced(0));
}

// A GETNEXT that passes over cells whose driver fails makes three blocks
// for each cell it tries, and one more for the end-of-view name. Whichever
// allocation fails, the binding gets genErr with a valid name (the
// caller's, or the last one stored, which the host releases) and nothing
// else is left allocated; when none fails, the answer is the next cell
// that answers, or the end of the view.
TEST_F(DispatchTest, AllocationFailuresWhileFailingCellsArePassedOver) {
    struct Case {
        const char *what;
        Arcs from;
        int allocations;  // made when none fails
        Arcs answer;
    } cases[] = {
        {"two cells passed over", Name({2, 1}), 9, Name({5, 1})},
        {"the last cell passed over", Name({13, 1}), 4, EndOfView()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        InitWithAdapters(1);
        auto &statistics = fake::P().devices[DeviceName(1)].statistics;
        statistics.erase(0x0002020D);  // (3, 1)
        statistics.erase(0x01020102);  // (4, 1)
        statistics.erase(0x01020203);  // (16, 1)
        for (int failing = 1; failing <= c.allocations + 1; ++failing) {
            SCOPED_TRACE(failing);
            fake::P().globalCalls = 0;
            fake::P().failGlobalCalls = {failing};
            Request request({c.from});
            request.list[0].value.asnType = 0x77;
            EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
            EXPECT_EQ(StrayBlocks(request), 0u);
            EXPECT_EQ(fake::P().badFrees, 0);
            if (failing > c.allocations) {
                EXPECT_EQ(fake::P().globalCalls, c.allocations);
                EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
                EXPECT_EQ(request.Name(0), c.answer);
                continue;
            }
            EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_GENERR);
            EXPECT_EQ(request.errorIndex, 1);
            const Arcs name = request.Name(0);
            EXPECT_TRUE(name == c.from || name.size() == 12u) << "a name was left half built";
        }
    }
}

TEST_F(DispatchTest, AGetNextThatRunsOffTheTableOverFailingCells) {
    InitWithAdapters(2);
    fake::P().devices[DeviceName(2)].statistics.erase(0x01020203);  // (16, 2)
    fake::P().devices[DeviceName(1)].statistics.erase(0x0002020D);  // (3, 1)
    Request request({Name({16, 1}), Name({2, 2})});
    request.list[0].value.asnType = 0x77;
    EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
    EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(request.errorIndex, -1);
    EXPECT_EQ(request.Name(0), EndOfView());
    EXPECT_EQ(request.list[0].value.asnType, 0x77) << "the value as it came, not the failed cell's";
    EXPECT_EQ(request.Name(1), Name({3, 2})) << "the next binding passes over (3, 1)";
    EXPECT_EQ(request.list[1].value.asnValue.counter, 200u + 0x0D);
    EXPECT_EQ(StrayBlocks(request), 0u);
}

TEST_F(DispatchTest, AFullWalkLeavesNothingBehind) {
    InitWithAdapters(2);
    EXPECT_EQ(Walk(Name({})).size(), 26u);
    EXPECT_TRUE(fake::P().liveGlobalBlocks.empty());
}

}  // namespace

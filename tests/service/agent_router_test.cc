// The service's routing of single bindings to an extension agent, against
// FAKEAGENT.DLL loaded the way the service loads agents: which name the
// agent is asked, which answers are taken, and what each status becomes.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "agent_router.h"
#include "extension_agent.h"
#include "fake_agent.h"

namespace {

using snmphost::ExtensionAgent;
using snmpsvc::Reply;
using snmpsvc::WideOid;

constexpr uint64_t Max32 = UINT32_MAX;

// The fake agent's view: an enterprise arc reserved for documentation.
const std::vector<uint32_t> View = {1, 3, 6, 1, 4, 1, 32473, 99};

WideOid Under(std::initializer_list<uint64_t> arcs) {
    WideOid name(View.begin(), View.end());
    name.insert(name.end(), arcs);
    return name;
}

std::vector<uint32_t> Narrow(const WideOid &name) {
    return std::vector<uint32_t>(name.begin(), name.end());
}

class AgentRouterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        agent_ = ExtensionAgent::Load(FAKE_AGENT_PATH, &error);
        ASSERT_NE(agent_, nullptr) << error;
        control_ = dlopen(FAKE_AGENT_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        ASSERT_NE(control_, nullptr);
        reset_ = Lookup<FakeResetFn>("FakeReset");
        add_ = Lookup<FakeAddObjectFn>("FakeAddObject");
        force_ = Lookup<FakeForceFn>("FakeForce");
        calls_ = Lookup<FakeCallsFn>("FakeCalls");
        lastName_ = Lookup<FakeLastNameFn>("FakeLastName");
        lastValue_ = Lookup<FakeLastValueFn>("FakeLastValue");
        failInit_ = Lookup<FakeFailInitFn>("FakeFailInit");
        ASSERT_TRUE(reset_ && add_ && force_ && calls_ && lastName_ && lastValue_ && failInit_);
        reset_(View.data(), static_cast<uint32_t>(View.size()));
        // Two rows of column 1, one of column 2, two objects below the
        // largest 32-bit arc of column 3, then column 4.
        Add(Under({1, 1}), 11);
        Add(Under({1, 2}), 12);
        Add(Under({2, 1}), 21);
        Add(Under({3, Max32, 1}), 31);
        Add(Under({3, Max32, 2}), 32);
        Add(Under({4, 1}), 41);
    }

    void TearDown() override {
        agent_.reset();
        if (control_ != nullptr) {
            dlclose(control_);
        }
    }

    template <typename Fn>
    Fn Lookup(const char *name) {
        return reinterpret_cast<Fn>(dlsym(control_, name));
    }

    void Add(const WideOid &name, int32_t value) {
        const std::vector<uint32_t> arcs = Narrow(name);
        add_(arcs.data(), static_cast<uint32_t>(arcs.size()), value);
    }

    void Force(int32_t status, const WideOid &name = {}, uint8_t type = 0) {
        const std::vector<uint32_t> arcs = Narrow(name);
        force_(status, arcs.data(), static_cast<uint32_t>(arcs.size()), type);
    }

    WideOid LastNameAsked() {
        uint32_t arcs[64];
        const uint32_t count = lastName_(arcs, 64);
        return WideOid(arcs, arcs + std::min<uint32_t>(count, 64));
    }

    bool Init() { return agent_->Init(); }

    std::unique_ptr<ExtensionAgent> agent_;
    void *control_ = nullptr;
    FakeResetFn reset_ = nullptr;
    FakeAddObjectFn add_ = nullptr;
    FakeForceFn force_ = nullptr;
    FakeCallsFn calls_ = nullptr;
    FakeLastNameFn lastName_ = nullptr;
    FakeLastValueFn lastValue_ = nullptr;
    FakeFailInitFn failInit_ = nullptr;
};

TEST_F(AgentRouterTest, CompareNamesOrdersArcByArcPrefixFirst) {
    struct Case {
        WideOid a, b;
        int expected;
    };
    const Case cases[] = {
        {{1, 3, 6}, {1, 3, 6}, 0},
        {{1, 3}, {1, 3, 6}, -1},
        {{1, 3, 6}, {1, 3}, 1},
        {{1, 3, 7}, {1, 3, 6, 9}, 1},
        {{1, Max32}, {1, Max32 + 1}, -1},
        {{1, uint64_t{1} << 40}, {1, Max32, 5}, 1},
        {{}, {0}, -1},
        {{}, {}, 0},
    };
    for (const Case &c : cases) {
        const int got = snmpsvc::CompareNames(c.a.data(), c.a.size(), c.b.data(), c.b.size());
        EXPECT_EQ((got > 0) - (got < 0), c.expected)
            << snmphost::OidText(Narrow(c.a)) << " vs " << snmphost::OidText(Narrow(c.b));
    }
}

TEST_F(AgentRouterTest, GetNextAsksTheRightNameAndTakesOnlyAnswersAfterIt) {
    ASSERT_TRUE(Init());
    struct Case {
        const char *what;
        WideOid request;
        WideOid asked;  // the name the agent must receive; empty: not asked
        Reply::Kind kind;
        WideOid answer;
        int64_t value;
    };
    const WideOid view(View.begin(), View.end());
    const Case cases[] = {
        {"a name before the view is asked as the view",
         {1, 3, 6, 1},
         view,
         Reply::Answer,
         Under({1, 1}),
         11},
        {"a prefix of the view likewise",
         {1, 3, 6, 1, 4, 1, 32473},
         view,
         Reply::Answer,
         Under({1, 1}),
         11},
        {"the view itself", view, view, Reply::Answer, Under({1, 1}), 11},
        {"down a column", Under({1, 1}), Under({1, 1}), Reply::Answer, Under({1, 2}), 12},
        {"on to the next column", Under({1, 2}), Under({1, 2}), Reply::Answer, Under({2, 1}), 21},
        {"the last object: the agent's end-of-view name is nothing here",
         Under({4, 1}),
         Under({4, 1}),
         Reply::NothingHere,
         {},
         0},
        {"an instance above 2^32-1 follows every 32-bit row of its column", Under({1, Max32 + 1}),
         Under({1, Max32}), Reply::Answer, Under({2, 1}), 21},
        {"a 64-bit arc past a 32-bit subtree steps over it", Under({3, Max32 + 7}),
         Under({3, Max32, 2}), Reply::Answer, Under({4, 1}), 41},
        {"a 64-bit arc inside that subtree", Under({3, Max32, uint64_t{1} << 33}),
         Under({3, Max32, Max32}), Reply::Answer, Under({4, 1}), 41},
        {"a column above 2^32-1 lies past the table",
         Under({uint64_t{1} << 40}),
         Under({Max32}),
         Reply::NothingHere,
         {},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Reply reply = snmpsvc::GetNextFromAgent(*agent_, c.request.data(), c.request.size());
        EXPECT_EQ(LastNameAsked(), c.asked);
        ASSERT_EQ(reply.kind, c.kind);
        if (c.kind == Reply::Answer) {
            EXPECT_EQ(WideOid(reply.name, reply.name + reply.nameLength), c.answer);
            EXPECT_EQ(reply.value.type, ASN_INTEGER);
            EXPECT_EQ(reply.value.number, c.value);
        }
    }
}

TEST_F(AgentRouterTest, GetNextAfterTheViewDoesNotReachTheAgent) {
    ASSERT_TRUE(Init());
    const WideOid after = {1, 3, 6, 1, 4, 1, 32473, 100};
    const Reply reply = snmpsvc::GetNextFromAgent(*agent_, after.data(), after.size());
    EXPECT_EQ(reply.kind, Reply::NothingHere);
    EXPECT_EQ(calls_(), 0u);
}

TEST_F(AgentRouterTest, GetNextRefusesWhatAFaultyAgentAnswers) {
    ASSERT_TRUE(Init());
    struct Case {
        const char *what;
        int32_t status;
        WideOid forcedName;
        uint8_t type;
        Reply::Kind kind;
        int error;
    };
    const Case cases[] = {
        {"an answer before the request", -1, Under({1, 1}), 0, Reply::NothingHere, 0},
        {"an answer equal to the request", -1, Under({2, 1}), 0, Reply::NothingHere, 0},
        {"an answer outside the view",
         -1,
         {1, 3, 6, 1, 4, 1, 32473, 98, 1},
         0,
         Reply::NothingHere,
         0},
        {"noSuchName ends the view", SNMP_ERRORSTATUS_NOSUCHNAME, {}, 0, Reply::NothingHere, 0},
        {"genErr stays genErr", SNMP_ERRORSTATUS_GENERR, {}, 0, Reply::Error, snmpsvc::ErrorGenErr},
        {"any other status is genErr",
         SNMP_ERRORSTATUS_BADVALUE,
         {},
         0,
         Reply::Error,
         snmpsvc::ErrorGenErr},
        {"a value that cannot be sent", -1, {}, ASN_NULL, Reply::Error, snmpsvc::ErrorGenErr},
    };
    const WideOid request = Under({2, 1});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Force(c.status, c.forcedName, c.type);
        const Reply reply = snmpsvc::GetNextFromAgent(*agent_, request.data(), request.size());
        EXPECT_EQ(reply.kind, c.kind);
        EXPECT_EQ(reply.error, c.error);
    }
}

TEST_F(AgentRouterTest, GetAnswersFromTheAgentOrNoSuchInstance) {
    ASSERT_TRUE(Init());
    struct Case {
        const char *what;
        WideOid name;
        bool asked;
        int32_t status;
        uint8_t type;
        Reply::Kind kind;
        int error;
    };
    const Case cases[] = {
        {"an object", Under({1, 2}), true, -1, 0, Reply::Answer, 0},
        {"no such object", Under({1, 3}), true, -1, 0, Reply::NoSuchInstance, 0},
        {"an arc above 2^32-1 is no object of any agent", Under({1, Max32 + 2}), false, -1, 0,
         Reply::NoSuchInstance, 0},
        {"genErr stays genErr", Under({1, 2}), true, SNMP_ERRORSTATUS_GENERR, 0, Reply::Error,
         snmpsvc::ErrorGenErr},
        {"any other failure is genErr", Under({1, 2}), true, SNMP_ERRORSTATUS_TOOBIG, 0,
         Reply::Error, snmpsvc::ErrorGenErr},
        {"a value that cannot be sent", Under({1, 2}), true, -1, ASN_NULL, Reply::Error,
         snmpsvc::ErrorGenErr},
        {"an IpAddress that is not 4 bytes", Under({1, 2}), true, -1, ASN_RFC1155_IPADDRESS,
         Reply::Error, snmpsvc::ErrorGenErr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Force(c.status, {}, c.type);
        const uint32_t before = calls_();
        const Reply reply = snmpsvc::GetFromAgent(*agent_, c.name.data(), c.name.size());
        EXPECT_EQ(calls_() != before, c.asked);
        ASSERT_EQ(reply.kind, c.kind);
        EXPECT_EQ(reply.error, c.error);
        if (c.kind == Reply::Answer) {
            EXPECT_EQ(WideOid(reply.name, reply.name + reply.nameLength), c.name);
            EXPECT_EQ(reply.value.number, 12);
        }
    }
}

TEST_F(AgentRouterTest, SetPassesTheValueAndMapsTheAgentsStatus) {
    ASSERT_TRUE(Init());
    const WideOid name = Under({1, 1});
    snmphost::Value value;
    value.type = ASN_OCTETSTRING;
    value.bytes = "abcde";
    struct Case {
        int32_t status;
        Reply::Kind kind;
        int error;
    };
    const Case cases[] = {
        {SNMP_ERRORSTATUS_NOERROR, Reply::Answer, 0},
        {SNMP_ERRORSTATUS_TOOBIG, Reply::Error, snmpsvc::ErrorTooBig},
        {SNMP_ERRORSTATUS_NOSUCHNAME, Reply::Error, snmpsvc::ErrorNotWritable},
        {SNMP_ERRORSTATUS_BADVALUE, Reply::Error, snmpsvc::ErrorWrongValue},
        {SNMP_ERRORSTATUS_READONLY, Reply::Error, snmpsvc::ErrorNotWritable},
        {SNMP_ERRORSTATUS_GENERR, Reply::Error, snmpsvc::ErrorGenErr},
        {99, Reply::Error, snmpsvc::ErrorGenErr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        Force(c.status);
        const Reply reply = snmpsvc::SetInAgent(*agent_, name.data(), name.size(), value);
        EXPECT_EQ(reply.kind, c.kind);
        EXPECT_EQ(reply.error, c.error);
        uint8_t type = 0;
        EXPECT_EQ(lastValue_(&type), 5);  // the string's length, as the agent saw it
        EXPECT_EQ(type, ASN_OCTETSTRING);
    }
}

TEST_F(AgentRouterTest, AnAgentThatDeclinesToServeFailsInit) {
    failInit_(1);
    EXPECT_FALSE(Init());
}

}  // namespace

// The TCP-wrappers access check: which rules give a verdict that may be
// kept, and a real service (hosts_snmpsvc, its access files in the test's
// folder) that still denies what the files deny, sees every change of the
// files at the next request, and runs a rule's shell command every time.
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "hosts_access.h"
#include "test_root.h"

namespace {

using servicetest::Contains;
using servicetest::ReadFile;
using servicetest::TestRoot;
using servicetest::WriteFile;

TEST(HostsAccessRules, OnlyRulesThatMerelyMatchAreKept) {
    struct Case {
        const char *text;
        bool pure;
    };
    const Case cases[] = {
        {"", true},
        {"# ALL: ALL: spawn (echo %a)\n\n", true},
        {"snmpsvc: 127.0.0.1, [::1]\n", true},
        {"snmpsvc: [::ffff:127.0.0.1]/128 10.0.0.0/255.0.0.0 EXCEPT 10.1.\n", true},
        {"ALL EXCEPT sshd: LOCAL .example.com\n", true},
        {"snmpsvc: ALL: spawn (echo %a >> /tmp/log)\n", false},
        {"snmpsvc: ALL: twist /bin/echo no\n", false},
        {"snmpsvc: ALL: DENY\n", false},  // any option field
        {"snmpsvc: [::1]: severity auth.info\n", false},
        {"snmpsvc: /etc/snmp.clients\n", false},             // patterns read from a file
        {"snmpsvc: @trusted\n", false},                      // a netgroup
        {"snmpsvc: 127.0.0.1 \\\n  : spawn true\n", false},  // continued line
        {"# a comment \\\n ALL: ALL: spawn true\n", false},  // a continued comment
        {" # not a comment: ALL: spawn true\n", false},
        {"snmpsvc: [::1\n", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(snmpsvc::AccessRulesArePure(c.text), c.pure) << c.text;
    }
}

class HostsAccessService : public ::testing::Test {
protected:
    void SetUp() override {
        // 127.0.0.2 is a loopback address too: a second client.
        ASSERT_EQ(root_.Make("rocommunity public 127.0.0.0/8"), "");
        ASSERT_EQ(root_.RegisterBothAgents(), "");
        root_.AddAdapter("Vxlnk1", 1000);
        allow_ = root_.folder() + "/hosts.allow";
        deny_ = root_.folder() + "/hosts.deny";
        ASSERT_TRUE(WriteFile(allow_, ""));
        ASSERT_TRUE(WriteFile(deny_, ""));
        testproc::Environment env = root_.Env();
        env["SNMPSVC_TEST_HOSTS_ALLOW"] = allow_;
        env["SNMPSVC_TEST_HOSTS_DENY"] = deny_;
        log_ = root_.folder() + "/service.log";
        pid_ = testproc::Spawn({HOSTS_SNMPSVC, "--root", root_.root(), "run"}, env, log_);
        ASSERT_GT(pid_, 0);
        ASSERT_TRUE(
            testproc::Eventually([&] { return Answered("127.0.0.1"); }, std::chrono::seconds(20)))
            << ReadFile(log_);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (testproc::WaitFor(pid_, std::chrono::seconds(10)) < 0) {
                kill(pid_, SIGKILL);
                testproc::WaitFor(pid_, std::chrono::seconds(10));
            }
        }
    }

    // Whether a GET sent from the loopback address `from` is answered.
    bool Answered(const std::string &from) {
        const testproc::Result got = root_.Client(
            "snmpget", {"-v2c", "-c", "public", "-t", "0.5", "-r", "0", "--clientaddr=" + from},
            {".1.3.6.1.2.1.10.7.2.1.1.1"});
        return got.status == 0 && Contains(got.out, "INTEGER: 1");
    }

    // Writes text to a file beside path and renames it over path.
    static bool Replace(const std::string &path, const std::string &text) {
        const std::string next = path + ".new";
        return WriteFile(next, text) && std::rename(next.c_str(), path.c_str()) == 0;
    }

    TestRoot root_;
    std::string allow_;
    std::string deny_;
    std::string log_;
    pid_t pid_ = -1;
};

TEST_F(HostsAccessService, DeniesWhatTheFilesDenyAndSeesEachChangeAtOnce) {
    // Denied, and still denied when asked again (a kept verdict).
    ASSERT_TRUE(WriteFile(deny_, "snmpsvc: 127.0.0.2\n"));
    EXPECT_FALSE(Answered("127.0.0.2"));
    EXPECT_FALSE(Answered("127.0.0.2"));
    EXPECT_TRUE(Answered("127.0.0.1"));
    EXPECT_TRUE(Answered("127.0.0.1"));

    // Written in place: the next request sees it.
    ASSERT_TRUE(WriteFile(deny_, "# nobody denied\n"));
    EXPECT_TRUE(Answered("127.0.0.2"));

    // Replaced by a rename: likewise, for an address allowed a moment ago.
    ASSERT_TRUE(Replace(deny_, "ALL: 127.0.0.1\n"));
    EXPECT_FALSE(Answered("127.0.0.1"));
    EXPECT_TRUE(Answered("127.0.0.2"));

    // Allowed first, whatever the deny file says; removed, the deny stands.
    ASSERT_TRUE(WriteFile(allow_, "snmpsvc: 127.0.0.1\n"));
    EXPECT_TRUE(Answered("127.0.0.1"));
    ASSERT_EQ(unlink(allow_.c_str()), 0);
    EXPECT_FALSE(Answered("127.0.0.1"));
}

TEST_F(HostsAccessService, RunsARulesCommandForEveryRequest) {
    const std::string marker = root_.folder() + "/spawned";
    ASSERT_TRUE(WriteFile(allow_, "snmpsvc: 127.0.0.1: spawn (echo %a >> " + marker + ")\n"));
    EXPECT_TRUE(Answered("127.0.0.1"));
    EXPECT_TRUE(Answered("127.0.0.1"));
    EXPECT_TRUE(Answered("127.0.0.1"));
    // libwrap waits for the command before it answers.
    EXPECT_EQ(ReadFile(marker), "127.0.0.1\n127.0.0.1\n127.0.0.1\n");
}

}  // namespace

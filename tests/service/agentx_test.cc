// The service as an AgentX subagent of Net-SNMP's own snmpd: a private
// snmpd (master agentx, its own dot3StatsTable module left out, its
// hr_device rows kept) on a free loopback port, our service in a private
// root connecting to its socket, and both tables walked through the master
// with snmpwalk: hrDeviceTable holds snmpd's rows and ours, merged.
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <gtest/gtest.h>

#include "test_root.h"

namespace {

using servicetest::BinDir;
using servicetest::Contains;
using servicetest::ParseBindings;
using servicetest::ReadFile;
using servicetest::TestRoot;
using testproc::Result;

using Bindings = std::vector<std::pair<std::string, std::string>>;

const char Snmpd[] = "/usr/sbin/snmpd";
const std::string Dot3Entry = ".1.3.6.1.2.1.10.7.2.1";
const std::string HrDeviceEntry = ".1.3.6.1.2.1.25.3.2.1";

std::string Obj(const std::string &entry, unsigned column, unsigned row) {
    return entry + "." + std::to_string(column) + "." + std::to_string(row);
}

// What the two agents serve for two adapters whose statistics are
// 1000 * row + column, as snmpwalk -On prints it.
Bindings ExpectedDot3() {
    Bindings objects;
    for (unsigned column : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 13u, 16u}) {
        for (unsigned row = 1; row <= 2; ++row) {
            objects.emplace_back(Obj(Dot3Entry, column, row),
                                 column == 1 ? "INTEGER: " + std::to_string(row)
                                 : column == 13
                                     ? "Counter32: 0"
                                     : "Counter32: " + std::to_string(1000 * row + column));
        }
    }
    return objects;
}

Bindings ExpectedHrDevice() {
    const std::string values[6] = {"",
                                   "OID: .1.3.6.1.2.1.25.3.1.4",
                                   "STRING: \"Veltrix LinkSpring Turbo PCI 10 Adapter\"",
                                   "OID: .1.3.6.1.4.1.32473.2.15.19.7",
                                   "INTEGER: 1",
                                   "Counter32: 0"};
    Bindings objects;
    for (unsigned column = 1; column <= 6; ++column) {
        for (unsigned row = 1; row <= 2; ++row) {
            objects.emplace_back(
                Obj(HrDeviceEntry, column, row),
                column == 1 ? "INTEGER: " + std::to_string(row) : values[column - 1]);
        }
    }
    return objects;
}

size_t CountOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

void Kill(pid_t pid) {
    if (pid > 0 && testproc::WaitFor(pid, std::chrono::milliseconds(0)) == -1) {
        kill(pid, SIGKILL);
        testproc::WaitFor(pid, std::chrono::seconds(5));
    }
}

// A private snmpd in the root's folder, master of agentx.sock there.
class Master {
public:
    explicit Master(TestRoot *root)
        : root_(root),
          port_(servicetest::FreeUdpPort()),
          folder_(root->folder() + "/snmpd"),
          socket_(root->folder() + "/agentx.sock") {}
    ~Master() { Stop(); }

    const std::string &socket() const { return socket_; }
    std::string Log() const { return ReadFile(folder_ + "/snmpd.log"); }

    // Starts it and waits until it answers; false with the reason in *error.
    bool Start(std::string *error) {
        mkdir(folder_.c_str(), 0700);
        const std::string conf = folder_ + "/snmpd.conf";
        if (!servicetest::WriteFile(conf,
                                    "master agentx\n"
                                    "agentXSocket " +
                                        socket_ +
                                        "\n"
                                        "agentXPerms 0777 0777\n"
                                        "rocommunity public 127.0.0.1\n"
                                        "dontLogTCPWrappersConnects yes\n")) {
            *error = "cannot write " + conf;
            return false;
        }
        testproc::Environment env = root_->Env();
        env["SNMP_PERSISTENT_DIR"] = folder_;
        // Its own dot3StatsTable stays out, as a site running our service
        // as its subagent leaves it out; its hrDeviceTable rows stay.
        pid_ = testproc::Spawn({Snmpd, "-f", "-Lo", "-C", "-c", conf, "-p", folder_ + "/snmpd.pid",
                                "-I", "-dot3StatsTable", "udp:127.0.0.1:" + std::to_string(port_)},
                               env, folder_ + "/snmpd.log");
        const bool up =
            pid_ > 0 && testproc::Eventually([&] { return Get(".1.3.6.1.2.1.1.3.0").status == 0; },
                                             std::chrono::seconds(20));
        if (!up) {
            *error = "snmpd did not start: " + Log();
        }
        return up;
    }

    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (testproc::WaitFor(pid_, std::chrono::seconds(10)) == -1) {
                Kill(pid_);
            }
            pid_ = -1;
        }
    }

    Result Get(const std::string &name) const { return Client("snmpget", name); }
    Result Walk(const std::string &name) const { return Client("snmpwalk", name); }

private:
    Result Client(const std::string &tool, const std::string &name) const {
        return testproc::Run({"/usr/bin/" + tool, "-On", "-t", "1", "-r", "1", "-v2c", "-c",
                              "public", "udp:127.0.0.1:" + std::to_string(port_), name},
                             root_->Env(), std::chrono::seconds(60));
    }

    TestRoot *root_;
    int port_;
    std::string folder_;
    std::string socket_;
    pid_t pid_ = -1;
};

class AgentxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(Snmpd, X_OK) != 0) {
            GTEST_SKIP() << Snmpd << " is not installed";
        }
    }
};

// The arcs of a dotted name.
std::vector<unsigned long> Arcs(const std::string &name) {
    std::vector<unsigned long> arcs;
    std::istringstream parts(name);
    for (std::string arc; std::getline(parts, arc, '.');) {
        if (!arc.empty()) {
            arcs.push_back(std::stoul(arc));
        }
    }
    return arcs;
}

// dot3StatsTable, through the master, is exactly what the agent serves;
// hrDeviceTable holds our rows (indexes 1 and 2) beside snmpd's own
// (processors, network interfaces: indexes from 196608 up), strictly in
// order, with no index twice.
void ExpectBothTablesThroughMaster(const Master &master) {
    const Result dot3 = master.Walk(".1.3.6.1.2.1.10.7.2");
    EXPECT_EQ(dot3.status, 0) << dot3.err;
    EXPECT_EQ(ParseBindings(dot3.out), ExpectedDot3()) << dot3.out << dot3.err;
    const Result hr = master.Walk(".1.3.6.1.2.1.25.3.2");
    EXPECT_EQ(hr.status, 0) << hr.err;
    const Bindings all = ParseBindings(hr.out);
    Bindings ours;
    std::vector<unsigned long> indexes;  // of column 1, hrDeviceIndex
    for (size_t i = 0; i < all.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(Arcs(all[i - 1].first), Arcs(all[i].first))
                << all[i].first << " follows " << all[i - 1].first;
        }
        const std::vector<unsigned long> arcs = Arcs(all[i].first);
        ASSERT_EQ(arcs.size(), 12u) << all[i].first;
        if (arcs[11] <= 2) {
            ours.push_back(all[i]);
        }
        if (arcs[10] == 1) {
            indexes.push_back(arcs[11]);
        }
    }
    EXPECT_EQ(ours, ExpectedHrDevice()) << hr.out;
    EXPECT_GT(indexes.size(), 2u) << "no row of snmpd's own: " << hr.out;
    for (size_t i = 1; i < indexes.size(); ++i) {
        EXPECT_LT(indexes[i - 1], indexes[i]) << hr.out;
    }
}

TEST_F(AgentxTest, TheMasterServesBothTablesAndTheSubagentOutlivesItsRestart) {
    TestRoot root;
    Master master(&root);
    // The role and socket from the root's configuration; a short ping
    // interval so that the restart is noticed soon.
    ASSERT_EQ(root.Make("agentxRole subagent\nagentxSocket " + master.socket() +
                        "\nagentxPingInterval 1\n"),
              "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    root.AddAdapter("Vxlnk1", 1000);
    root.AddAdapter("Vxpci2", 2000);

    // Started before its master: it serves (pid file) and keeps trying,
    // saying once why it cannot connect.
    const std::string log = root.folder() + "/subagent.log";
    const pid_t pid =
        testproc::Spawn({BinDir + "/snmpsvc", "--root", root.root(), "run"}, root.Env(), log);
    ASSERT_GT(pid, 0);
    const std::string pidFile = root.root() + "/run/SNMP.pid";
    const std::string cannot = "snmpsvc: cannot connect to the AgentX master agent at " +
                               master.socket() + " (no such socket";
    const bool waiting = testproc::Eventually(
        [&] {
            return ReadFile(pidFile) == std::to_string(pid) + "\n" &&
                   Contains(ReadFile(log), cannot);
        },
        std::chrono::seconds(20));
    if (!waiting) {
        Kill(pid);
        FAIL() << ReadFile(log);
    }
    // A few more attempts fail silently.
    sleep(3);
    EXPECT_EQ(CountOf(ReadFile(log), "cannot connect"), 1u) << ReadFile(log);

    std::string error;
    ASSERT_TRUE(master.Start(&error)) << error;
    const std::string last = Obj(HrDeviceEntry, 6, 2);
    auto registered = [&] { return Contains(master.Get(last).out, "Counter32: 0"); };
    ASSERT_TRUE(testproc::Eventually(registered, std::chrono::seconds(30)))
        << ReadFile(log) << master.Log() << master.Walk(".1.3.6.1.2.1.25.3.2").out;
    EXPECT_TRUE(Contains(ReadFile(log),
                         "snmpsvc: connected to the AgentX master agent at " + master.socket()))
        << ReadFile(log);
    ExpectBothTablesThroughMaster(master);

    // The master restarts: the subagent stays, reconnects and registers again.
    master.Stop();
    ASSERT_TRUE(testproc::Eventually([&] { return Contains(ReadFile(log), "lost the AgentX"); },
                                     std::chrono::seconds(30)))
        << ReadFile(log);
    ASSERT_TRUE(master.Start(&error)) << error;
    ASSERT_TRUE(testproc::Eventually(registered, std::chrono::seconds(30)))
        << ReadFile(log) << master.Log() << master.Walk(".1.3.6.1.2.1.25.3.2").out;
    EXPECT_EQ(testproc::WaitFor(pid, std::chrono::milliseconds(0)), -1) << "the subagent ended";
    ExpectBothTablesThroughMaster(master);

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const int status = testproc::WaitFor(pid, std::chrono::seconds(20));
    Kill(pid);
    EXPECT_EQ(status, 0) << ReadFile(log);
    // Only the service's own lines: no sanitizer report, no library noise.
    std::istringstream lines(ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.compare(0, 9, "snmpsvc: "), 0) << line;
    }
}

TEST_F(AgentxTest, TheCommandLineChoosesTheRoleAndABadRoleStopsTheStart) {
    TestRoot root;
    ASSERT_EQ(root.Make("agentxRole helper\n"), "");
    const Result bad = root.Snmpsvc({"--root", root.root(), "run"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Contains(bad.err,
                         "snmpsvc.conf line 2: agentxRole must be \"master\" or "
                         "\"subagent\""))
        << bad.err;

    const Result both =
        root.Snmpsvc({"--root", root.root(), "run", "--agentx", "--listen", root.address()});
    EXPECT_EQ(both.status, 2);
    EXPECT_TRUE(Contains(both.err, "--listen and --agentx exclude each other")) << both.err;
    const Result empty = root.Snmpsvc({"--root", root.root(), "run", "--agentx="});
    EXPECT_EQ(empty.status, 2);
}

}  // namespace

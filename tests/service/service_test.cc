// The SNMP service end to end: a real snmpsvc in a private NT root, started
// and stopped with NET, both agents registered as setup registers them,
// two simulated adapters, and Net-SNMP's own clients over loopback.
#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <gtest/gtest.h>

#include "nt/win32.h"
#include "service_state.h"
#include "snmp_request.h"
#include "test_root.h"

namespace {

using servicetest::BinDir;
using servicetest::Contains;
using servicetest::ParseBindings;
using servicetest::ReadFile;
using servicetest::TestRoot;
using testproc::Result;

using Bindings = std::vector<std::pair<std::string, std::string>>;

const std::string Dot3Entry = ".1.3.6.1.2.1.10.7.2.1";
const std::string HrDeviceEntry = ".1.3.6.1.2.1.25.3.2.1";
const std::string Description = "STRING: \"Veltrix LinkSpring Turbo PCI 10 Adapter\"";
const std::string NoSuchInstance = "No Such Instance currently exists at this OID";
const std::string EndOfView =
    "No more variables left in this MIB View (It is past the end of the MIB tree)";
const std::string NoSuchName = "noSuchName";

const std::vector<std::string> V1 = {"-v1", "-c", "public"};
const std::vector<std::string> V2 = {"-v2c", "-c", "public"};

std::string Obj(const std::string &entry, unsigned column, unsigned row) {
    return entry + "." + std::to_string(column) + "." + std::to_string(row);
}

// Every object both agents serve for two adapters whose statistics are
// 1000 * row + column, in name order, with its value as snmpwalk -On
// prints it.
Bindings ExpectedObjects() {
    Bindings objects;
    for (unsigned column : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 13u, 16u}) {
        for (unsigned row = 1; row <= 2; ++row) {
            std::string value;
            if (column == 1) {
                value = "INTEGER: " + std::to_string(row);
            } else if (column == 13) {
                value = "Counter32: 0";
            } else {
                value = "Counter32: " + std::to_string(1000 * row + column);
            }
            objects.emplace_back(Obj(Dot3Entry, column, row), value);
        }
    }
    const std::string values[6] = {"",           "OID: .1.3.6.1.2.1.25.3.1.4",
                                   Description,  "OID: .1.3.6.1.4.1.32473.2.15.19.7",
                                   "INTEGER: 1", "Counter32: 0"};
    for (unsigned column = 1; column <= 6; ++column) {
        for (unsigned row = 1; row <= 2; ++row) {
            objects.emplace_back(
                Obj(HrDeviceEntry, column, row),
                column == 1 ? "INTEGER: " + std::to_string(row) : values[column - 1]);
        }
    }
    return objects;
}

std::vector<unsigned long> Arcs(const std::string &text) {
    std::vector<unsigned long> arcs;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '.') {
            ++i;
            continue;
        }
        size_t end = text.find('.', i);
        if (end == std::string::npos) {
            end = text.size();
        }
        arcs.push_back(std::stoul(text.substr(i, end - i)));
        i = end;
    }
    return arcs;
}

// Compares dotted names numerically, arc by arc.
bool NameLess(const std::string &a, const std::string &b) { return Arcs(a) < Arcs(b); }

// The names of a walk strictly increase.
::testing::AssertionResult StrictlyIncreasing(const Bindings &walk) {
    for (size_t i = 1; i < walk.size(); ++i) {
        if (!NameLess(walk[i - 1].first, walk[i].first)) {
            return ::testing::AssertionFailure()
                   << walk[i].first << " follows " << walk[i - 1].first;
        }
    }
    return ::testing::AssertionSuccess();
}

// The bindings of a walk that lie in the agents' two tables: the service
// also answers the system, SNMP and engine groups around them.
Bindings InAgentTables(const Bindings &walk) {
    Bindings ours;
    for (const auto &binding : walk) {
        if (binding.first.compare(0, Dot3Entry.size() + 1, Dot3Entry + ".") == 0 ||
            binding.first.compare(0, HrDeviceEntry.size() + 1, HrDeviceEntry + ".") == 0) {
            ours.push_back(binding);
        }
    }
    return ours;
}

// The object after dot3StatsTable: snmpInPkts, the SNMP group's first.
const std::string SnmpInPkts = ".1.3.6.1.2.1.11.1.0";

// The last object the service answers (usmStatsDecryptionErrors), after
// which every walk ends.
const std::string LastObject = ".1.3.6.1.6.3.15.1.1.6.0";

// One service for the whole suite: two adapters, both agents, a read-write
// community so that SETs reach the agents.
class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TestRoot;
        setupError_ = root_->Make("rwcommunity private 127.0.0.1\n");
        if (setupError_.empty()) {
            setupError_ = root_->RegisterBothAgents();
        }
        if (setupError_.empty()) {
            root_->AddAdapter("Vxlnk1", 1000);
            root_->AddAdapter("Vxpci2", 2000);
            start_ = root_->Net({"START", "SNMP"});
        }
    }

    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(setupError_, "");
        ASSERT_EQ(start_.status, 0) << start_.out << start_.err << root_->Log();
    }

    static TestRoot *root_;
    static std::string setupError_;
    static Result start_;
};

TestRoot *ServiceTest::root_ = nullptr;
std::string ServiceTest::setupError_;
Result ServiceTest::start_;

TEST_F(ServiceTest, NetStartsTheServiceInTheBackground) {
    EXPECT_EQ(start_.out,
              "The SNMP service is starting.\nThe SNMP service was started successfully.\n\n");
    EXPECT_EQ(start_.err, "");
    const svcstate::Status status =
        svcstate::QueryService(svcstate::FilesOf(root_->root(), "SNMP"));
    EXPECT_EQ(status.state, svcstate::State::Running);
    EXPECT_EQ(ReadFile(root_->root() + "/run/SNMP.pid"), std::to_string(status.pid) + "\n");
    const std::string log = root_->Log();
    EXPECT_TRUE(Contains(log, "serving 2 agents on " + root_->address())) << log;
    EXPECT_FALSE(Contains(log, "Cannot find module")) << log;
    EXPECT_FALSE(Contains(log, "Connection from")) << log;
}

TEST_F(ServiceTest, WalksOfEveryKindGiveTheSameStrictlyIncreasingObjects) {
    const Bindings expected = ExpectedObjects();
    const Bindings endOfView = {{LastObject, EndOfView}};
    struct Walk {
        const char *tool;
        std::vector<std::string> options;
    };
    const Walk walks[] = {
        {"snmpwalk", V1},
        {"snmpwalk", V2},
        {"snmpbulkwalk", V2},
        {"snmpbulkwalk", {"-v2c", "-c", "public", "-Cr3"}},
    };
    for (const Walk &walk : walks) {
        SCOPED_TRACE(std::string(walk.tool) + " " + walk.options[0]);
        const Result result = root_->Client(walk.tool, walk.options, {".1"});
        EXPECT_EQ(result.status, 0) << result.err;
        Bindings got = ParseBindings(result.out);
        if (walk.options[0] == "-v1") {
            // SNMPv1: the walk ends at noSuchName.
            EXPECT_TRUE(Contains(result.out, "\nEnd of MIB\n")) << result.out;
        } else {
            // SNMPv2c: the walk ends at endOfMibView, named after the last object.
            ASSERT_FALSE(got.empty()) << result.out << result.err;
            EXPECT_EQ(Bindings(got.end() - 1, got.end()), endOfView);
            got.pop_back();
        }
        EXPECT_TRUE(StrictlyIncreasing(got));
        EXPECT_EQ(InAgentTables(got), expected) << result.out;
    }
}

TEST_F(ServiceTest, WalksEndWithEndOfMibViewOrNoSuchName) {
    const std::string last = LastObject;
    const Result v2 = root_->Client("snmpgetnext", V2, {last});
    EXPECT_EQ(ParseBindings(v2.out), Bindings({{last, EndOfView}})) << v2.out << v2.err;

    const Result v1 = root_->Client("snmpgetnext", V1, {last});
    EXPECT_NE(v1.status, 0);
    EXPECT_TRUE(Contains(v1.out + v1.err, NoSuchName)) << v1.out << v1.err;
}

TEST_F(ServiceTest, GetNextCrossesFromOneAgentsViewIntoTheNext) {
    struct Case {
        const char *what;
        std::string request;
        std::string answer;
    };
    const Case cases[] = {
        {"the last dot3StatsTable object", Obj(Dot3Entry, 16, 2), SnmpInPkts},
        {"ethstat's end-of-view name", ".1.3.6.1.2.1.10.7.2.2", SnmpInPkts},
        {"a name before ethstat's view", ".1.3.6.1.2.1.10", Obj(Dot3Entry, 1, 1)},
        {"a column past ethstat's last", Obj(Dot3Entry, 17, 0), SnmpInPkts},
        {"the SNMP group's last object", ".1.3.6.1.2.1.11.32.0", Obj(HrDeviceEntry, 1, 1)},
        {"an unserved column between served ones", Obj(Dot3Entry, 14, 7), Obj(Dot3Entry, 16, 1)},
        {"a name of 13 arcs", Obj(Dot3Entry, 3, 1) + ".5", Obj(Dot3Entry, 3, 2)},
        {"the largest 32-bit instance", Obj(Dot3Entry, 5, 4294967295u), Obj(Dot3Entry, 6, 1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto &version : {V1, V2}) {
            const Result result = root_->Client("snmpgetnext", version, {c.request});
            const Bindings got = ParseBindings(result.out);
            ASSERT_EQ(got.size(), 1u) << result.out << result.err;
            EXPECT_EQ(got[0].first, c.answer);
        }
    }
}

TEST_F(ServiceTest, GetAnswersServedObjectsAndNoSuchInstanceAtTheEdges) {
    struct Case {
        const char *what;
        std::string name;
        std::string value;  // v2c; empty: noSuchInstance
    };
    const Case cases[] = {
        {"a counter", Obj(Dot3Entry, 3, 2), "Counter32: 2003"},
        {"the last row", Obj(HrDeviceEntry, 3, 2), Description},
        {"instance 0", Obj(Dot3Entry, 3, 0), ""},
        {"instance AdapterCount + 1", Obj(Dot3Entry, 3, 3), ""},
        {"unserved column 12", Obj(Dot3Entry, 12, 1), ""},
        {"unserved column 14", Obj(Dot3Entry, 14, 1), ""},
        {"unserved column 15", Obj(Dot3Entry, 15, 1), ""},
        {"unserved column 17", Obj(Dot3Entry, 17, 1), ""},
        {"hrDeviceTable column 7", Obj(HrDeviceEntry, 7, 1), ""},
        {"a name of 11 arcs", Dot3Entry + ".3", ""},
        {"a name of 13 arcs", Obj(Dot3Entry, 3, 1) + ".0", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Result v2 = root_->Client("snmpget", V2, {c.name});
        EXPECT_EQ(ParseBindings(v2.out),
                  Bindings({{c.name, c.value.empty() ? NoSuchInstance : c.value}}))
            << v2.out << v2.err;
        const Result v1 = root_->Client("snmpget", V1, {c.name});
        if (c.value.empty()) {
            EXPECT_NE(v1.status, 0);
            EXPECT_TRUE(Contains(v1.out + v1.err, NoSuchName)) << v1.out << v1.err;
        } else {
            EXPECT_EQ(ParseBindings(v1.out), Bindings({{c.name, c.value}})) << v1.err;
        }
    }
    // A name in no view never reaches an agent.
    const Result outside = root_->Client("snmpget", V2, {".1.3.6.1.2.1.2.1.0"});
    EXPECT_TRUE(Contains(outside.out, "No Such Object available on this agent")) << outside.out;
}

TEST_F(ServiceTest, CountersAreReadAtEveryRequest) {
    const std::string name = Obj(Dot3Entry, 4, 1);  // 0x01020102 of the first adapter
    EXPECT_EQ(ParseBindings(root_->Client("snmpget", V2, {name}).out),
              Bindings({{name, "Counter32: 1004"}}));
    root_->SetStatistic("Vxlnk1", 0x01020102, 4294967295u);
    EXPECT_EQ(ParseBindings(root_->Client("snmpget", V2, {name}).out),
              Bindings({{name, "Counter32: 4294967295"}}));
    root_->SetStatistic("Vxlnk1", 0x01020102, 1004);
}

TEST_F(ServiceTest, SetsAreRefusedByAccessControlOrByTheAgent) {
    const std::string name = Obj(Dot3Entry, 3, 1);
    // "public" is read-only: the request never reaches an agent.
    const Result readOnly = root_->Client("snmpset", V2, {name, "i", "5"});
    EXPECT_NE(readOnly.status, 0);
    EXPECT_TRUE(Contains(readOnly.out + readOnly.err, "noAccess")) << readOnly.out << readOnly.err;
    // The read-write community lets it through, and the agent refuses it.
    for (const char *version : {"-v1", "-v2c"}) {
        SCOPED_TRACE(version);
        const Result refused =
            root_->Client("snmpset", {version, "-c", "private"}, {name, "i", "5"});
        EXPECT_NE(refused.status, 0);
        EXPECT_TRUE(Contains(refused.out + refused.err, "genErr")) << refused.out << refused.err;
    }
    EXPECT_EQ(ParseBindings(root_->Client("snmpget", V2, {name}).out),
              Bindings({{name, "Counter32: 1003"}}));
}

TEST_F(ServiceTest, BadRequestsGetTheirAnswerAndTheServiceServesOn) {
    const std::string probe = Obj(HrDeviceEntry, 1, 2);
    auto stillServes = [&] {
        return ParseBindings(root_->Client("snmpget", V2, {probe}).out) ==
               Bindings({{probe, "INTEGER: 2"}});
    };

    // A request whose answer cannot fit in one message (more names than
    // the command-line clients send: this one is built with the library).
    std::string error;
    const std::vector<std::string> many(2000, Obj(HrDeviceEntry, 3, 1));
    EXPECT_EQ(servicetest::GetErrorStatus(root_->port(), many, &error), 1) << error;  // tooBig
    EXPECT_TRUE(stillServes());

    // An unknown community gets no answer at all.
    const Result unknown = testproc::Run({"/usr/bin/snmpget", "-On", "-t", "1", "-r", "0", "-v2c",
                                          "-c", "nosuch", root_->address(), probe},
                                         root_->Env(), std::chrono::seconds(20));
    EXPECT_NE(unknown.status, 0);
    EXPECT_TRUE(Contains(unknown.out + unknown.err, "Timeout")) << unknown.out << unknown.err;
    EXPECT_TRUE(stillServes());

    // GETBULK with max-repetitions far beyond any table: the engine bounds
    // the response, which ends in endOfMibView (from the agents' first
    // table on, the rest fits in the engine's limit of 100 repetitions).
    const Result bulk = root_->Client(
        "snmpbulkget", {"-v2c", "-c", "public", "-Cn0", "-Cr2147483647"}, {".1.3.6.1.2.1.10"});
    const Bindings got = ParseBindings(bulk.out);
    ASSERT_GE(got.size(), ExpectedObjects().size() + 1) << bulk.out << bulk.err;
    EXPECT_EQ(InAgentTables(got), ExpectedObjects());
    EXPECT_EQ(got.back().second, EndOfView);
    EXPECT_TRUE(stillServes());

    // Datagrams that are no SNMP message, the largest UDP allows included.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(root_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::vector<std::string> junk = {
        std::string(65507, '\x30'),                          // one huge length-less sequence
        std::string("\x30\x84\x7f\xff\xff\xff\x02\x01", 8),  // a length far past the end
        std::string("\x30\x03\x02\x01\x01", 5),              // a message without a community
        std::string(),                                       // nothing at all
    };
    for (const std::string &datagram : junk) {
        sendto(fd, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const struct sockaddr *>(&address), sizeof address);
    }
    close(fd);
    EXPECT_TRUE(stillServes());
}

TEST_F(ServiceTest, NetAnswersASecondStartAndUnknownServicesLikeNt) {
    const Result again = root_->Net({"start", "snmp"});
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err,
              "The requested service has already been started.\n\n"
              "More help is available by typing NET HELPMSG 2182.\n\n");

    for (const char *verb : {"START", "STOP"}) {
        const Result unknown = root_->Net({verb, "NOSUCH"});
        EXPECT_EQ(unknown.status, 2);
        EXPECT_EQ(unknown.err,
                  "The service name is invalid.\n\n"
                  "More help is available by typing NET HELPMSG 2185.\n\n");
    }

    const Result list = root_->Net({"START"});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(Contains(list.out, "\n   SNMP\n")) << list.out;

    EXPECT_EQ(root_->Net({}).status, 1);
    EXPECT_EQ(root_->Net({"START", "SNMP", "extra"}).status, 1);
    EXPECT_EQ(root_->Net({"PAUSE", "SNMP"}).status, 1);
}

// Roots of their own, for services that start, fail or stop on their own.

// An adapter linked to an interface folder: the counters of one request
// come from the folder the entry leads to, and the next request sees a
// counter rewritten, the duplex changed and the entry linked elsewhere.
TEST(LinkedInterfaceServiceTest, EachRequestSeesTheInterfaceAsItIsThen) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    auto makeInterface = [&](const std::string &name, unsigned base, const char *duplex) {
        const std::string folder = root.folder() + "/net/" + name;
        EXPECT_EQ(std::system(("mkdir -p '" + folder + "/statistics'").c_str()), 0);
        const char *files[] = {"rx_frame_errors", "rx_crc_errors", "tx_window_errors"};
        for (unsigned i = 0; i < 3; ++i) {
            servicetest::WriteFile(folder + "/statistics/" + files[i],
                                   std::to_string(base + i) + "\n");
        }
        servicetest::WriteFile(folder + "/duplex", std::string(duplex) + "\n");
        return folder;
    };
    const std::string first = makeInterface("eth0", 100, "half");
    const std::string second = makeInterface("eth1", 200, "full");
    const std::string entry = root.root() + "/Device/Vxlnk1";
    ASSERT_EQ(symlink(first.c_str(), entry.c_str()), 0);
    const Result start = root.Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.out << start.err << root.Log();

    // Alignment, FCS and late collisions of the one row, in one request.
    const std::vector<std::string> names = {Obj(Dot3Entry, 2, 1), Obj(Dot3Entry, 3, 1),
                                            Obj(Dot3Entry, 8, 1)};
    auto get = [&] { return ParseBindings(root.Client("snmpget", V2, names).out); };
    auto counters = [&](unsigned alignment, unsigned fcs, unsigned late) {
        return Bindings({{names[0], "Counter32: " + std::to_string(alignment)},
                         {names[1], "Counter32: " + std::to_string(fcs)},
                         {names[2], "Counter32: " + std::to_string(late)}});
    };
    EXPECT_EQ(get(), counters(100, 101, 102));
    servicetest::WriteFile(first + "/statistics/rx_crc_errors", "111\n");
    EXPECT_EQ(get(), counters(100, 111, 102));
    servicetest::WriteFile(first + "/duplex", "full\n");
    EXPECT_EQ(get(), counters(100, 111, 0));
    const std::string relinked = entry + ".new";
    ASSERT_EQ(symlink(second.c_str(), relinked.c_str()), 0);
    ASSERT_EQ(rename(relinked.c_str(), entry.c_str()), 0);
    EXPECT_EQ(get(), counters(200, 201, 0));
    servicetest::WriteFile(second + "/duplex", "half\n");
    EXPECT_EQ(get(), counters(200, 201, 202));
}

TEST(ServiceInstallTest, InstallRegistersTheServiceOnceAndKeepsTheAgentList) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");

    const Result again = root.Snmpsvc({"--root", root.root(), "install"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "The SNMP service was installed in " + root.root() + " already.\n");
    // The configuration the test wrote over the installed one stays.
    EXPECT_EQ(ReadFile(root.root() + "/snmp/snmpsvc.conf"),
              "agentaddress " + root.address() + "\n");

    setenv("NTROOT", root.root().c_str(), 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\SNMP", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\snmp", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    char image[4096] = {};
    DWORD size = sizeof image;
    DWORD type = 0;
    ASSERT_EQ(
        RegQueryValueExA(key, "ImagePath", nullptr, &type, reinterpret_cast<BYTE *>(image), &size),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    char real[PATH_MAX];
    ASSERT_NE(realpath((BinDir + "/snmpsvc").c_str(), real), nullptr);
    EXPECT_EQ(std::string(image), std::string(real) + " run");

    // The agent list kept setup's values through the second install.
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents", 0,
                      KEY_READ, &key),
        ERROR_SUCCESS);
    char agent[256] = {};
    size = sizeof agent;
    EXPECT_EQ(RegQueryValueExA(key, "VeltrixETHSTAT", nullptr, &type,
                               reinterpret_cast<BYTE *>(agent), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 65u);
    RegCloseKey(key);

    // NET in the system directory is a link to build/bin/NET, and runs
    // from there ($ORIGIN follows the link to find the platform library).
    const std::string net = root.root() + "/Windows/System32/NET";
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(net.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target),
              std::string(real).substr(0, std::string(real).rfind('/')) + "/NET");
    const Result help = testproc::Run({net, "HELPMSG", "3521"}, root.Env());
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.out, "\nThe *** service is not started.\n\n");
}

TEST(ServiceInstallTest, CommandsRefuseAMissingRoot) {
    TestRoot root;  // nothing made in it
    const std::string missing = root.folder() + "/nowhere";
    const Result install = root.Snmpsvc({"--root", missing, "install"});
    EXPECT_EQ(install.status, 1);
    EXPECT_EQ(install.err, "snmpsvc: no NT root at " + missing + "; run 'ntroot init'\n");
    const Result run = root.Snmpsvc({"--root", missing, "run"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snmpsvc: no NT root at " + missing + "; run 'ntroot init'\n");
    testproc::Environment env = root.Env();
    env["NTROOT"] = missing;
    const Result net = testproc::Run({BinDir + "/NET", "START", "SNMP"}, env);
    EXPECT_EQ(net.status, 2);
    EXPECT_EQ(net.err, "NET: no NT root at " + missing + "; run 'ntroot init'\n");

    // With --syslog the reason goes to the system log, not to standard error.
    const Result quiet = root.Snmpsvc({"--root", missing, "run", "--syslog"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err, "");

    EXPECT_EQ(root.Snmpsvc({}).status, 2);
    EXPECT_EQ(root.Snmpsvc({"frobnicate"}).status, 2);
    EXPECT_EQ(root.Snmpsvc({"run", "--listen"}).status, 2);
    EXPECT_EQ(root.Snmpsvc({"--help"}).status, 0);
}

TEST(ServiceLifeTest, NetStopsAndTellsAStoppedServiceFromAStalePidFile) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    root.AddAdapter("Vxlnk1", 1000);

    const std::string notStarted =
        "The SNMP service is not started.\n\nMore help is available by typing NET HELPMSG "
        "3521.\n\n";
    Result stop = root.Net({"STOP", "SNMP"});
    EXPECT_EQ(stop.status, 2);
    EXPECT_EQ(stop.err, notStarted);

    // A pid file left by a service that was killed: the process is gone.
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    ASSERT_EQ(testproc::WaitFor(gone, std::chrono::seconds(5)), 0);
    ASSERT_TRUE(servicetest::WriteFile(root.root() + "/run/SNMP.pid", std::to_string(gone) + "\n"));
    stop = root.Net({"STOP", "SNMP"});
    EXPECT_EQ(stop.status, 2);
    EXPECT_EQ(stop.err, notStarted);

    const Result start = root.Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.err << root.Log();
    const svcstate::ServiceFiles files = svcstate::FilesOf(root.root(), "SNMP");
    const pid_t pid = svcstate::QueryService(files).pid;
    EXPECT_EQ(ReadFile(files.pid), std::to_string(pid) + "\n");

    stop = root.Net({"stop", "Snmp"});
    EXPECT_EQ(stop.status, 0) << stop.err;
    EXPECT_EQ(stop.out,
              "The SNMP service is stopping.\nThe SNMP service was stopped successfully.\n\n");
    EXPECT_EQ(svcstate::QueryService(files).state, svcstate::State::Stopped);
    EXPECT_NE(access(files.pid.c_str(), F_OK), 0);
    // The process has ended (its parent, now init, reaps it soon after).
    EXPECT_TRUE(testproc::Eventually(
        [&] {
            const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
            return stat.empty() || Contains(stat, ") Z ");
        },
        std::chrono::seconds(5)));
    const std::string log = root.Log();
    EXPECT_TRUE(Contains(log, "snmpsvc: stopping\n")) << log;
    // Nothing but the service's own lines: no sanitizer report, no library noise.
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.compare(0, 9, "snmpsvc: "), 0) << line;
    }
}

TEST(ServiceLifeTest, SigtermEndsAForegroundServiceCleanly) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    root.AddAdapter("Vxpci_9", 5000);
    const std::string log = root.folder() + "/foreground.log";
    const pid_t pid =
        testproc::Spawn({BinDir + "/snmpsvc", "--root", root.root(), "run"}, root.Env(), log);
    ASSERT_GT(pid, 0);
    const std::string pidFile = root.root() + "/run/SNMP.pid";
    const bool serving = testproc::Eventually(
        [&] { return ReadFile(pidFile) == std::to_string(pid) + "\n"; }, std::chrono::seconds(20));
    if (!serving) {
        kill(pid, SIGKILL);
        testproc::WaitFor(pid, std::chrono::seconds(5));
        FAIL() << ReadFile(log);
    }
    const std::string name = Obj(HrDeviceEntry, 1, 1);
    EXPECT_EQ(ParseBindings(root.Client("snmpget", V1, {name}).out),
              Bindings({{name, "INTEGER: 1"}}));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const int status = testproc::WaitFor(pid, std::chrono::seconds(20));
    if (status == -1) {
        kill(pid, SIGKILL);
        testproc::WaitFor(pid, std::chrono::seconds(5));
    }
    EXPECT_EQ(status, 0) << ReadFile(log);
    EXPECT_NE(access(pidFile.c_str(), F_OK), 0);
    EXPECT_TRUE(Contains(ReadFile(log), "snmpsvc: stopping\n")) << ReadFile(log);
}

TEST(ServiceLifeTest, APortInUseFailsTheStartWithItsReason) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(root.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address), 0);

    const Result start = root.Net({"START", "SNMP"});
    close(fd);
    EXPECT_EQ(start.status, 2);
    EXPECT_EQ(start.out, "The SNMP service is starting.\n");
    EXPECT_EQ(start.err,
              "The SNMP service could not be started.\n\n"
              "snmpsvc: cannot listen on " +
                  root.address() +
                  " (the address is in use)\n\n"
                  "A service specific error occurred: 1.\n\n"
                  "More help is available by typing NET HELPMSG 3547.\n\n");
    EXPECT_EQ(svcstate::QueryService(svcstate::FilesOf(root.root(), "SNMP")).state,
              svcstate::State::Stopped);
    EXPECT_NE(access((root.root() + "/run/SNMP.pid").c_str(), F_OK), 0);
}

TEST(ServiceLifeTest, AnotherInstanceOfTheServiceIsRefused) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.Net({"START", "SNMP"}).status, 0) << root.Log();
    const pid_t pid = svcstate::QueryService(svcstate::FilesOf(root.root(), "SNMP")).pid;
    const Result second =
        root.Snmpsvc({"--root", root.root(), "run", "--listen",
                      "udp:127.0.0.1:" + std::to_string(servicetest::FreeUdpPort())});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err,
              "snmpsvc: the service is already running (pid " + std::to_string(pid) + ")\n");
}

TEST(ServiceAgentsTest, BrokenRegistryEntriesAreLoggedAndTheRestServed) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    root.AddAdapter("Vxlnk1", 1000);
    root.AddAdapter("Vxpci2", 2000);
    const std::string system32 = root.root() + "/Windows/System32/";
    ASSERT_TRUE(servicetest::WriteFile(system32 + "JUNK.DLL", "not a library\n"));
    ASSERT_EQ(symlink(NOENTRY_AGENT_PATH, (system32 + "NOENTRY.DLL").c_str()), 0);
    ASSERT_EQ(symlink(DECLINING_AGENT_PATH, (system32 + "DECLINE.DLL").c_str()), 0);
    mkdir((system32 + "FOLDER.DLL").c_str(), 0755);
    ASSERT_EQ(mkfifo((system32 + "FIFO.DLL").c_str(), 0644), 0);
    struct Broken {
        const char *value;
        const char *pathname;  // null: the value names a key that does not exist
        const char *logged;
    };
    const Broken broken[] = {
        {"BadMissing", "%SystemRoot%\\System32\\MISSING.DLL", "skipped: library not found"},
        {"BadJunk", "%SystemRoot%\\System32\\JUNK.DLL",
         "JUNK.DLL) skipped: not a library (no ELF header)"},
        {"BadNoEntry", "%SystemRoot%\\System32\\NOENTRY.DLL",
         "skipped: entry points missing: SnmpExtensionInit, SnmpExtensionQuery"},
        {"BadInit", "%SystemRoot%\\System32\\DECLINE.DLL", "skipped: initialisation failed"},
        {"BadFolder", "%SystemRoot%\\System32\\FOLDER.DLL", "skipped: not a library (a folder)"},
        {"BadFifo", "%SystemRoot%\\System32\\FIFO.DLL",
         "skipped: not a library (not a regular file)"},
        {"BadEmpty", "", "names no DLL"},
        {"BadKey", nullptr, "cannot open HKLM\\SOFTWARE\\Nowhere"},
        {"BadTwice", "%SystemRoot%\\System32\\HOSTDEV.DLL", "that library is loaded already"},
    };
    for (const Broken &entry : broken) {
        const std::string key = std::string("SOFTWARE\\Test\\") + entry.value;
        if (entry.pathname == nullptr) {
            setenv("NTROOT", root.root().c_str(), 1);
            HKEY list = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\"
                                    "ExtensionAgents",
                                    0, KEY_ALL_ACCESS, &list),
                      ERROR_SUCCESS);
            const std::string data = "SOFTWARE\\Nowhere";
            ASSERT_EQ(RegSetValueExA(list, entry.value, 0, REG_SZ,
                                     reinterpret_cast<const BYTE *>(data.c_str()),
                                     static_cast<DWORD>(data.size() + 1)),
                      ERROR_SUCCESS);
            RegCloseKey(list);
        } else {
            ASSERT_EQ(root.RegisterAgent(entry.value, key, entry.pathname), "");
        }
    }

    const Result start = root.Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.err << root.Log();
    const std::string log = root.Log();
    for (const Broken &entry : broken) {
        SCOPED_TRACE(entry.value);
        size_t lines = 0;
        size_t at = 0;
        const std::string tag = std::string("agent ") + entry.value;
        while ((at = log.find(tag, at)) != std::string::npos) {
            const size_t end = log.find('\n', at);
            EXPECT_TRUE(Contains(log.substr(at, end - at), entry.logged)) << log;
            ++lines;
            at = end;
        }
        EXPECT_EQ(lines, 1u) << log;
    }
    EXPECT_TRUE(Contains(log, "serving 2 agents")) << log;
    const Result walk = root.Client("snmpwalk", V1, {".1"});
    EXPECT_EQ(InAgentTables(ParseBindings(walk.out)), ExpectedObjects());
}

TEST(ServiceAgentsTest, AgentsThatFailToInitialiseLeaveTheServiceRunning) {
    TestRoot root;  // no adapters: both agents decline to serve
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    const Result start = root.Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.err << root.Log();
    const std::string log = root.Log();
    EXPECT_TRUE(Contains(log, "agent VeltrixHOSTDEV (" + root.root() +
                                  "/Windows/System32/HOSTDEV.DLL) skipped: no adapter found\n"))
        << log;
    EXPECT_TRUE(Contains(log, "agent VeltrixETHSTAT (" + root.root() +
                                  "/Windows/System32/ETHSTAT.DLL) skipped: no adapter found\n"))
        << log;
    EXPECT_TRUE(Contains(log, "serving 0 agents")) << log;
    const Result walk = root.Client("snmpwalk", V2, {".1"});
    EXPECT_EQ(InAgentTables(ParseBindings(walk.out)), Bindings()) << walk.out;
}

}  // namespace

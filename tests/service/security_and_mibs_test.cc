// SNMPv3 users of the service (`snmpsvc user add`, authPriv walks, who gets
// nothing), the switch that turns SNMPv1 and SNMPv2c off, and our MIB
// modules in the root for clients that print named columns: a real snmpsvc
// in a private NT root and Net-SNMP's own clients over loopback.
#include <sys/stat.h>

#include <map>
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

const std::string Dot3Table = ".1.3.6.1.2.1.10.7.2";
const std::string HrDeviceTable = ".1.3.6.1.2.1.25.3.2";
const std::string AuthPass = "auth pass phrase";
const std::string PrivPass = "privacy pass phrase";
const std::vector<std::string> V2 = {"-v2c", "-c", "public"};

// snmpwalk/snmpget options of an SNMPv3 user.
std::vector<std::string> V3(const std::string &user, const std::string &level,
                            const std::string &authProto, const std::string &authPass,
                            const std::string &privProto, const std::string &privPass) {
    std::vector<std::string> options = {"-v3", "-u", user, "-l", level};
    if (level != "noAuthNoPriv") {
        options.insert(options.end(), {"-a", authProto, "-A", authPass});
    }
    if (level == "authPriv") {
        options.insert(options.end(), {"-x", privProto, "-X", privPass});
    }
    return options;
}

// A root with both agents and two adapters, the community switched as
// extraConfig says, and users added with `snmpsvc user add` before the
// service starts.
std::string MakeServedRoot(TestRoot *root, const std::string &extraConfig,
                           const std::vector<std::vector<std::string>> &users) {
    std::string error = root->Make(extraConfig);
    if (error.empty()) {
        error = root->RegisterBothAgents();
    }
    if (!error.empty()) {
        return error;
    }
    root->AddAdapter("Vxlnk1", 1000);
    root->AddAdapter("Vxpci2", 2000);
    for (const std::vector<std::string> &user : users) {
        std::vector<std::string> args = {"user", "add"};
        args.insert(args.end(), user.begin(), user.end());
        const Result added = root->Snmpsvc(args);
        if (added.status != 0) {
            return "snmpsvc user add: " + added.out + added.err;
        }
    }
    const Result start = root->Net({"START", "SNMP"});
    return start.status == 0 ? "" : "NET START SNMP: " + start.out + start.err + root->Log();
}

// The users of the suite: one SHA-256/AES, one SHA-512/AES-256.
const std::vector<std::vector<std::string>> Users = {
    {"alice", "--auth-proto", "SHA-256", "--auth-pass", AuthPass, "--priv-proto", "AES",
     "--priv-pass", PrivPass},
    {"bob", "--auth-proto=sha-512", "--auth-pass=" + AuthPass, "--priv-proto=aes-256",
     "--priv-pass=" + PrivPass},
};

class SnmpV3Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TestRoot;
        setupError_ = MakeServedRoot(root_, "", Users);
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(setupError_, ""); }

    // The objects of both tables, walked with options.
    static std::vector<std::pair<std::string, std::string>> WalkBoth(
        const std::vector<std::string> &options) {
        std::vector<std::pair<std::string, std::string>> all;
        for (const std::string &table : {Dot3Table, HrDeviceTable}) {
            const Result walk = root_->Client("snmpwalk", options, {table});
            for (const auto &binding : ParseBindings(walk.out)) {
                if (binding.second.compare(0, 17, "No more variables") != 0) {
                    all.push_back(binding);  // not the walk's end of the view
                }
            }
        }
        return all;
    }

    static TestRoot *root_;
    static std::string setupError_;
};

TestRoot *SnmpV3Test::root_ = nullptr;
std::string SnmpV3Test::setupError_;

TEST_F(SnmpV3Test, AuthPrivUsersWalkBothTablesLikeTheCommunity) {
    const auto community = WalkBoth(V2);
    ASSERT_EQ(community.size(), 13u * 2 + 6u * 2);
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)),
              community);
    EXPECT_EQ(WalkBoth(V3("bob", "authPriv", "SHA-512", AuthPass, "AES-256", PrivPass)),
              community);
    // The pass phrases stay in the owner-only configuration file.
    struct stat info;
    ASSERT_EQ(stat((root_->root() + "/snmp/snmpsvc.conf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(SnmpV3Test, WrongKeysLowerLevelsAndUnknownUsersGetNoData) {
    struct Case {
        const char *what;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"wrong authentication pass phrase",
         V3("alice", "authPriv", "SHA-256", "not the pass phrase", "AES", PrivPass)},
        {"wrong privacy pass phrase",
         V3("alice", "authPriv", "SHA-256", AuthPass, "AES", "not the pass phrase")},
        {"wrong authentication protocol",
         V3("alice", "authPriv", "SHA-512", AuthPass, "AES", PrivPass)},
        {"noAuthNoPriv", V3("alice", "noAuthNoPriv", "", "", "", "")},
        {"authNoPriv", V3("alice", "authNoPriv", "SHA-256", AuthPass, "", "")},
        {"unknown user", V3("carol", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)},
        {"unknown community", {"-v2c", "-c", "alice"}},
    };
    for (const Case &c : cases) {
        const Result walk = root_->Client("snmpwalk", c.options, {Dot3Table});
        EXPECT_TRUE(ParseBindings(walk.out).empty()) << c.what << ": " << walk.out;
        EXPECT_NE(walk.status, 0) << c.what << ": " << walk.out << walk.err;
    }
    // And the service answers on.
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)).size(),
              38u);
}

TEST_F(SnmpV3Test, UsersSurviveARestartAndNoPassPhraseIsPersisted) {
    ASSERT_EQ(root_->Net({"STOP", "SNMP"}).status, 0);
    const std::string persisted = ReadFile(root_->root() + "/snmp/persist/snmpsvc.conf");
    EXPECT_TRUE(Contains(persisted, "usmUser")) << persisted;
    EXPECT_FALSE(Contains(persisted, AuthPass)) << persisted;
    EXPECT_FALSE(Contains(persisted, PrivPass)) << persisted;
    const Result start = root_->Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.out << start.err << root_->Log();
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)).size(),
              38u);
    EXPECT_EQ(WalkBoth(V3("bob", "authPriv", "SHA-512", AuthPass, "AES-256", PrivPass)).size(),
              38u);
    EXPECT_TRUE(
        WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", "not the pass phrase"))
            .empty());
    EXPECT_FALSE(Contains(root_->Log(), "Warning")) << root_->Log();
}

TEST(SnmpCommunitySwitchTest, OffLeavesSnmpV1AndV2cUnansweredAndV3Working) {
    TestRoot root;
    ASSERT_EQ(MakeServedRoot(&root, "snmpsvcCommunity off\n", {Users[0]}), "");
    for (const std::vector<std::string> &options :
         {V2, std::vector<std::string>{"-v1", "-c", "public"}}) {
        const Result walk = root.Client("snmpwalk", options, {Dot3Table});
        EXPECT_TRUE(ParseBindings(walk.out).empty()) << options[0] << ": " << walk.out;
        EXPECT_NE(walk.status, 0) << options[0];
    }
    const Result v3 = root.Client(
        "snmpwalk", V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass), {Dot3Table});
    EXPECT_EQ(ParseBindings(v3.out).size(), 26u) << v3.out << v3.err;
    EXPECT_FALSE(Contains(root.Log(), "snmpsvcCommunity")) << root.Log();
}

TEST(SnmpCommunitySwitchTest, OnAndAWrongValue) {
    TestRoot root;
    ASSERT_EQ(MakeServedRoot(&root, "snmpsvcCommunity on\nsnmpsvcCommunity maybe\n", {}), "");
    const Result walk = root.Client("snmpwalk", V2, {Dot3Table});
    EXPECT_EQ(ParseBindings(walk.out).size(), 26u) << walk.out << walk.err;
    EXPECT_TRUE(Contains(root.Log(), "snmpsvcCommunity must be \"on\" or \"off\"")) << root.Log();
}

TEST(SnmpUserCommandTest, RefusesWhatTheLibraryWouldRefuseAndLeavesTheFileAlone) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const std::string config = root.root() + "/snmp/snmpsvc.conf";
    const std::string good7 = "seven77";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {{"alice", "--auth-pass", good7, "--priv-pass", PrivPass}, 2,
         "the authentication pass phrase must have at least 8 characters"},
        {{"alice", "--auth-pass", AuthPass, "--priv-pass", good7}, 2,
         "the privacy pass phrase must have at least 8 characters"},
        {{"alice", "--auth-pass", "with \"quote\"", "--priv-pass", PrivPass}, 2,
         "may not hold a double quote"},
        {{"alice", "--auth-proto", "MD5", "--auth-pass", AuthPass, "--priv-pass", PrivPass}, 2,
         "unknown authentication protocol MD5"},
        {{"alice", "--priv-proto", "DES", "--auth-pass", AuthPass, "--priv-pass", PrivPass}, 2,
         "unknown privacy protocol DES"},
        {{"al ice", "--auth-pass", AuthPass, "--priv-pass", PrivPass}, 2,
         "a user name holds only"},
        {{"alice", "--auth-pass", AuthPass}, 2, "needs --auth-pass and --priv-pass"},
        {{"--auth-pass", AuthPass, "--priv-pass", PrivPass}, 2, "needs a user name"},
        {{"alice", "--priv-pass"}, 2, "--priv-pass needs a value"},
    };
    const std::string before = ReadFile(config);
    for (const Case &c : cases) {
        std::vector<std::string> args = {"user", "add"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result added = root.Snmpsvc(args);
        EXPECT_EQ(added.status, c.status) << c.message;
        EXPECT_TRUE(Contains(added.err, c.message)) << added.err;
        EXPECT_EQ(ReadFile(config), before) << c.message;
    }

    // Exactly eight characters are enough; the same name twice is refused.
    const std::vector<std::string> add = {"user", "add", "alice", "--auth-pass", "eight888",
                                          "--priv-pass", "eight888"};
    const Result first = root.Snmpsvc(add);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(Contains(first.out, "Restart the SNMP service")) << first.out;
    const std::string after = ReadFile(config);
    EXPECT_EQ(after, before +
                         "createUser alice SHA-256 \"eight888\" AES \"eight888\"\n"
                         "rouser alice authPriv\n");
    const Result second = root.Snmpsvc(add);
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(Contains(second.err, "the user alice exists already")) << second.err;
    EXPECT_EQ(ReadFile(config), after);

    const Result help = root.Snmpsvc({"--help"});
    EXPECT_TRUE(Contains(help.out, "user add NAME")) << help.out;
}

// Rows of `snmptable -Cf | -Ci`: the header's names, then each row's cells
// by column name.
struct Table {
    std::vector<std::string> columns;
    std::vector<std::map<std::string, std::string>> rows;
};

std::vector<std::string> Split(const std::string &line, char separator) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, separator);) {
        cells.push_back(cell);
    }
    return cells;
}

Table ParseTable(const std::string &out) {
    Table table;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find('|') == std::string::npos) {
            continue;  // the title and the blank line
        }
        const std::vector<std::string> cells = Split(line, '|');
        if (table.columns.empty()) {
            table.columns = cells;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < cells.size() && i < table.columns.size(); ++i) {
            row[table.columns[i]] = cells[i];
        }
        table.rows.push_back(row);
    }
    return table;
}

TEST(ServiceMibTest, InstallCopiesOurModulesOnceAndSnmptableNamesTheColumns) {
    TestRoot root;
    ASSERT_EQ(MakeServedRoot(&root, "", {}), "");
    const std::string mibs = root.root() + "/mibs";
    for (const char *module : {"EtherLike-MIB.txt", "HOST-RESOURCES-MIB.txt"}) {
        EXPECT_EQ(ReadFile(mibs + "/" + module),
                  ReadFile(std::string(MIB_SOURCE_DIR) + "/" + module))
            << module;
    }
    struct stat before;
    ASSERT_EQ(stat((mibs + "/EtherLike-MIB.txt").c_str(), &before), 0);
    const Result again = root.Snmpsvc({"install"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(Contains(again.out, "was installed in")) << again.out;
    struct stat after;
    ASSERT_EQ(stat((mibs + "/EtherLike-MIB.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    auto snmptable = [&](const std::string &table) {
        return testproc::Run({"/usr/bin/snmptable", "-M", "+" + mibs, "-m",
                              "EtherLike-MIB:HOST-RESOURCES-MIB", "-v2c", "-c", "public", "-t",
                              "2", "-r", "2", "-Ci", "-Cf", "|", root.address(), table},
                             root.Env());
    };

    const Result dot3 = snmptable("dot3StatsTable");
    ASSERT_EQ(dot3.status, 0) << dot3.out << dot3.err;
    EXPECT_EQ(dot3.err, "");
    const Table stats = ParseTable(dot3.out);
    const std::vector<std::string> statColumns = {
        "index", "dot3StatsIndex", "dot3StatsAlignmentErrors", "dot3StatsFCSErrors",
        "dot3StatsSingleCollisionFrames", "dot3StatsMultipleCollisionFrames",
        "dot3StatsSQETestErrors", "dot3StatsDeferredTransmissions", "dot3StatsLateCollisions",
        "dot3StatsExcessiveCollisions", "dot3StatsInternalMacTransmitErrors",
        "dot3StatsCarrierSenseErrors", "dot3StatsFrameTooLongs",
        "dot3StatsInternalMacReceiveErrors"};
    EXPECT_EQ(stats.columns, statColumns) << dot3.out;
    ASSERT_EQ(stats.rows.size(), 2u) << dot3.out;
    for (unsigned row = 1; row <= 2; ++row) {
        const auto &cells = stats.rows[row - 1];
        EXPECT_EQ(cells.at("index"), std::to_string(row));
        EXPECT_EQ(cells.at("dot3StatsIndex"), std::to_string(row));
        EXPECT_EQ(cells.at("dot3StatsAlignmentErrors"), std::to_string(1000 * row + 2));
        EXPECT_EQ(cells.at("dot3StatsCarrierSenseErrors"), std::to_string(1000 * row + 11));
        EXPECT_EQ(cells.at("dot3StatsFrameTooLongs"), "0");
        EXPECT_EQ(cells.at("dot3StatsInternalMacReceiveErrors"),
                  std::to_string(1000 * row + 16));
    }

    const Result hr = snmptable("hrDeviceTable");
    ASSERT_EQ(hr.status, 0) << hr.out << hr.err;
    EXPECT_EQ(hr.err, "");
    const Table devices = ParseTable(hr.out);
    const std::vector<std::string> deviceColumns = {"index",         "hrDeviceIndex",
                                                    "hrDeviceType",  "hrDeviceDescr",
                                                    "hrDeviceID",    "hrDeviceStatus",
                                                    "hrDeviceErrors"};
    EXPECT_EQ(devices.columns, deviceColumns) << hr.out;
    ASSERT_EQ(devices.rows.size(), 2u) << hr.out;
    for (unsigned row = 1; row <= 2; ++row) {
        const auto &cells = devices.rows[row - 1];
        EXPECT_EQ(cells.at("hrDeviceIndex"), std::to_string(row));
        EXPECT_TRUE(Contains(cells.at("hrDeviceDescr"), "Veltrix LinkSpring Turbo PCI 10 Adapter"))
            << cells.at("hrDeviceDescr");
        EXPECT_EQ(cells.at("hrDeviceStatus"), "unknown");
        EXPECT_EQ(cells.at("hrDeviceErrors"), "0");
    }
}

}  // namespace

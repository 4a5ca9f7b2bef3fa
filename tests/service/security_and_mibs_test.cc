// SNMPv3 users of the service (`snmpsvc user add|list|del`, authPriv walks,
// who gets nothing, what is kept on disk), the switch that turns SNMPv1 and SNMPv2c off, and our
// MIB modules in the root for clients that print named columns: a real snmpsvc in a private NT root
// and Net-SNMP's own clients over loopback.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <algorithm>
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

// Writes text to path (a pass phrase file of a test).
void WriteFile(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

// Runs a shell command line in the root's environment (for pipes into
// snmpsvc and for concurrent runs).
Result Shell(TestRoot *root, const std::string &script) {
    return testproc::Run({"/bin/sh", "-c", script}, root->Env());
}

std::string SnmpsvcPath() { return std::string(BinDir) + "/snmpsvc"; }

// How a user of the suite is added: the arguments after `user add`, and
// what the command reads on standard input.
struct NewUser {
    std::vector<std::string> args;
    std::string input;
};

// A root with both agents and two adapters, the community switched as
// extraConfig says, and users added with `snmpsvc user add` before the
// service starts.
std::string MakeServedRoot(TestRoot *root, const std::string &extraConfig,
                           const std::vector<NewUser> &users) {
    std::string error = root->Make(extraConfig);
    if (error.empty()) {
        error = root->RegisterBothAgents();
    }
    if (!error.empty()) {
        return error;
    }
    root->AddAdapter("Vxlnk1", 1000);
    root->AddAdapter("Vxpci2", 2000);
    WriteFile(root->folder() + "/auth.txt", AuthPass + "\n");
    WriteFile(root->folder() + "/priv.txt", PrivPass + "\r\n");
    for (const NewUser &user : users) {
        std::string script = "cd '" + root->folder() + "' && printf '" + user.input + "' | '" +
                             SnmpsvcPath() + "' user add";
        for (const std::string &arg : user.args) {
            script += " '" + arg + "'";
        }
        const Result added = Shell(root, script);
        if (added.status != 0) {
            return "snmpsvc user add: " + added.out + added.err;
        }
    }
    const Result start = root->Net({"START", "SNMP"});
    return start.status == 0 ? "" : "NET START SNMP: " + start.out + start.err + root->Log();
}

// The users of the suite: one SHA-256/AES with its pass phrases in files,
// one SHA-512/AES-256 with both on standard input, one SHA-1/AES-256 (whose
// privacy key the library extends) with a pass phrase file and standard
// input.
const std::vector<NewUser> Users = {
    {{"alice", "--auth-proto", "SHA-256", "--auth-pass-file", "auth.txt", "--priv-proto", "AES",
      "--priv-pass-file", "priv.txt"},
     ""},
    {{"bob", "--auth-proto=sha-512", "--auth-pass-file=-", "--priv-proto=aes-256",
      "--priv-pass-file=-"},
     AuthPass + "\\n" + PrivPass + "\\n"},
    {{"dave", "--auth-proto=SHA", "--auth-pass-file", "auth.txt", "--priv-proto=AES-256",
      "--priv-pass-file", "-"},
     PrivPass},
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
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)), community);
    EXPECT_EQ(WalkBoth(V3("bob", "authPriv", "SHA-512", AuthPass, "AES-256", PrivPass)), community);
    EXPECT_EQ(WalkBoth(V3("dave", "authPriv", "SHA", AuthPass, "AES-256", PrivPass)), community);
    // The users' keys stay in the owner-only configuration file.
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
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)).size(), 38u);
}

TEST_F(SnmpV3Test, UsersSurviveARestartAndNoPassPhraseIsKept) {
    ASSERT_EQ(root_->Net({"STOP", "SNMP"}).status, 0);
    const std::string config = ReadFile(root_->root() + "/snmp/snmpsvc.conf");
    const std::string persisted = ReadFile(root_->root() + "/snmp/persist/snmpsvc.conf");
    for (const std::string &text : {config, persisted}) {
        EXPECT_FALSE(Contains(text, AuthPass)) << text;
        EXPECT_FALSE(Contains(text, PrivPass)) << text;
    }
    EXPECT_TRUE(Contains(config, "usmUser 1 5 ")) << config;
    // The users are the configuration's alone: the library keeps no copy
    // that a deleted user could come back from.
    EXPECT_FALSE(Contains(persisted, "usmUser")) << persisted;
    const Result start = root_->Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.out << start.err << root_->Log();
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)).size(), 38u);
    EXPECT_EQ(WalkBoth(V3("bob", "authPriv", "SHA-512", AuthPass, "AES-256", PrivPass)).size(),
              38u);
    EXPECT_TRUE(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", "not the pass phrase"))
                    .empty());
    EXPECT_FALSE(Contains(root_->Log(), "Warning")) << root_->Log();
}

TEST_F(SnmpV3Test, ADeletedUserIsRefusedAfterTheRestartAndTheOthersStay) {
    const Result list = root_->Snmpsvc({"user", "list"});
    ASSERT_EQ(list.status, 0) << list.err;
    for (const char *line : {"alice                SHA-256  AES      authPriv (read-only)",
                             "bob                  SHA-512  AES-256  authPriv (read-only)",
                             "dave                 SHA      AES-256  authPriv (read-only)"}) {
        EXPECT_TRUE(Contains(list.out, line)) << list.out;
    }
    const Result del = root_->Snmpsvc({"user", "del", "bob"});
    ASSERT_EQ(del.status, 0) << del.err;
    EXPECT_TRUE(Contains(del.out, "Restart the SNMP service")) << del.out;
    EXPECT_FALSE(Contains(root_->Snmpsvc({"user", "list"}).out, "bob"));
    ASSERT_EQ(root_->Net({"STOP", "SNMP"}).status, 0);
    ASSERT_EQ(root_->Net({"START", "SNMP"}).status, 0) << root_->Log();
    EXPECT_TRUE(WalkBoth(V3("bob", "authPriv", "SHA-512", AuthPass, "AES-256", PrivPass)).empty());
    EXPECT_EQ(WalkBoth(V3("alice", "authPriv", "SHA-256", AuthPass, "AES", PrivPass)).size(), 38u);
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
    const std::string good7 = root.folder() + "/seven.txt";
    const std::string empty = root.folder() + "/empty.txt";
    const std::string good = root.folder() + "/good.txt";
    WriteFile(good7, "seven77\n");
    WriteFile(empty, "");
    WriteFile(good, AuthPass + "\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {{"alice", "--auth-pass-file", good7, "--priv-pass-file", good},
         2,
         "the authentication pass phrase must have at least 8 characters"},
        {{"alice", "--auth-pass-file", good, "--priv-pass-file", good7},
         2,
         "the privacy pass phrase must have at least 8 characters"},
        {{"alice", "--auth-pass-file", good, "--priv-pass-file", empty},
         1,
         "holds no privacy pass phrase"},
        {{"alice", "--auth-pass-file", root.folder() + "/missing", "--priv-pass-file", good},
         1,
         "cannot read"},
        {{"alice", "--auth-pass-file", "-", "--priv-pass-file", "-"},
         1,
         "standard input holds no authentication pass phrase"},
        {{"alice", "--auth-proto", "MD5", "--auth-pass-file", good, "--priv-pass-file", good},
         2,
         "unknown authentication protocol MD5"},
        {{"alice", "--priv-proto", "DES", "--auth-pass-file", good, "--priv-pass-file", good},
         2,
         "unknown privacy protocol DES"},
        {{"al ice", "--auth-pass-file", good, "--priv-pass-file", good},
         2,
         "a user name holds only"},
        {{"--auth-pass-file", good, "--priv-pass-file", good}, 2, "needs a user name"},
        {{"alice", "--priv-pass-file"}, 2, "--priv-pass-file needs a value"},
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

    // Exactly eight characters are enough, quotes and backslashes too (only
    // keys are written); the pass phrases on the command line still work,
    // with a warning. The same name twice is refused.
    const std::vector<std::string> add = {"user",       "add",         "alice",   "--auth-pass",
                                          "e\"ght\\88", "--priv-pass", "eight888"};
    const Result first = root.Snmpsvc(add);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(Contains(first.err, "warning: a pass phrase on the command line")) << first.err;
    EXPECT_TRUE(Contains(first.out, "Restart the SNMP service")) << first.out;
    const std::string after = ReadFile(config);
    EXPECT_FALSE(Contains(after, "eight888")) << after;
    const Result second = root.Snmpsvc(add);
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(Contains(second.err, "the user alice exists already")) << second.err;
    EXPECT_EQ(ReadFile(config), after);

    // Deleting or listing needs a known name and nothing more.
    const Case others[] = {
        {{"del", "carol"}, 1, "there is no SNMPv3 user carol in"},
        {{"del"}, 2, "user del needs a user name"},
        {{"list", "extra"}, 2, "unexpected argument extra"},
        {{"del", "alice", "--auth-proto", "SHA"}, 2, "belong to user add"},
        {{"rename", "alice"}, 2, "unknown user subcommand rename"},
    };
    for (const Case &c : others) {
        std::vector<std::string> args = {"user"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result run = root.Snmpsvc(args);
        EXPECT_EQ(run.status, c.status) << c.message;
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(ReadFile(config), after) << c.message;
    }
}

TEST(SnmpUserCommandTest, TheFirstUserPinsTheEngineIdTheServiceUsedSoFar) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    ASSERT_EQ(mkdir((root.root() + "/snmp/persist").c_str(), 0700), 0);
    WriteFile(root.root() + "/snmp/persist/snmpsvc.conf",
              "engineBoots 3\noldEngineID 0x80001f888012345678\n");
    WriteFile(root.folder() + "/pass.txt", AuthPass + "\n");
    for (const char *name : {"alice", "bob"}) {
        const Result added =
            root.Snmpsvc({"user", "add", name, "--auth-pass-file", root.folder() + "/pass.txt",
                          "--priv-pass-file", root.folder() + "/pass.txt"});
        ASSERT_EQ(added.status, 0) << added.err;
    }
    const std::string config = ReadFile(root.root() + "/snmp/snmpsvc.conf");
    const std::string pin = "\nexactEngineID 0x80001f888012345678\n";
    EXPECT_TRUE(Contains(config, pin)) << config;
    EXPECT_EQ(config.find(pin), config.rfind(pin)) << config;
    EXPECT_TRUE(Contains(config, "usmUser 1 5 0x80001f888012345678 0x626f6200 ")) << config;
}

TEST(SnmpUserCommandTest, RootKeepsTheFilesTheServiceUsersOwn) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "changes owners: runs only as root";
    }
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const uid_t owner = 65534;  // nobody: stands for the service's own user
    const std::string folder = root.root() + "/snmp";
    ASSERT_EQ(chown(folder.c_str(), owner, owner), 0);
    ASSERT_EQ(chown((folder + "/snmpsvc.conf").c_str(), owner, owner), 0);
    WriteFile(root.folder() + "/pass.txt", AuthPass + "\n");
    const Result added =
        root.Snmpsvc({"user", "add", "alice", "--auth-pass-file", root.folder() + "/pass.txt",
                      "--priv-pass-file", root.folder() + "/pass.txt"});
    ASSERT_EQ(added.status, 0) << added.err;
    for (const char *file : {"/snmpsvc.conf", "/.snmpsvc.conf.lock"}) {
        struct stat info;
        ASSERT_EQ(stat((folder + file).c_str(), &info), 0) << file;
        EXPECT_EQ(info.st_uid, owner) << file;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }
}

TEST(SnmpUserCommandTest, ConcurrentAddsAllLand) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    WriteFile(root.folder() + "/pass.txt", AuthPass + "\n");
    std::string script = "cd '" + root.folder() + "' || exit 1; pids=; ";
    for (int i = 0; i < 8; ++i) {
        script +=
            "'" + SnmpsvcPath() + "' user add user" + std::to_string(i) +
            " --auth-pass-file pass.txt --priv-pass-file pass.txt >/dev/null & pids=\"$pids $!\"; ";
    }
    script += "for pid in $pids; do wait $pid || exit 1; done";
    const Result added = Shell(&root, script);
    ASSERT_EQ(added.status, 0) << added.err;
    const Result list = root.Snmpsvc({"user", "list"});
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(Contains(list.out, "user" + std::to_string(i) + " ")) << list.out;
    }
    const std::string config = ReadFile(root.root() + "/snmp/snmpsvc.conf");
    EXPECT_EQ(config.find("exactEngineID"), config.rfind("exactEngineID")) << config;
}

TEST(SnmpUserCommandTest, AUserWithPassPhrasesInClearIsListedAndDeletedEverywhere) {
    TestRoot root;
    ASSERT_EQ(root.Make("createUser old SHA-256 \"old pass phrase\" AES \"old pass phrase\"\n"
                        "rouser old authPriv\n"),
              "");
    ASSERT_EQ(mkdir((root.root() + "/snmp/persist").c_str(), 0700), 0);
    const std::string persist = root.root() + "/snmp/persist/snmpsvc.conf";
    WriteFile(persist,
              "usmUser 1 3 0x80001f88 0x6f6c6400 0x6f6c6400 .0.0 .1.3.6.1.6.3.10.1.1.5 0x01 "
              ".1.3.6.1.6.3.10.1.2.4 0x02 \"\"\n"
              "usmUser 1 3 0x80001f88 0x6f6c646500 0x6f6c646500 .0.0 .1.3.6.1.6.3.10.1.1.5 0x01 "
              ".1.3.6.1.6.3.10.1.2.4 0x02 \"\"\n"
              "oldEngineID 0x80001f88\n");
    const Result list = root.Snmpsvc({"user", "list"});
    EXPECT_TRUE(Contains(list.out, "old ")) << list.out;
    EXPECT_TRUE(Contains(list.out, "pass phrases kept in clear")) << list.out;
    const Result del = root.Snmpsvc({"user", "del", "old"});
    ASSERT_EQ(del.status, 0) << del.err;
    const std::string config = ReadFile(root.root() + "/snmp/snmpsvc.conf");
    EXPECT_FALSE(Contains(config, "old")) << config;
    // The library's copy of it goes too; another user's stays.
    EXPECT_EQ(ReadFile(persist),
              "usmUser 1 3 0x80001f88 0x6f6c646500 0x6f6c646500 .0.0 .1.3.6.1.6.3.10.1.1.5 0x01 "
              ".1.3.6.1.6.3.10.1.2.4 0x02 \"\"\n"
              "oldEngineID 0x80001f88\n");
    EXPECT_TRUE(Contains(root.Snmpsvc({"user", "list"}).out, "No SNMPv3 user"));
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
                              "EtherLike-MIB:HOST-RESOURCES-MIB", "-v2c", "-c", "public", "-t", "2",
                              "-r", "2", "-Ci", "-Cf", "|", root.address(), table},
                             root.Env());
    };

    const Result dot3 = snmptable("dot3StatsTable");
    ASSERT_EQ(dot3.status, 0) << dot3.out << dot3.err;
    EXPECT_EQ(dot3.err, "");
    const Table stats = ParseTable(dot3.out);
    const std::vector<std::string> statColumns = {"index",
                                                  "dot3StatsIndex",
                                                  "dot3StatsAlignmentErrors",
                                                  "dot3StatsFCSErrors",
                                                  "dot3StatsSingleCollisionFrames",
                                                  "dot3StatsMultipleCollisionFrames",
                                                  "dot3StatsSQETestErrors",
                                                  "dot3StatsDeferredTransmissions",
                                                  "dot3StatsLateCollisions",
                                                  "dot3StatsExcessiveCollisions",
                                                  "dot3StatsInternalMacTransmitErrors",
                                                  "dot3StatsCarrierSenseErrors",
                                                  "dot3StatsFrameTooLongs",
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
        EXPECT_EQ(cells.at("dot3StatsInternalMacReceiveErrors"), std::to_string(1000 * row + 16));
    }

    const Result hr = snmptable("hrDeviceTable");
    ASSERT_EQ(hr.status, 0) << hr.out << hr.err;
    EXPECT_EQ(hr.err, "");
    const Table devices = ParseTable(hr.out);
    const std::vector<std::string> deviceColumns = {
        "index",      "hrDeviceIndex",  "hrDeviceType",  "hrDeviceDescr",
        "hrDeviceID", "hrDeviceStatus", "hrDeviceErrors"};
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

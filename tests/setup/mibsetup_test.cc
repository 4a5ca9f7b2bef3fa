// The setup program from end to end: every way out of an installation,
// driven by a key script on standard input, with the registry, the system
// directory and the NET calls checked afterwards.
#include <csignal>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "machine.h"
#include "nt/win32.h"

namespace {

using namespace setup_test;

// The messages: text, and whether the box has the stop icon and a Cancel
// button.
struct Message {
    const char *id;
    const char *text;
    bool stop;
    bool cancel;
};
const Message kMessages[] = {
    {"M1", "This software requires Windows NT - Cancelling installation.", true, false},
    {"M2", "Error getting current working directory - Cancelling installation.", true, false},
    {"M3", "Error getting system directory - Cancelling installation.", true, false},
    {"M4", "Cannot locate Microsoft Extensible SNMP Agent - Cancelling installation.", true, false},
    {"M5",
     "Setup will now stop the Extensible SNMP Agent.\n Click OK to continue, or CANCEL to exit "
     "setup.",
     false, true},
    {"M6", "Error stopping SNMP Agent", true, false},
    {"M7", "Error copying HOSTDEV.DLL - Cancelling Installation.", true, false},
    {"M8", "Error copying ETHSTAT.DLL - Cancelling Installation.", true, false},
    {"M9", "Error Updating Registry - Cancelling installation.", true, false},
    {"M10", "Veltrix SNMP Extension Agent Software successfully installed.", false, false},
    {"M11", "Veltrix SNMP Extension Agent Software installation failed.", false, false},
};

// The ids of the message boxes in output, each checked for its caption,
// icon and buttons; dialogs as "D131" and the like.
std::vector<std::string> Shown(const std::string &output) {
    std::vector<std::string> ids;
    for (const setup_test::Shown &window : ShownWindows(output)) {
        if (window.header.compare(0, 8, "[dialog ") == 0) {
            ids.push_back("D" + window.header.substr(8, 3));
            continue;
        }
        std::string id = "?";
        for (const Message &message : kMessages) {
            if (window.text == message.text) {
                id = message.id;
                EXPECT_EQ(window.header, std::string("[message box, ") +
                                             (message.stop ? "stop" : "information") +
                                             " icon] Veltrix SNMP Installation");
                EXPECT_EQ(window.cancelButton, message.cancel) << id;
            }
        }
        EXPECT_NE(id, "?") << "a message box with unknown text: " << window.text;
        ids.push_back(id);
    }
    return ids;
}

using Strings = std::vector<std::string>;

// One way out of an installation and what it must leave.
struct ExitCase {
    const char *name;
    std::function<void(Machine &)> prepare;  // before the registry is noted
    std::string keys;
    Strings env;
    Strings shown;                // message ids and dialogs (D131...), in order
    Strings net;                  // the NET calls
    std::set<std::string> files;  // agent files in the system directory
    unsigned registered;          // the agents whose registration was written
    int status;                   // setup's exit status
    Strings err = {};             // a piece of each line setup writes on standard error
};

const std::function<void(Machine &)> kNothing = [](Machine &) {};

void WriteProductKey(const char *key, const std::string &pathname) {
    SetString(key, "Pathname", pathname, REG_EXPAND_SZ);
    SetString(key, "Version", "1.0");
}

// Gives the distribution's file another name.
void Rename(Machine &m, const char *from, const char *to) {
    std::filesystem::rename(m.dist + "/" + from, m.dist + "/" + to);
}

std::string Repeated(const std::string &line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line;
    }
    return text;
}

const char *const kNoFile = "The system cannot find the file specified. (error 2)";

// A table of exits, a row each: kept as written, not as the formatter would.
// clang-format off
const ExitCase kExits[] = {
    {"not Windows NT", kNothing, "Enter\n", {"NTPLATFORM_PLATFORM_ID=1"}, {"M1"}, {}, {}, 0, 1,
     {"the system reports platform 1, not Windows NT (2)"}},
    {"current directory longer than 127 bytes",
     [](Machine &m) {
         m.dist += "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
         std::filesystem::create_directories(m.dist);
         CopyFile(m.top.path() + "/dist/HOSTDEV.DLL", m.dist + "/HOSTDEV.DLL");
         CopyFile(m.top.path() + "/dist/ETHSTAT.DLL", m.dist + "/ETHSTAT.DLL");
     },
     "Enter\nEnter\nEnter\nEnter\nEnter\n", {}, {"M2", "M11"}, {}, {}, 0, 1,
     {"bytes long; setup takes one of at most 127"}},
    {"no SNMP service",
     [](Machine &) { EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\SNMP"), 0); },
     "Enter\nEnter\n", {}, {"M4", "M11"}, {}, {}, 0, 1,
     {std::string("cannot open the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP "
                  "for reading: ") + kNoFile}},
    {"Cancel at M5", kNothing, "Tab\nEnter\nEnter\n", {}, {"M5", "M11"}, {}, {}, 0, 3},
    {"Escape at M5", kNothing, "Escape\nEnter\n", {}, {"M5", "M11"}, {}, {}, 0, 3},
    {"NET cannot be found",
     [](Machine &m) { std::filesystem::remove(m.System32() + "/NET"); },
     "Enter\nEnter\nEnter\n", {"PATH=/nonexistent"}, {"M5", "M6", "M11"}, {}, {}, 0, 1,
     {std::string("cannot run \"NET STOP SNMP\": ") + kNoFile}},
    {"component dialog cancelled", kNothing, "Enter\nTab\nTab\nEnter\nEnter\n", {},
     {"M5", "D131", "M11"}, {"STOP SNMP"}, {}, 0, 3},
    {"component dialog escaped", kNothing, "Enter\nSpace\nEscape\nEnter\n", {},
     {"M5", "D131", "M11"}, {"STOP SNMP"}, {}, 0, 3},
    {"replace declined",
     [](Machine &) { WriteProductKey(kEthstatKey, "C:\\old\\ETHSTAT.DLL"); },
     "Enter\nEnter\nTab\nEnter\nEnter\n", {}, {"M5", "D131", "D134", "M11"}, {"STOP SNMP"}, {},
     0, 3},
    {"HOSTDEV.DLL missing from the current directory",
     [](Machine &m) { std::filesystem::remove(m.dist + "/HOSTDEV.DLL"); },
     "Enter\nEnter\nEnter\n", {}, {"M5", "D131", "M7", "M11"}, {"STOP SNMP"}, {}, 0, 1,
     {"/dist (in any case of its name)"}},
    {"ETHSTAT.DLL missing from the current directory",
     [](Machine &m) { std::filesystem::remove(m.dist + "/ETHSTAT.DLL"); },
     "Enter\nEnter\nEnter\n", {}, {"M5", "D131", "M8", "M11"}, {"STOP SNMP"}, {"HOSTDEV.DLL"},
     0, 1, {"there is no ETHSTAT.DLL in "}},
    {"two HOSTDEV.DLL that differ only in case",
     [](Machine &m) {
         Rename(m, "HOSTDEV.DLL", "hostdev.dll");
         CopyFile(m.dist + "/hostdev.dll", m.dist + "/HostDev.Dll");
     },
     "Enter\nEnter\nEnter\n", {}, {"M5", "D131", "M7", "M11"}, {"STOP SNMP"}, {}, 0, 1,
     {"is named HOSTDEV.DLL without regard to case"}},
    {"system directory is a file",
     [](Machine &m) {
         std::filesystem::remove_all(m.System32());
         WriteFile(m.System32(), "not a folder");
         m.WriteNet(m.app + "/NET");  // NET is found in setup's own folder
     },
     "Enter\nEnter\nEnter\n", {}, {"M5", "D131", "M7", "M11"}, {"STOP SNMP"}, {}, 0, 1,
     {"/Windows/System32/HOSTDEV.DLL: The system cannot find the path specified. (error 3)"}},
    {"agent list missing",
     [](Machine &) { EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAgentList), 0); },
     "Enter\nEnter\nEnter\n", {}, {"M5", "D131", "M9", "M11"}, {"STOP SNMP"},
     {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 0, 1,
     {std::string("cannot open the registry key HKEY_LOCAL_MACHINE\\") + kAgentList +
      " for writing: " + kNoFile}},
    {"installed, service restarted", kNothing, "Enter\nEnter\nEnter\nEnter\n", {},
     {"M5", "D131", "D130", "M10"}, {"STOP SNMP", "START SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"},
     3, 0},
    {"installed, service left stopped", kNothing, "Enter\nEnter\nAlt+D\nEnter\n", {},
     {"M5", "D131", "D130", "M10"}, {"STOP SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 3, 0},
    {"keys run out at the restart dialog", kNothing, "Enter\nEnter\n", {},
     {"M5", "D131", "D130", "M10"}, {"STOP SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 3, 0},
    {"NET fails at once, both times", [](Machine &m) { m.SetNetMode("fail"); },
     "Enter\nEnter\nEnter\nEnter\n", {}, {"M5", "D131", "D130", "M10"},
     {"STOP SNMP", "START SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 3, 4,
     {"\"NET START SNMP\" failed (exit status 2); the SNMP service is not running"}},
    {"only ETHSTAT, over an earlier HOSTDEV",
     [](Machine &) { WriteProductKey(kHostdevKey, "C:\\old\\HOSTDEV.DLL"); },
     "Enter\nSpace\nEnter\nEnter\nEnter\nEnter\n", {}, {"M5", "D131", "D134", "D130", "M10"},
     {"STOP SNMP", "START SNMP"}, {"ETHSTAT.DLL"}, 2, 0},
    {"only HOSTDEV", kNothing, "Enter\nTab\nSpace\nEnter\nR\nEnter\n", {},
     {"M5", "D131", "D130", "M10"}, {"STOP SNMP", "START SNMP"}, {"HOSTDEV.DLL"}, 1, 0},
    {"both boxes cleared", kNothing, "Enter\nSpace\nTab\nSpace\nEnter\nEnter\nEnter\n", {},
     {"M5", "D131", "D130", "M10"}, {"STOP SNMP", "START SNMP"}, {}, 0, 0},
    {"replacing an earlier installation",
     [](Machine &m) {
         WriteProductKey(kHostdevKey, "C:\\old\\HOSTDEV.DLL");
         WriteProductKey(kEthstatKey, "C:\\old\\ETHSTAT.DLL");
         SetString(kAgentList, "VeltrixHOSTDEV", "old");
         WriteFile(m.System32() + "/HOSTDEV.DLL", "old agent");
     },
     "Enter\nEnter\nEnter\nEnter\nEnter\n", {}, {"M5", "D131", "D134", "D130", "M10"},
     {"STOP SNMP", "START SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 3, 0},
    {"source files named in other cases",
     [](Machine &m) {
         Rename(m, "HOSTDEV.DLL", "hostdev.dll");
         Rename(m, "ETHSTAT.DLL", "EthStat.Dll");
     },
     "Enter\nEnter\nEnter\nEnter\n", {}, {"M5", "D131", "D130", "M10"},
     {"STOP SNMP", "START SNMP"}, {"HOSTDEV.DLL", "ETHSTAT.DLL"}, 3, 0},
    // Key scripts that would keep setup reading or printing end at once.
    {"unknown key name", kNothing, "Enter\nContinue\nEnter\n", {}, {"M5", "D131", "M11"},
     {"STOP SNMP"}, {}, 0, 3,
     {"key script line 2: \"Continue\" is not a key name; the rest of the script is not used"}},
    {"yes: a key that does nothing, repeated", kNothing, Repeated("y\n", 100000), {},
     {"M5", "M11"}, {}, {}, 0, 3,
     {"key script line 5: 5 keys in a row did nothing in the message box; the rest"}},
    {"yes '': blank lines without end", kNothing, Repeated("\n", 100000), {}, {"M5", "M11"}, {},
     {}, 0, 3, {"key script line 1000: 1000 blank or comment lines in a row"}},
    {"keys that go round a dialog without end", kNothing, "Enter\n" + Repeated("Tab\n", 100000),
     {}, {"M5", "D131", "M11"}, {"STOP SNMP"}, {}, 0, 3,
     {"key script line 101: the dialog 131 has taken 100 keys without ending"}},
};
// clang-format on

TEST(SetupExits, EachLeavesWhatItShouldAndTellsIt) {
    for (const ExitCase &c : kExits) {
        SCOPED_TRACE(c.name);
        Machine machine;
        c.prepare(machine);
        const auto before = RegistrySnapshot();
        ASSERT_FALSE(before.empty());
        const RunResult run = machine.Setup(c.keys, c.env, c.status);
        EXPECT_EQ(Shown(run.out), c.shown) << run.out;
        EXPECT_EQ(machine.NetCalls(), c.net);
        EXPECT_EQ(machine.AgentFiles(), c.files);
        for (const std::string &file : machine.AgentFiles()) {
            EXPECT_EQ(ReadFile(machine.System32() + "/" + file), ReadFile(BinDir() + "/" + file))
                << file << " is not the copy of the distribution's file";
        }
        EXPECT_EQ(RegistrySnapshot(), Registered(before, c.registered));
        EXPECT_LT(run.out.size(), 65536u) << "the key script kept setup printing";
        std::istringstream err(run.err);
        size_t line = 0;
        for (std::string text; std::getline(err, text); ++line) {
            ASSERT_LT(line, c.err.size()) << "more on standard error than expected:\n" << run.err;
            EXPECT_EQ(text.compare(0, 10, "mibsetup: "), 0) << text;
            EXPECT_NE(text.find(c.err[line]), std::string::npos) << text;
        }
        EXPECT_EQ(line, c.err.size()) << run.err;
    }
}

// The registration's exact bytes: type, data and size with the NUL.
TEST(SetupExits, RegistrationHasTheServicesLayout) {
    Machine machine;
    machine.Setup("Enter\nEnter\nEnter\nEnter\n");
    const auto registry = RegistrySnapshot();
    const std::string list = std::string(kAgentList) + " : ";
    EXPECT_EQ(registry.at(list + "VeltrixHOSTDEV").substr(0, 5), "1:65:");
    EXPECT_EQ(registry.at(list + "VeltrixETHSTAT").substr(0, 5), "1:65:");
    EXPECT_EQ(registry.at(std::string(kHostdevKey) + " : Pathname").substr(0, 5), "2:34:");
    EXPECT_EQ(registry.at(std::string(kEthstatKey) + " : Pathname").substr(0, 5), "2:34:");
    EXPECT_EQ(registry.at(list + "OtherAgent"),
              StringValue(REG_SZ, "SOFTWARE\\Other\\Agent\\CurrentVersion"));
}

// A registry write that fails half way (the registry refuses the ETHSTAT
// agent-list value) keeps what was written before it and writes nothing
// after it.
TEST(SetupExits, ARegistryWriteFailingHalfWayStopsThere) {
    if (system("command -v sqlite3 >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the sqlite3 command is not installed";
    }
    Machine machine;
    const auto before = RegistrySnapshot();
    const std::string trigger =
        "sqlite3 '" + machine.root +
        "/registry.db' \"CREATE TRIGGER refuse_ethstat BEFORE INSERT ON vals WHEN "
        "NEW.name = 'VeltrixETHSTAT' BEGIN SELECT RAISE(ABORT, 'refused'); END;\"";
    ASSERT_EQ(system(trigger.c_str()), 0);
    const RunResult run = machine.Setup("Enter\nEnter\nEnter\nEnter\n", {}, 1);
    EXPECT_EQ(Shown(run.out), (Strings{"M5", "D131", "M9", "M11"}));
    EXPECT_NE(run.err.find("cannot set \"VeltrixETHSTAT\" in HKEY_LOCAL_MACHINE\\SYSTEM\\"),
              std::string::npos)
        << run.err;
    auto expected = before;
    expected[std::string(kAgentList) + " : VeltrixHOSTDEV"] = StringValue(REG_SZ, kHostdevKey);
    EXPECT_EQ(RegistrySnapshot(), expected);
    EXPECT_EQ(machine.AgentFiles(), (std::set<std::string>{"HOSTDEV.DLL", "ETHSTAT.DLL"}));
}

TEST(SetupExits, ASystemDirectoryLongerThan127BytesIsAFailure) {
    Machine machine(std::string(110, 'r'));  // .../rrr.../Windows/System32
    ASSERT_GT(machine.System32().size(), 127u);
    const auto before = RegistrySnapshot();
    const RunResult run = machine.Setup("Enter\nEnter\nEnter\nEnter\n", {}, 1);
    EXPECT_EQ(Shown(run.out), (Strings{"M3", "M11"}));
    EXPECT_TRUE(machine.NetCalls().empty());
    EXPECT_TRUE(machine.AgentFiles().empty());
    EXPECT_EQ(RegistrySnapshot(), before);
}

TEST(SetupExits, ACurrentDirectoryThatIsGoneIsAFailure) {
    Machine machine;
    const auto before = RegistrySnapshot();
    const std::string gone = machine.top.path() + "/gone";
    std::filesystem::create_directories(gone);
    const RunResult run = RunProgram(
        {"/bin/sh", "-c",
         "cd '" + gone + "' && rmdir '" + gone + "' && exec '" + machine.app + "/mibsetup'"},
        machine.top.path(), {"NTROOT=" + machine.root}, "Enter\nEnter\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("mibsetup: cannot read the current directory: "), std::string::npos)
        << run.err;
    EXPECT_EQ(Shown(run.out), (Strings{"M2", "M11"}));
    EXPECT_TRUE(machine.NetCalls().empty());
    EXPECT_EQ(RegistrySnapshot(), before);
}

// A registry that cannot be opened reads as no SNMP service, and is left as
// it was.
TEST(SetupExits, ARegistryThatCannotBeOpened) {
    Machine machine;
    const std::string db = machine.root + "/registry.db";
    for (const char *suffix : {"-wal", "-shm"}) {
        std::filesystem::remove(db + suffix);
    }
    // A new file in its place, as a person or a broken copy would leave it.
    WriteFile(db + ".new", "this is not a database");
    ASSERT_EQ(rename((db + ".new").c_str(), db.c_str()), 0);
    RunResult run = machine.Setup("Enter\nEnter\n", {}, 1);
    EXPECT_EQ(Shown(run.out), (Strings{"M4", "M11"}));
    EXPECT_NE(run.err.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP for reading: "),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(db), "this is not a database");

    std::filesystem::remove(db);
    run = machine.Setup("Enter\nEnter\n", {}, 1);
    EXPECT_EQ(Shown(run.out), (Strings{"M4", "M11"}));
    EXPECT_FALSE(Exists(db)) << "setup made a registry";
    EXPECT_TRUE(machine.NetCalls().empty());
    EXPECT_TRUE(machine.AgentFiles().empty());
}

// A NET command that does not end within the wait (30 s; 2 s in this
// setup): a STOP is a failure (M6), a START leaves the installation made
// but the service not running; either way the command carries on after
// setup has ended.
TEST(SetupExits, ANetCommandThatHangsKeepsRunning) {
    struct Case {
        const char *mode;
        Strings shown;
        Strings net;
        std::set<std::string> files;
        int status;
        const char *err;
    };
    const Case cases[] = {
        {"hang-stop",
         {"M5", "M6", "M11"},
         {"STOP SNMP"},
         {},
         1,
         "\"NET STOP SNMP\" did not end within 2 seconds; it goes on running (process "},
        {"hang-start",
         {"M5", "D131", "D130", "M10"},
         {"STOP SNMP", "START SNMP"},
         {"HOSTDEV.DLL", "ETHSTAT.DLL"},
         4,
         "\"NET START SNMP\" did not end within 2 seconds; it goes on running (process "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Machine machine;
        machine.UseQuickWait();
        machine.SetNetMode(c.mode);
        const RunResult run = machine.Setup("Enter\nEnter\nEnter\nEnter\n", {}, c.status);
        EXPECT_EQ(Shown(run.out), c.shown);
        EXPECT_EQ(machine.NetCalls(), c.net);
        EXPECT_EQ(machine.AgentFiles(), c.files);
        EXPECT_EQ(run.err.find(std::string("mibsetup: ") + c.err), 0u) << run.err;
        const pid_t hung = static_cast<pid_t>(std::stol(ReadFile(machine.root + "/net-hung")));
        EXPECT_NE(run.err.find("(process " + std::to_string(hung) + ")"), std::string::npos)
            << run.err;
        EXPECT_EQ(kill(hung, 0), 0) << "the NET command was ended with setup";
        kill(hung, SIGKILL);
    }
}

TEST(SetupCommandLine, HelpAndWrongArguments) {
    RunResult run = RunProgram({BinDir() + "/mibsetup", "--help"}, "/", {}, "");
    EXPECT_EQ(run.status, 0);
    for (const char *part : {"Usage: mibsetup", "$NTROOT", "key script", "NET STOP SNMP",
                             "Exit status", "NTPLATFORM_TRACE"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part;
    }
    run = RunProgram({BinDir() + "/mibsetup", "--unattended"}, "/", {}, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "mibsetup: unknown argument '--unattended' (try --help)\n");
}

}  // namespace

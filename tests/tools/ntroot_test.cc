// ntroot over a temporary root: init, reg and device list through the
// tool's library, and the program itself for its exit status and streams.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "nt/registry.h"
#include "nt/win32.h"
#include "ntroot.h"
#include "scoped_fixtures.h"

namespace {

namespace fs = std::filesystem;

using test_support::ScopedEnv;

std::string MakeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "ntroot-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    return pattern;
}

std::string Joined(const std::vector<std::string> &args) {
    std::string line;
    for (const std::string &arg : args) {
        line += (line.empty() ? "" : " ") + arg;
    }
    return line;
}

struct Result {
    int code;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A temporary folder whose "root" (not made yet) is $NTROOT.
class NtrootTest : public ::testing::Test {
protected:
    NtrootTest() : dir_(MakeTempDir()), root_(dir_ + "/root"), env_("NTROOT", root_) {}
    ~NtrootTest() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static Result Run(const std::vector<std::string> &args) {
        std::ostringstream out, err;
        const int code = ntroot::Run(args, out, err);
        return {code, out.str(), err.str()};
    }
    void Init() {
        const Result result = Run({"init"});
        ASSERT_EQ(result.code, 0) << result.err;
    }
    // The value's type and bytes, read through the platform.
    static bool Stored(const std::string &key, const std::string &name, DWORD *type,
                       std::string *bytes) {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
            return false;
        }
        DWORD size = 0;
        LONG rc = RegQueryValueExA(handle, name.c_str(), nullptr, type, nullptr, &size);
        if (rc == ERROR_SUCCESS) {
            bytes->assign(size, '\0');
            rc = RegQueryValueExA(handle, name.c_str(), nullptr, type,
                                  reinterpret_cast<BYTE *>(&(*bytes)[0]), &size);
        }
        RegCloseKey(handle);
        return rc == ERROR_SUCCESS;
    }
    static bool KeyExists(const std::string &key) {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(handle);
        return true;
    }

    std::string dir_;
    std::string root_;
    ScopedEnv env_;
};

TEST_F(NtrootTest, InitMakesAFreshRoot) {
    const Result result = Run({"init"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Made a new NT root at " + root_ + ".\n");
    EXPECT_EQ(result.err, "");
    for (const char *folder : {"Windows", "Windows/System32", "Device", "run"}) {
        EXPECT_TRUE(fs::is_directory(root_ + "/" + folder)) << folder;
    }
    EXPECT_TRUE(fs::is_regular_file(root_ + "/registry.db"));
    EXPECT_TRUE(KeyExists("SOFTWARE"));
    EXPECT_TRUE(KeyExists("SYSTEM"));
}

TEST_F(NtrootTest, InitOnAnExistingRootKeepsEverythingAndAddsWhatIsMissing) {
    Init();
    ASSERT_EQ(Run({"reg", "add", "HKLM\\SOFTWARE\\Kept", "/v", "v", "/d", "x"}).code, 0);
    std::ofstream(root_ + "/Device/Vxlnk1") << "0x0002020D 5\n";
    fs::remove(root_ + "/run");
    fs::remove(root_ + "/Windows/System32");

    Result result = Run({"init"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "An NT root is already at " + root_ +
                              "; everything in it was kept.\n"
                              "Added what was missing: Windows/System32, run.\n");
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(Stored("SOFTWARE\\Kept", "v", &type, &bytes));
    EXPECT_EQ(bytes, std::string("x", 2));
    EXPECT_EQ(Slurp(root_ + "/Device/Vxlnk1"), "0x0002020D 5\n");

    result = Run({"init"});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "An NT root is already at " + root_ +
                              "; everything in it was kept.\nNothing was missing.\n");
}

TEST_F(NtrootTest, InitRefusesWhatItCannotComplete) {
    struct Case {
        const char *what;
        const char *file;  // made where init wants something else
        const char *contents;
        const char *message;
    };
    const Case cases[] = {
        {"a registry.db that is not a registry", "registry.db", "not a database at all",
         "registry.db: The configuration registry database is corrupt."},
        {"a file where Device goes", "Device", "", "Device exists and is not a folder"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        fs::create_directory(root_);
        std::ofstream(root_ + "/" + c.file) << c.contents;
        const Result result = Run({"init"});
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(Slurp(root_ + "/" + c.file), c.contents);
    }
}

TEST_F(NtrootTest, TheRootOptionNamesTheRootForEveryVerb) {
    const std::string other = dir_ + "/other";
    EXPECT_EQ(Run({"--root", other, "init"}).code, 0);
    EXPECT_TRUE(fs::is_regular_file(other + "/registry.db"));
    const std::string third = dir_ + "/third";
    EXPECT_EQ(Run({"init", "--root=" + third}).code, 0);
    EXPECT_EQ(Run({"reg", "add", "HKLM\\SOFTWARE\\InOther", "--root", other}).code, 0);
    EXPECT_EQ(Run({"reg", "query", "HKLM\\SOFTWARE\\InOther", "--root", other}).code, 0);
    EXPECT_EQ(Run({"reg", "query", "HKLM\\SOFTWARE\\InOther", "--root", third}).code, 1);
    EXPECT_EQ(Run({"device", "list", "--root", other}).code, 0);
    EXPECT_FALSE(fs::exists(root_));
}

TEST_F(NtrootTest, RegAddThenQueryRoundTripsEveryType) {
    Init();
    struct Case {
        const char *type;
        const char *data;
        const char *shown;
        DWORD stored;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"REG_SZ", "SOFTWARE\\Veltrix", "SOFTWARE\\Veltrix", REG_SZ,
         std::string("SOFTWARE\\Veltrix", 17)},
        {"REG_EXPAND_SZ", "%SystemRoot%\\System32\\HOSTDEV.DLL",
         "%SystemRoot%\\System32\\HOSTDEV.DLL", REG_EXPAND_SZ,
         std::string("%SystemRoot%\\System32\\HOSTDEV.DLL", 34)},
        {"REG_MULTI_SZ", "one\\0two", "one\\0two", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
        {"REG_DWORD", "42", "0x2a", REG_DWORD, std::string("\x2a\0\0\0", 4)},
        {"REG_QWORD", "0x100000000", "0x100000000", REG_QWORD, std::string("\0\0\0\0\1\0\0\0", 8)},
        {"REG_BINARY", "DEADbeef", "DEADBEEF", REG_BINARY, "\xde\xad\xbe\xef"},
        {"REG_NONE", "", "", REG_NONE, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        const std::string name = std::string("Value ") + c.type;
        Result result = Run({"reg", "add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix", "/v", name,
                             "/t", c.type, "/d", c.data});
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.out, "The operation completed successfully.\n");
        result = Run({"reg", "query", "HKLM\\software\\veltrix", "/v", name});
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.out, "\nHKEY_LOCAL_MACHINE\\software\\veltrix\n    " + name + "    " +
                                  c.type + "    " + c.shown + "\n");
        DWORD type = 0;
        std::string bytes;
        ASSERT_TRUE(Stored("SOFTWARE\\Veltrix", name, &type, &bytes));
        EXPECT_EQ(type, c.stored);
        EXPECT_EQ(bytes, c.bytes);
    }
    // /t left out is REG_SZ; /d left out is empty; /ve is the unnamed value.
    ASSERT_EQ(Run({"reg", "add", "HKLM\\SOFTWARE\\Veltrix", "/ve"}).code, 0);
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(Stored("SOFTWARE\\Veltrix", "", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, std::string(1, '\0'));
    // reg add of a key alone makes it with every missing key above it.
    ASSERT_EQ(Run({"reg", "add", "HKLM\\SYSTEM\\A\\B\\C"}).code, 0);
    EXPECT_TRUE(KeyExists("SYSTEM\\A\\B\\C"));
}

TEST_F(NtrootTest, RegQueryLaysOutKeysAsRegDoes) {
    Init();
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"HKLM\\SOFTWARE\\Microsoft\\SNMP", "/v", "Port", "/t", "REG_DWORD", "/d", "161"},
             {"HKLM\\SOFTWARE\\Microsoft\\SNMP", "/ve", "/d", "service"},
             {"HKLM\\SOFTWARE\\Microsoft\\SNMP\\Parameters\\ExtensionAgents", "/v",
              "VeltrixHOSTDEV", "/d", "SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent"},
             {"HKLM\\SOFTWARE\\Microsoft\\SNMP\\Traps"}}) {
        std::vector<std::string> add{"reg", "add"};
        add.insert(add.end(), args.begin(), args.end());
        ASSERT_EQ(Run(add).code, 0);
    }
    Result result = Run({"reg", "query", "HKLM\\SOFTWARE\\Microsoft\\SNMP"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\n"
              "    Port    REG_DWORD    0xa1\n"
              "    (Default)    REG_SZ    service\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Parameters\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Traps\n");

    result = Run({"reg", "query", "HKLM\\SOFTWARE\\Microsoft\\SNMP", "/s"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\n"
        "    Port    REG_DWORD    0xa1\n"
        "    (Default)    REG_SZ    service\n"
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Parameters\n"
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Parameters\\ExtensionAgents\n"
        "    VeltrixHOSTDEV    REG_SZ    SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\n"
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Traps\n");

    result = Run({"reg", "query", "HKLM\\SOFTWARE", "/v", "VELTRIXhostdev", "/s"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Parameters\\ExtensionAgents\n"
        "    VeltrixHOSTDEV    REG_SZ    SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\n"
        "\n"
        "End of search: 1 match(es) found.\n");

    result = Run({"reg", "query", "HKLM\\SOFTWARE\\Microsoft\\SNMP\\Traps", "/ve"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SNMP\\Traps\n"
              "    (Default)    REG_SZ    (value not set)\n");
}

TEST_F(NtrootTest, RegRefusesToOverwriteOrDeleteWithoutF) {
    Init();
    const std::string key = "HKLM\\SOFTWARE\\Veltrix";
    ASSERT_EQ(Run({"reg", "add", key, "/v", "Pathname", "/d", "old"}).code, 0);
    ASSERT_EQ(Run({"reg", "add", key, "/ve", "/d", "default"}).code, 0);
    ASSERT_EQ(Run({"reg", "add", key + "\\Sub", "/v", "deep", "/d", "x"}).code, 0);
    DWORD type = 0;
    std::string bytes;

    struct Case {
        std::vector<std::string> args;
        std::string refusal;
    };
    const std::vector<Case> refused = {
        {{"reg", "add", key, "/v", "PATHNAME", "/d", "new"},
         "ntroot: the value \"PATHNAME\" already exists in HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix; "
         "add /f to overwrite it\n"},
        {{"reg", "add", key, "/ve", "/d", "new"},
         "ntroot: the unnamed value already exists in HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix; add "
         "/f to overwrite it\n"},
        {{"reg", "delete", key, "/v", "Pathname"},
         "ntroot: not deleting the value \"Pathname\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix "
         "without /f\n"},
        {{"reg", "delete", key, "/ve"},
         "ntroot: not deleting the unnamed value of HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix without "
         "/f\n"},
        {{"reg", "delete", key, "/va"},
         "ntroot: not deleting the values of HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix without /f\n"},
        {{"reg", "delete", key},
         "ntroot: not deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltrix and everything below it "
         "without /f\n"},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(Joined(c.args));
        const Result result = Run(c.args);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err, c.refusal);
        EXPECT_EQ(result.out, "");
        ASSERT_TRUE(Stored("SOFTWARE\\Veltrix", "Pathname", &type, &bytes));
        EXPECT_EQ(bytes, std::string("old", 4));
        ASSERT_TRUE(Stored("SOFTWARE\\Veltrix", "", &type, &bytes));
        ASSERT_TRUE(Stored("SOFTWARE\\Veltrix\\Sub", "deep", &type, &bytes));
    }

    ASSERT_EQ(
        Run({"reg", "add", key, "/v", "Pathname", "/t", "REG_EXPAND_SZ", "/d", "new", "/f"}).code,
        0);
    ASSERT_TRUE(Stored("SOFTWARE\\Veltrix", "Pathname", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(bytes, std::string("new", 4));

    EXPECT_EQ(Run({"reg", "delete", key, "/ve", "/f"}).code, 0);
    EXPECT_FALSE(Stored("SOFTWARE\\Veltrix", "", &type, &bytes));
    EXPECT_TRUE(Stored("SOFTWARE\\Veltrix", "Pathname", &type, &bytes));
    EXPECT_EQ(Run({"reg", "delete", key, "/va", "/f"}).code, 0);
    EXPECT_FALSE(Stored("SOFTWARE\\Veltrix", "Pathname", &type, &bytes));
    EXPECT_TRUE(Stored("SOFTWARE\\Veltrix\\Sub", "deep", &type, &bytes));
    const Result deleted = Run({"reg", "delete", key, "/f"});
    EXPECT_EQ(deleted.code, 0);
    EXPECT_EQ(deleted.out, "The operation completed successfully.\n");
    EXPECT_FALSE(KeyExists("SOFTWARE\\Veltrix"));
    EXPECT_TRUE(KeyExists("SOFTWARE"));
}

TEST_F(NtrootTest, WrongArgumentsAndMissingThingsGetOneClearLine) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;  // part of the one line on standard error
    };
    const std::vector<Case> beforeInit = {
        {{"reg", "query", "HKLM\\SOFTWARE"}, 1, "no NT root at " + root_ + "; run 'ntroot init'"},
        {{"reg", "add", "HKLM\\SOFTWARE\\X"}, 1, "no NT root at " + root_},
        {{"device", "list"}, 1, "no NT root at " + root_},
    };
    const std::vector<Case> afterInit = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"reg"}, 2, "no operation given"},
        {{"reg", "copy", "HKLM\\A"}, 2, "unknown operation 'copy'"},
        {{"reg", "query"}, 2, "no key given"},
        {{"reg", "query", "HKCU\\Software"}, 2, "keeps HKEY_LOCAL_MACHINE only"},
        {{"reg", "query", "SOFTWARE\\Microsoft"}, 2, "must start with HKLM\\"},
        {{"reg", "query", "\\\\server\\HKLM\\SOFTWARE"}, 2, "other machines"},
        {{"reg", "query", "HKLM\\SOFTWARE\\\\Microsoft"}, 2, "invalid key"},
        {{"reg", "query", "HKLM\\SOFTWARE", "/x"}, 2, "unknown option /x"},
        {{"reg", "query", "HKLM\\SOFTWARE", "/v"}, 2, "option /v needs a value"},
        {{"reg", "query", "HKLM\\SOFTWARE", "/v", "a", "/ve"}, 2, "only one of /v, /ve and /va"},
        {{"reg", "query", "HKLM\\SOFTWARE\\Absent"},
         1,
         "the key HKEY_LOCAL_MACHINE\\SOFTWARE\\Absent does not exist"},
        {{"reg", "query", "HKLM\\SOFTWARE", "/v", "absent"},
         1,
         "the value \"absent\" does not exist in HKEY_LOCAL_MACHINE\\SOFTWARE"},
        {{"reg", "add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_FOO"},
         2,
         "unknown type REG_FOO"},
        {{"reg", "add", "HKLM\\SOFTWARE\\X", "/v", "a", "/t", "REG_DWORD", "/d", "-1"},
         2,
         "REG_DWORD data must be a number"},
        {{"reg", "add", "HKLM\\SOFTWARE\\X", "/d", "orphan"}, 2, "/t and /d need /v NAME or /ve"},
        {{"reg", "add", "HKLM\\SOFTWARE\\X", "/s"}, 2, "unknown option /s"},
        {{"reg", "delete", "HKLM\\SOFTWARE\\Absent", "/f"}, 1, "does not exist"},
        {{"reg", "delete", "HKLM\\SOFTWARE", "/v", "absent", "/f"}, 1, "does not exist"},
        {{"reg", "delete", "HKLM", "/f"}, 1, "HKEY_LOCAL_MACHINE itself cannot be deleted"},
        {{"device"}, 2, "no verb given"},
        {{"device", "link"}, 2, "no device name given"},
        {{"device", "unplug"}, 2, "unknown verb 'unplug'"},
        {{"device", "list", "extra"}, 2, "unexpected argument 'extra'"},
        {{"init", "now"}, 2, "unexpected argument 'now'"},
        {{"--root"}, 2, "--root needs a folder"},
    };
    for (const bool initialised : {false, true}) {
        if (initialised) {
            Init();
        }
        for (const Case &c : initialised ? afterInit : beforeInit) {
            SCOPED_TRACE(Joined(c.args));
            const Result result = Run(c.args);
            EXPECT_EQ(result.code, c.code);
            EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_EQ(result.err.rfind("ntroot", 0), 0u) << result.err;
        }
    }
    EXPECT_FALSE(KeyExists("SOFTWARE\\X"));  // nothing refused was written
}

TEST_F(NtrootTest, DeviceListTellsWhatEachEntryIs) {
    Init();
    const std::string device = root_ + "/Device";
    std::ofstream(device + "/Vxlnk1") << "# a simulated adapter\n"
                                         "0x0002020D 5\n"
                                         "0x00020101 7   # frames\n"
                                         "\n"
                                         "0x00020101 8\n"
                                         "not a statistic\n";
    std::ofstream(device + "/spare") << "0x00020102 1\n";
    const std::string interface = dir_ + "/net/veth0";
    fs::create_directories(interface + "/statistics");
    fs::create_directory_symlink(interface, device + "/Vxpci_3");
    fs::create_directory_symlink(dir_ + "/net", device + "/Vxpci2");
    fs::create_symlink(dir_ + "/nowhere", device + "/vxLNK9");
    fs::create_directory(device + "/Vxpci1");
    ASSERT_EQ(mkfifo((device + "/pipe").c_str(), 0600), 0);

    const Result result = Run({"device", "list"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Devices in " + device +
                              ":\n"
                              "NAME     PROBED  WHAT\n"
                              "Vxlnk1   yes     simulated adapter, 2 statistics, 1 malformed line\n"
                              "Vxpci1   yes     folder, not a device\n"
                              "Vxpci2   yes     link to " +
                              dir_ +
                              "/net, a folder that is not an interface's "
                              "(no statistics folder)\n"
                              "Vxpci_3  yes     link to interface " +
                              interface +
                              ", duplex unknown\n"
                              "pipe     no      not a device (neither a file nor a link)\n"
                              "spare    no      simulated adapter, 1 statistic\n"
                              "vxLNK9   yes     broken link to " +
                              dir_ +
                              "/nowhere\n"
                              "7 entries, 5 of them probed by the agents.\n");

    fs::remove_all(device);
    fs::create_directory(device);
    EXPECT_EQ(Run({"device", "list"}).out, "No devices in " + device + ".\n");
    fs::remove_all(device);
    const Result missing = Run({"device", "list"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("has no Device folder; run 'ntroot init'"), std::string::npos);
}

TEST_F(NtrootTest, EveryCommandHasHelp) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"help"},
                                               {"init", "--help"},
                                               {"reg", "--help"},
                                               {"reg", "query", "--help"},
                                               {"reg", "add", "/?"},
                                               {"reg", "delete", "-h"},
                                               {"device", "--help"},
                                               {"device", "list", "--help"}}) {
        SCOPED_TRACE(Joined(args));
        const Result result = Run(args);
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out.rfind("Usage: ntroot", 0), 0u) << result.out;
        EXPECT_EQ(result.err, "");
    }
    EXPECT_FALSE(fs::exists(root_));  // help touches nothing
}

// The program itself: its streams and exit statuses.
TEST_F(NtrootTest, TheProgramAnswersOnItsStreamsWithItsExitStatus) {
    struct Case {
        std::string args;
        int code;
        std::string out;  // a prefix
        std::string err;  // exactly
    };
    const std::vector<Case> cases = {
        {"--help", 0, "Usage: ntroot", ""},
        {"reg query HKLM", 1, "", "ntroot: no NT root at " + root_ + "; run 'ntroot init'\n"},
        {"bogus", 2, "", "ntroot: unknown command 'bogus' (see 'ntroot --help')\n"},
        {"init", 0, "Made a new NT root at " + root_ + ".\n", ""},
        {"reg query HKLM", 0, "\nHKEY_LOCAL_MACHINE\nHKEY_LOCAL_MACHINE\\SOFTWARE\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = dir_ + "/out", err = dir_ + "/err";
        const int status = std::system(
            (std::string(NTROOT_PROGRAM) + " " + c.args + " >" + out + " 2>" + err).c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.code);
        EXPECT_EQ(Slurp(out).rfind(c.out, 0), 0u) << Slurp(out);
        EXPECT_EQ(Slurp(err), c.err);
    }
}

}  // namespace

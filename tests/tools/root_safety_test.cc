// What keeps a root its owner's and its files whole: the ownership test every
// command makes, the registry's private modes, the Device lock that keeps
// racing changes, and the temporaries that killed writers leave behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nt/ntroot.h"
#include "nt/win32.h"
#include "ntroot.h"
#include "scoped_fixtures.h"

namespace {

namespace fs = std::filesystem;

using test_support::ScopedEnv;
using test_support::TempDir;

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Ntroot(const std::vector<std::string> &args) {
    std::ostringstream out, err;
    const int code = ntroot::Run(args, out, err);
    return {code, out.str(), err.str()};
}

std::string Slurp(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

mode_t ModeOf(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Runs the ntroot program with args; its exit status.
int RunProgram(const std::vector<std::string> &args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv{const_cast<char *>(NTROOT_PROGRAM)};
        for (const std::string &arg : args) {
            argv.push_back(const_cast<char *>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A uid other than ours that a file can be given, or -1 when this process
// cannot give files away (not root).
uid_t OtherUser() { return geteuid() == 0 ? 65534 : static_cast<uid_t>(-1); }

class RootSafetyTest : public ::testing::Test {
protected:
    RootSafetyTest() : root_(dir_.path() + "/root"), env_("NTROOT", root_) {}
    void SetUp() override {
        const Result init = Ntroot({"init"});
        ASSERT_EQ(init.code, 0) << init.err;
    }

    TempDir dir_{"ntroot-safety"};
    std::string root_;
    ScopedEnv env_;
};

// Every folder that decides what runs, and the registry: each refused when
// its group or others may write it, or another user owns it, by every
// command and with one line; all well again once mended.
TEST_F(RootSafetyTest, ARootSomeoneElseCouldChangeIsRefused) {
    ASSERT_EQ(Ntroot({"device", "sim", "Vxlnk1"}).code, 0);
    const std::vector<std::string> paths = {
        "", "/run", "/snmp", "/Device", "/Windows", "/Windows/System32", "/registry.db"};
    fs::create_directory(root_ + "/snmp");
    struct Change {
        const char *what;
        mode_t addMode;  // bits added, or 0 for a change of owner
        const char *message;
    };
    const Change changes[] = {
        {"group write", S_IWGRP, "can be written by its group"},
        {"other write", S_IWOTH, "can be written by other users"},
        {"sticky other write", S_IWOTH | S_ISVTX, "can be written by other users"},
        {"another owner", 0, "belongs to user nobody (uid 65534)"},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"init"},
        {"device", "list"},
        {"device", "sim", "Vxlnk1", "fcs=5"},
        {"reg", "query", "HKLM\\SOFTWARE"},
    };
    for (const Change &change : changes) {
        if (change.addMode == 0 && OtherUser() == static_cast<uid_t>(-1)) {
            continue;  // no other user to give a file to
        }
        for (const std::string &relative : paths) {
            const std::string path = root_ + relative;
            SCOPED_TRACE(std::string(change.what) + " on " + path);
            const mode_t before = ModeOf(path);
            if (change.addMode != 0) {
                ASSERT_EQ(chmod(path.c_str(), before | change.addMode), 0);
            } else {
                ASSERT_EQ(chown(path.c_str(), OtherUser(), static_cast<gid_t>(-1)), 0);
            }
            const std::string adapter = Slurp(root_ + "/Device/Vxlnk1");
            for (const auto &command : commands) {
                const Result result = Ntroot(command);
                EXPECT_EQ(result.code, 1) << command[0];
                EXPECT_EQ(result.out, "");
                EXPECT_EQ(result.err.find("ntroot: " + path + " " + change.message), 0u)
                    << result.err;
                EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            }
            EXPECT_EQ(Slurp(root_ + "/Device/Vxlnk1"), adapter);
            if (change.addMode != 0) {
                EXPECT_NE(Ntroot({"init"}).err.find("chmod go-w " + path), std::string::npos);
                ASSERT_EQ(chmod(path.c_str(), before), 0);
            } else {
                ASSERT_EQ(chown(path.c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
            }
            EXPECT_EQ(Ntroot({"device", "list"}).code, 0);
        }
    }
}

// A link is judged by what it leads to; the root may be a link itself.
TEST_F(RootSafetyTest, LinksAreJudgedByTheFolderTheyLeadTo) {
    const std::string link = dir_.path() + "/link";
    fs::create_directory_symlink(root_, link);
    std::string problem;
    EXPECT_TRUE(nt::CheckRootOwnership(link, &problem)) << problem;

    const std::string open = dir_.path() + "/open";
    fs::create_directory(open);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    fs::remove_all(root_ + "/Device");
    fs::create_directory_symlink(open, root_ + "/Device");
    EXPECT_FALSE(nt::CheckRootOwnership(root_, &problem));
    EXPECT_EQ(problem.find(root_ + "/Device can be written by other users (mode 0777)"), 0u)
        << problem;
    // Nothing there yet is no reason to refuse.
    EXPECT_TRUE(nt::CheckRootOwnership(dir_.path() + "/nothing", &problem));
}

// The registry and its journals are the owner's alone, whatever the umask,
// and a registry made readable by others is made private again.
TEST_F(RootSafetyTest, TheRegistryIsReadableByItsOwnerOnly) {
    const mode_t mask = umask(0);
    const std::string fresh = dir_.path() + "/fresh";
    ASSERT_EQ(Ntroot({"--root", fresh, "init"}).code, 0);
    ASSERT_EQ(Ntroot({"reg", "add", "HKLM\\SOFTWARE\\Test", "/v", "v", "/d", "x"}).code, 0);
    const std::string db = fresh + "/registry.db";
    EXPECT_EQ(ModeOf(db), 0600u);
    // A journal made now, while a connection holds the file, is private too.
    ASSERT_TRUE(fs::exists(db + "-wal"));
    EXPECT_EQ(ModeOf(db + "-wal"), 0600u);
    EXPECT_EQ(ModeOf(db + "-shm"), 0600u);
    EXPECT_EQ(ModeOf(fresh + "/Device") & 022, 0u);
    ASSERT_EQ(Ntroot({"device", "sim", "Vxlnk1"}).code, 0);
    EXPECT_EQ(ModeOf(fresh + "/Device/Vxlnk1"), 0644u);  // no stranger sets its counters
    umask(mask);

    // A registry made before, readable by all: the next command mends it.
    const std::string old = root_ + "/registry.db";
    ASSERT_EQ(chmod(old.c_str(), 0644), 0);
    setenv("NTROOT", root_.c_str(), 1);
    ASSERT_EQ(RunProgram({"reg", "add", "HKLM\\SOFTWARE\\Test", "/v", "v", "/d", "x"}), 0);
    EXPECT_EQ(ModeOf(old), 0600u);
    ASSERT_EQ(chmod(old.c_str(), 0644), 0);
    ASSERT_EQ(RunProgram({"init"}), 0);
    EXPECT_EQ(ModeOf(old), 0600u);
}

// Two changes of one adapter at once, each of its own counter, by real
// ntroot processes: both land, every time.
TEST_F(RootSafetyTest, RacingSimChangesBothLand) {
    ASSERT_EQ(Ntroot({"device", "sim", "Vxlnk1"}).code, 0);
    for (int round = 1; round <= 25; ++round) {
        const std::string value = std::to_string(round);
        pid_t racers[2];
        const char *counters[2] = {"fcs=", "alignment="};
        for (int i = 0; i < 2; ++i) {
            racers[i] = fork();
            if (racers[i] == 0) {
                _exit(RunProgram({"device", "sim", "Vxlnk1", counters[i] + value}));
            }
        }
        for (const pid_t racer : racers) {
            int status = 0;
            waitpid(racer, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        const std::string text = Slurp(root_ + "/Device/Vxlnk1");
        ASSERT_NE(text.find("0x0002020D " + value + " "), std::string::npos)
            << "round " << round << "\n"
            << text;
        ASSERT_NE(text.find("0x01020101 " + value + " "), std::string::npos)
            << "round " << round << "\n"
            << text;
    }
}

// Temporaries that killed writers left (no lock held on them) are never
// devices and go with the next write in their folder; one a live writer
// holds stays.
TEST_F(RootSafetyTest, TemporariesLeftByKilledWritersAreNoDevicesAndGoAway) {
    const std::string device = root_ + "/Device";
    const std::vector<std::string> stale = {".Vxlnk1.ntroot-a1B2c3", ".Vxpci2.copy-Zz9Yy8"};
    for (const std::string &name : stale) {
        std::ofstream(device + "/" + name) << "0x0002020D 5\n";
    }
    const std::string live = device + "/.Vxlnk2.ntroot-LiVe00";
    const int held = open(live.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    // Names that only look alike are someone's own files: kept, listed.
    const std::vector<std::string> kept = {".Vxlnk1.ntroot-short", ".ntroot-abcdef",
                                           "Vxlnk3.copy-abcdef"};
    for (const std::string &name : kept) {
        std::ofstream(device + "/" + name) << "0x0002020D 5\n";
    }

    Result list = Ntroot({"device", "list"});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const std::string &name : stale) {
        EXPECT_EQ(list.out.find(name), std::string::npos) << list.out;
    }
    EXPECT_EQ(list.out.find(".Vxlnk2.ntroot-LiVe00"), std::string::npos) << list.out;
    for (const std::string &name : kept) {
        EXPECT_NE(list.out.find(name), std::string::npos) << list.out;
    }
    EXPECT_TRUE(fs::exists(device + "/" + stale[0]));  // listing writes nothing

    ASSERT_EQ(Ntroot({"device", "sim", "Vxpci1"}).code, 0);
    for (const std::string &name : stale) {
        EXPECT_FALSE(fs::exists(device + "/" + name)) << name;
    }
    EXPECT_TRUE(fs::exists(live));
    for (const std::string &name : kept) {
        EXPECT_TRUE(fs::exists(device + "/" + name)) << name;
    }
    close(held);

    // CopyFileA cleans its target folder the same way.
    const std::string system = root_ + "/Windows/System32";
    std::ofstream(system + "/.NET.copy-q1w2e3") << "half a copy";
    std::ofstream(dir_.path() + "/source") << "whole";
    ASSERT_TRUE(
        CopyFileA((dir_.path() + "/source").c_str(), (system + "\\AGENT.DLL").c_str(), FALSE));
    EXPECT_FALSE(fs::exists(system + "/.NET.copy-q1w2e3"));
    EXPECT_EQ(Slurp(system + "/AGENT.DLL"), "whole");
    for (const auto &entry : fs::directory_iterator(system)) {
        EXPECT_FALSE(nt::IsReplacementTemporary(entry.path().filename().string())) << entry.path();
    }
}

}  // namespace

// The platform calls that setup stands on: the directory queries, the
// version, wsprintfA, CopyFileA and the process calls, driven through
// libntplatform.so over a temporary NT root.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "processes.h"
#include "test_support.h"

namespace {

using setup_test::Exists;
using setup_test::ReadFile;
using setup_test::ScopedEnv;
using setup_test::TempDir;
using setup_test::WriteFile;

// Waits, within a generous bound, for condition to hold.
template <class Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Changes the current folder while it lives.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string &folder) {
        char *old = getcwd(nullptr, 0);
        old_ = old != nullptr ? old : "/";
        std::free(old);
        EXPECT_EQ(chdir(folder.c_str()), 0) << folder;
    }
    ~ScopedCurrentFolder() { EXPECT_EQ(chdir(old_.c_str()), 0); }

private:
    std::string old_;
};

// ---- Directory queries. ---------------------------------------------------------

struct DirectoryQuery {
    const char *name;
    DWORD (*query)(LPSTR buffer, DWORD size);
    std::string (*expected)(const std::string &root, const std::string &current);
};

const DirectoryQuery kQueries[] = {
    {"GetCurrentDirectoryA",
     [](LPSTR buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); },
     [](const std::string &, const std::string &current) { return current; }},
    {"GetSystemDirectoryA",
     [](LPSTR buffer, DWORD size) { return static_cast<DWORD>(GetSystemDirectoryA(buffer, size)); },
     [](const std::string &root, const std::string &) { return root + "/Windows/System32"; }},
    {"GetWindowsDirectoryA",
     [](LPSTR buffer, DWORD size) {
         return static_cast<DWORD>(GetWindowsDirectoryA(buffer, size));
     },
     [](const std::string &root, const std::string &) { return root + "/Windows"; }},
};

// A buffer too small gets the size needed (NUL counted) and is not written;
// one that fits gets the path and its length.
TEST(DirectoryQueries, FitOrSayWhatTheyNeed) {
    TempDir root("ntroot");
    TempDir current("current");
    ScopedEnv env("NTROOT", root.path());
    ScopedCurrentFolder inside(current.path());
    for (const DirectoryQuery &query : kQueries) {
        SCOPED_TRACE(query.name);
        const std::string path = query.expected(root.path(), current.path());
        const DWORD length = static_cast<DWORD>(path.size());
        struct Case {
            DWORD size;
            DWORD result;
            bool written;
        };
        const Case cases[] = {
            {0, length + 1, false},
            {length, length + 1, false},  // no room for the NUL
            {length + 1, length, true},
            {length + 100, length, true},
        };
        for (const Case &c : cases) {
            std::vector<char> buffer(c.size + 1, '#');
            EXPECT_EQ(query.query(c.size == 0 ? nullptr : buffer.data(), c.size), c.result)
                << "size " << c.size;
            if (c.written) {
                EXPECT_EQ(std::string(buffer.data()), path);
            } else if (c.size > 0) {
                EXPECT_EQ(buffer[0], '#') << "a buffer too small was written to";
            }
        }
    }
}

TEST(DirectoryQueries, CurrentDirectoryThatIsGoneIsAFailure) {
    TempDir base("current");
    const std::string gone = base.path() + "/gone";
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    ScopedCurrentFolder inside(gone);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    char buffer[MAX_PATH];
    SetLastError(0);
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 0u);
    EXPECT_NE(GetLastError(), 0u);
}

// ---- Version. --------------------------------------------------------------------

TEST(Version, ReportsWindowsNtOnlyToARecordOfTheRightSize) {
    OSVERSIONINFOA info;
    for (DWORD size : {0u, 147u, 149u, 156u}) {
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = size;
        EXPECT_FALSE(GetVersionExA(&info)) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    EXPECT_FALSE(GetVersionExA(nullptr));
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_EQ(sizeof info, 148u);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(info.dwMajorVersion, 4u);

    ScopedEnv other("NTPLATFORM_PLATFORM_ID", "1");
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
}

// ---- wsprintfA. --------------------------------------------------------------------

TEST(Wsprintf, WritesAtMost1024Bytes) {
    char buffer[2048];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(wsprintfA(buffer, "%s\\%s", "/root/dir", "HOSTDEV.DLL"), 21);
    EXPECT_STREQ(buffer, "/root/dir\\HOSTDEV.DLL");

    const std::string long_text(1500, 'x');
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(wsprintfA(buffer, "%s", long_text.c_str()), 1023);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], '#') << "wrote past 1024 bytes";
}

// ---- CopyFileA. ----------------------------------------------------------------------

class CopyFileTest : public ::testing::Test {
protected:
    // No file is left beside the target: neither half copies nor temporaries.
    void ExpectOnly(const std::vector<std::string> &names) {
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected(names);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
    TempDir dir{"copy"};
};

TEST_F(CopyFileTest, TakesBackslashesAndReplacesTheTargetKeepingTheMode) {
    const std::string source = dir.path() + "/SOURCE.DLL";
    WriteFile(source, "new contents", 0751);
    WriteFile(dir.path() + "/TARGET.DLL", "old", 0600);
    // A process that has the old target open keeps the old file.
    const int held = open((dir.path() + "/TARGET.DLL").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);

    ASSERT_TRUE(CopyFileA((dir.path() + "\\SOURCE.DLL").c_str(),
                          (dir.path() + "\\TARGET.DLL").c_str(), FALSE));
    EXPECT_EQ(ReadFile(dir.path() + "/TARGET.DLL"), "new contents");
    struct stat info;
    ASSERT_EQ(stat((dir.path() + "/TARGET.DLL").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
    char old[8] = {};
    EXPECT_EQ(pread(held, old, sizeof old, 0), 3);
    EXPECT_STREQ(old, "old");
    close(held);
    ExpectOnly({"SOURCE.DLL", "TARGET.DLL"});
}

TEST_F(CopyFileTest, FailuresLeaveTheTargetAsItWas) {
    const std::string source = dir.path() + "/SOURCE.DLL";
    const std::string target = dir.path() + "/TARGET.DLL";
    WriteFile(source, "new");
    WriteFile(target, "old");
    mkdir((dir.path() + "/folder").c_str(), 0755);
    struct Case {
        const char *what;
        std::string from;
        std::string to;
        BOOL failIfExists;
        DWORD error;
    };
    const Case cases[] = {
        {"missing source", dir.path() + "/MISSING.DLL", target, FALSE, ERROR_FILE_NOT_FOUND},
        {"existing target, failIfExists", source, target, TRUE, ERROR_FILE_EXISTS},
        {"source is a folder", dir.path() + "/folder", target, FALSE, ERROR_ACCESS_DENIED},
        {"target folder missing", source, dir.path() + "/nowhere/TARGET.DLL", FALSE,
         ERROR_FILE_NOT_FOUND},
        {"target folder is a file", source, target + "/TARGET.DLL", FALSE, ERROR_PATH_NOT_FOUND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(CopyFileA(c.from.c_str(), c.to.c_str(), c.failIfExists));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(ReadFile(target), "old");
    }
    ExpectOnly({"SOURCE.DLL", "TARGET.DLL", "folder"});

    EXPECT_TRUE(CopyFileA(source.c_str(), (dir.path() + "/FRESH.DLL").c_str(), TRUE));
    EXPECT_EQ(ReadFile(dir.path() + "/FRESH.DLL"), "new");
}

// A copy that cannot be written whole (the file size limit stops it half
// way) fails and leaves the old target and no partial file.
TEST_F(CopyFileTest, ACopyCutShortReplacesNothing) {
    const std::string source = dir.path() + "/SOURCE.DLL";
    const std::string target = dir.path() + "/TARGET.DLL";
    WriteFile(source, std::string(200000, 'n'));
    WriteFile(target, "old");
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {65536, 65536};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(CopyFileA(source.c_str(), target.c_str(), FALSE) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut-short copy reported success";
    EXPECT_EQ(ReadFile(target), "old");
    ExpectOnly({"SOURCE.DLL", "TARGET.DLL"});
}

// ---- Command lines and the program search. ---------------------------------------------

TEST(SplitCommandLine, FollowsTheNtRules) {
    struct Case {
        const char *line;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"NET STOP SNMP", {"NET", "STOP", "SNMP"}},
        {"  NET\t START  ", {"NET", "START"}},
        {"", {}},
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},    // 3 backslashes + quote: \ and a quote
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // 2 backslashes + quote: \ and grouping
        {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},  // backslashes before no quote stay
        {"p \"a\"\"b\"", {"p", "a\"b"}},      // "" inside quotes
        {"p \"\"", {"p", ""}},
        {"dir\\prog\\ x", {"dir\\prog\\", "x"}},  // the program name keeps backslashes
    };
    for (const Case &c : cases) {
        EXPECT_EQ(nt::SplitCommandLine(c.line), c.arguments) << c.line;
    }
}

class ProgramSearch : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.path() + "/Windows/System32");
    }
    std::string Put(const std::string &folder, const std::string &name, unsigned mode = 0755) {
        const std::string path = folder + "/" + name;
        WriteFile(path, "#!/bin/sh\necho " + path + " > \"$MARK\"\n", mode);
        return path;
    }
    std::string System32() const { return root.path() + "/Windows/System32"; }
    std::string Find(const std::string &name, DWORD *error = nullptr) {
        DWORD ignored = 0;
        return nt::FindCommand(name, error != nullptr ? error : &ignored);
    }

    TempDir root{"ntroot"};
    TempDir current{"current"};
    TempDir onPath{"path"};
    ScopedEnv rootEnv{"NTROOT", root.path()};
    ScopedEnv pathEnv{"PATH", onPath.path()};
    ScopedCurrentFolder inside{current.path()};
};

TEST_F(ProgramSearch, LooksInTheNtOrderWithoutRegardToCase) {
    // The system directory comes before PATH, the current folder before both.
    const std::string onPathProbe = Put(onPath.path(), "probe");
    EXPECT_EQ(Find("probe"), onPathProbe);
    const std::string systemProbe = Put(System32(), "PROBE");
    EXPECT_EQ(Find("probe"), systemProbe);
    EXPECT_EQ(Find("Probe"), systemProbe);
    const std::string currentProbe = Put(current.path(), "probe.EXE");
    EXPECT_EQ(Find("PROBE"), currentProbe.substr(0, currentProbe.size()));
    // The folder of the running program comes first of all.
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string program = std::filesystem::path(self).filename().string();
    Put(current.path(), program);
    EXPECT_EQ(Find(program), std::string(self));
}

TEST_F(ProgramSearch, SkipsWhatCannotRunAndTakesPathsAsGiven) {
    Put(System32(), "tool", 0644);  // not executable
    const std::string onPathTool = Put(onPath.path(), "tool");
    EXPECT_EQ(Find("tool"), onPathTool);
    mkdir((current.path() + "/folder").c_str(), 0755);
    EXPECT_EQ(Find("folder"), "");
    DWORD error = 0;
    EXPECT_EQ(Find("absent", &error), "");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A name with a folder is not searched for; '\' separates too.
    const std::string sub = current.path() + "/sub";
    mkdir(sub.c_str(), 0755);
    const std::string inSub = Put(sub, "Runner");
    EXPECT_EQ(Find("sub\\runner"), "sub/Runner");
    EXPECT_EQ(Find(sub + "\\RUNNER"), inSub);
    EXPECT_EQ(Find("tool\\x"), "");
}

// ---- Processes. ---------------------------------------------------------------------------

class Processes : public ::testing::Test {
protected:
    // Starts command (a /bin/sh script line); false when it did not start.
    bool Start(const std::string &script, DWORD flags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
               LPVOID environment = nullptr, const char *folder = nullptr) {
        std::string line = "/bin/sh -c \"" + script + "\"";
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        std::memset(&info, 0, sizeof info);
        return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, environment,
                              folder, &startup, &info) != 0;
    }
    void CloseBoth() {
        EXPECT_TRUE(CloseHandle(info.hThread));
        EXPECT_TRUE(CloseHandle(info.hProcess));
    }
    TempDir dir{"process"};
    PROCESS_INFORMATION info;
};

TEST_F(Processes, WaitTimesOutThenSeesTheEndAndTheExitCode) {
    const std::string fifo = dir.path() + "/gate";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(Start("cat " + fifo + " >/dev/null; exit 7"));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    const int gate = open(fifo.c_str(), O_WRONLY);  // lets cat go
    ASSERT_GE(gate, 0);
    close(gate);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
    CloseBoth();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// Closing the handles of a child that still runs does not end it, and the
// child is reaped when it ends: no zombie stays behind.
TEST_F(Processes, ClosingHandlesLeavesTheChildRunningAndReapsIt) {
    const std::string fifo = dir.path() + "/gate";
    const std::string done = dir.path() + "/done";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(Start("cat " + fifo + " >/dev/null; echo finished > " + done));
    const pid_t pid = static_cast<pid_t>(info.dwProcessId);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
    CloseBoth();
    const int gate = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(gate, 0);
    close(gate);
    EXPECT_TRUE(Eventually([&] { return ReadFile(done) == "finished\n"; }));
    EXPECT_TRUE(Eventually([&] { return kill(pid, 0) != 0 && errno == ESRCH; }))
        << "the child was left a zombie";
}

TEST_F(Processes, ConsolesFoldersAndEnvironments) {
    const std::string mark = dir.path() + "/mark";
    // A detached child has no terminal: its standard streams are /dev/null,
    // and it leads a session of its own.
    ASSERT_TRUE(Start("streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1); echo $streams > " + mark +
                          "; test $(cut -d' ' -f6 /proc/$$/stat) = $$ && echo leader >> " + mark,
                      DETACHED_PROCESS));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseBoth();
    EXPECT_EQ(ReadFile(mark), "/dev/null /dev/null\nleader\n");

    // A new console with no terminal to share gets no input of ours.
    if (isatty(0) == 0) {
        ASSERT_TRUE(Start("input=$(readlink /proc/$$/fd/0); echo $input > " + mark));
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        CloseBoth();
        EXPECT_EQ(ReadFile(mark), "/dev/null\n");
    }

    // The folder and the environment block given.
    char environment[] = "GREETING=hello\0PATH=/usr/bin:/bin\0";
    ASSERT_TRUE(
        Start("echo $GREETING $(pwd) > " + mark, 0, environment, (dir.path() + "\\").c_str()));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseBoth();
    EXPECT_EQ(ReadFile(mark), "hello " + dir.path() + "\n");
}

TEST_F(Processes, WhatCannotStartFailsAtOnce) {
    const std::string notAProgram = dir.path() + "/text";
    WriteFile(notAProgram, "no interpreter line\n", 0755);
    struct Case {
        std::string line;
        DWORD flags;
        const char *folder;
        DWORD error;
    };
    const Case cases[] = {
        {"no-such-program-anywhere", 0, nullptr, ERROR_FILE_NOT_FOUND},
        {notAProgram, 0, nullptr, ERROR_GEN_FAILURE},
        {"/bin/true", 0, "/no/such/folder", ERROR_FILE_NOT_FOUND},
        {"/bin/true", DETACHED_PROCESS | CREATE_NEW_CONSOLE, nullptr, ERROR_INVALID_PARAMETER},
        {"", 0, nullptr, ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        std::string line = c.line;
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        SetLastError(0);
        EXPECT_FALSE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, c.flags, nullptr,
                                    c.folder, &startup, &info));
        EXPECT_EQ(GetLastError(), c.error);
    }
}

}  // namespace

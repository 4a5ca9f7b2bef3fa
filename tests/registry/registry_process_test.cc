// The registry shared by processes: writers and a reader at once, and a
// writer killed in the middle of its writes. The other processes are
// registry_worker, started on this test's root.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "temp_registry.h"
#include "worker_values.h"

extern char **environ;

namespace registry_test {
namespace {

// Starts registry_worker with args; its standard output goes to outFd when
// that is not -1.
pid_t StartWorker(const std::vector<std::string> &args, int outFd = -1) {
    std::vector<std::string> all{REGISTRY_WORKER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << std::strerror(rc);
    return rc == 0 ? pid : -1;
}

// The wait status of pid.
int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string Describe(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "?";
}

TEST(RegistryProcesses, ReadersNeverSeeAHalfWrittenValue) {
    TempRoot root;
    // The reader starts first and waits for the writers' key; the two
    // writers contend for the write lock all along.
    const pid_t reader = StartWorker({"reader", "5000000", "a", "b"});
    const pid_t writerA = StartWorker({"writer", "150", "a"});
    const pid_t writerB = StartWorker({"writer", "150", "b"});
    ASSERT_GT(reader, 0);
    ASSERT_GT(writerA, 0);
    ASSERT_GT(writerB, 0);
    const int statusA = Wait(writerA);
    const int statusB = Wait(writerB);
    const bool writersDone = WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0 &&
                             WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0;
    if (!writersDone) {
        kill(reader, SIGKILL);  // it would wait for them to the end of its rounds
    }
    const int statusReader = Wait(reader);
    ASSERT_TRUE(writersDone) << "writer a: " << Describe(statusA)
                             << ", writer b: " << Describe(statusB);
    EXPECT_TRUE(WIFEXITED(statusReader) && WEXITSTATUS(statusReader) == 0)
        << "reader: " << Describe(statusReader);

    // The last write of each value is what stays: i = 149 wrote byte 150.
    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stress", 0, KEY_READ, key.out()),
              ERROR_SUCCESS);
    for (const char *name : {"a0", "a3", "b1", "b2"}) {
        SCOPED_TRACE(name);
        const long n = name[1] - '0';
        const long last = 149 - (149 - n) % 4;
        const int fill = 1 + static_cast<int>(last % 250);
        std::string data(UniformSize(255), '\0');
        DWORD size = static_cast<DWORD>(data.size());
        ASSERT_EQ(RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&data[0]), &size),
                  ERROR_SUCCESS);
        data.resize(size);
        EXPECT_TRUE(data == std::string(UniformSize(fill), static_cast<char>(fill)))
            << size << " bytes, the first " << static_cast<int>(static_cast<unsigned char>(data[0]))
            << "; expected " << UniformSize(fill) << " bytes of " << fill;
    }
}

TEST(RegistryProcesses, AKilledWriterLosesNoWriteItReportedCommitted) {
    TempRoot root;
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t committer = StartWorker({"committer", "100000"}, pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_GT(committer, 0);

    // Kill it once 150 writes are reported, while it goes on writing; then
    // take every report that reached the pipe before it died.
    std::set<long> reported;
    std::string pending;
    bool killed = false;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        pending.append(chunk, static_cast<size_t>(got));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            reported.insert(std::stol(pending.substr(0, newline)));
            pending.erase(0, newline + 1);
        }
        if (!killed && reported.size() >= 150) {
            kill(committer, SIGKILL);
            killed = true;
        }
    }
    close(pipeFds[0]);
    const int status = Wait(committer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer ended before it was killed: " << Describe(status);
    ASSERT_GE(reported.size(), 150u);

    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Crash", 0, KEY_ALL_ACCESS, key.out()),
              ERROR_SUCCESS);
    for (const long i : reported) {
        const std::string name = "k" + std::to_string(i);
        std::string data(4096, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        ASSERT_EQ(RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&data[0]), &size),
                  ERROR_SUCCESS)
            << name << " was reported committed";
        data.resize(size);
        EXPECT_EQ(data, Pattern(i)) << name;
    }
    // Whatever else is there is whole too (a write committed before the
    // kill and not yet reported), and the killed writer left no lock.
    for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD nameSize = sizeof name;
        std::string data(4096, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        const LONG rc = RegEnumValueA(key.get(), index, name, &nameSize, nullptr, nullptr,
                                      reinterpret_cast<BYTE *>(&data[0]), &size);
        if (rc == ERROR_NO_MORE_ITEMS) {
            EXPECT_LE(index, reported.size() + 1);
            break;
        }
        ASSERT_EQ(rc, ERROR_SUCCESS);
        data.resize(size);
        EXPECT_EQ(data, Pattern(std::stol(std::string(name + 1, nameSize - 1)))) << name;
    }
    EXPECT_EQ(RegSetValueExA(key.get(), "after", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2),
              ERROR_SUCCESS);
}

}  // namespace
}  // namespace registry_test

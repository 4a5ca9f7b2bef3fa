// NET and the service's files in run/ in the states a real host reaches:
// NETs that race, a registry lost under a running service, a log that would
// grow for ever, links and FIFOs planted in run/, and a root that someone
// else could change.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "service_state.h"
#include "test_root.h"

namespace {

namespace fs = std::filesystem;

using servicetest::BinDir;
using servicetest::Contains;
using servicetest::ReadFile;
using servicetest::TestRoot;
using testproc::Result;

const std::string AlreadyStarted =
    "The requested service has already been started.\n\n"
    "More help is available by typing NET HELPMSG 2182.\n\n";
const std::string Started =
    "The SNMP service is starting.\nThe SNMP service was started successfully.\n\n";
const std::string Stopped =
    "The SNMP service is stopping.\nThe SNMP service was stopped successfully.\n\n";

svcstate::State StateOf(const TestRoot &root) {
    return svcstate::QueryService(svcstate::FilesOf(root.root(), "SNMP")).state;
}

// Four NET STARTs at once: one starts the service, the others say in NT's
// words that it has been started; then two STOPs at once: one stops it,
// the other finds it stopped.
TEST(NetStatesTest, RacingNetsStartTheServiceOnce) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    std::vector<Result> results(4);
    std::vector<std::thread> racers;
    for (Result &result : results) {
        racers.emplace_back([&root, &result] { result = root.Net({"START", "SNMP"}); });
    }
    for (std::thread &racer : racers) {
        racer.join();
    }
    int started = 0;
    for (const Result &result : results) {
        if (result.status == 0) {
            ++started;
            EXPECT_EQ(result.out, Started);
        } else {
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, AlreadyStarted);
        }
    }
    EXPECT_EQ(started, 1) << root.Log();
    EXPECT_EQ(StateOf(root), svcstate::State::Running);
    EXPECT_FALSE(Contains(root.Log(), "already running")) << root.Log();

    Result stops[2];
    std::thread first([&] { stops[0] = root.Net({"STOP", "SNMP"}); });
    stops[1] = root.Net({"STOP", "SNMP"});
    first.join();
    EXPECT_EQ(stops[0].status + stops[1].status, 2) << stops[0].err << stops[1].err;
    for (const Result &stop : stops) {
        if (stop.status == 0) {
            EXPECT_EQ(stop.out, Stopped);
        } else {
            EXPECT_EQ(stop.err,
                      "The SNMP service is not started.\n\n"
                      "More help is available by typing NET HELPMSG 3521.\n\n");
        }
    }
    EXPECT_EQ(StateOf(root), svcstate::State::Stopped);
}

// The pid and lock files in run/ are all STOP needs.
TEST(NetStatesTest, StopWorksWhenTheRegistryIsGoneOrDamaged) {
    struct Case {
        const char *what;
        void (*harm)(const std::string &db);
    };
    const Case cases[] = {
        {"deleted",
         [](const std::string &db) {
             for (const char *suffix : {"", "-wal", "-shm"}) {
                 unlink((db + suffix).c_str());
             }
         }},
        {"damaged",
         [](const std::string &db) {
             unlink((db + "-wal").c_str());
             unlink((db + "-shm").c_str());
             servicetest::WriteFile(db, std::string(8192, 'x'));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestRoot root;
        ASSERT_EQ(root.Make(), "");
        ASSERT_EQ(root.Net({"START", "SNMP"}).status, 0) << root.Log();
        c.harm(root.root() + "/registry.db");
        const Result stop = root.Net({"stop", "snmp"});
        EXPECT_EQ(stop.status, 0) << stop.err;
        EXPECT_EQ(stop.out, Stopped);
        EXPECT_EQ(StateOf(root), svcstate::State::Stopped);
        // With nothing running, it is told as before.
        const Result again = root.Net({"STOP", "SNMP"});
        EXPECT_EQ(again.status, 2);
        EXPECT_NE(again.err, "");
    }
}

// The log turns into SNMP.log.1 at its limit, in NET before a start and in
// the running service, which goes on logging into a new SNMP.log.
TEST(NetStatesTest, TheServiceLogStaysUnderItsLimit) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const std::string log = root.root() + "/run/SNMP.log";
    const off_t limit = 8192;
    testproc::Environment env = root.Env();
    env["SNMPSVC_LOG_LIMIT"] = std::to_string(limit);
    const std::string net = BinDir + "/NET";

    ASSERT_TRUE(servicetest::WriteFile(log, std::string(limit + 1, 'a')));
    Result start = testproc::Run({net, "START", "SNMP"}, env);
    ASSERT_EQ(start.status, 0) << start.err << root.Log();
    EXPECT_EQ(fs::file_size(log + ".1"), static_cast<uintmax_t>(limit + 1));
    EXPECT_LT(fs::file_size(log), static_cast<uintmax_t>(limit));

    // Lines pouring in through the service's own standard error, as a
    // flood of requests would make the library write them: 60 kB, more
    // than seven times the limit.
    const pid_t pid = svcstate::QueryService(svcstate::FilesOf(root.root(), "SNMP")).pid;
    ASSERT_GT(pid, 0);
    const std::string stderrOfService = "/proc/" + std::to_string(pid) + "/fd/2";
    for (int block = 0; block < 40; ++block) {
        std::FILE *file = std::fopen(stderrOfService.c_str(), "a");
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < 50; ++i) {
            std::fprintf(file, "snmpsvc: line %d of a flood\n", 50 * block + i);
        }
        std::fclose(file);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(testproc::Eventually(
        [&] { return fs::exists(log) && fs::file_size(log) < static_cast<uintmax_t>(limit); },
        std::chrono::seconds(5)));
    EXPECT_LT(fs::file_size(log + ".1"), static_cast<uintmax_t>(2 * limit));
    EXPECT_TRUE(Contains(ReadFile(log + ".1"), "snmpsvc: the log passed 8192 bytes"));
    const Result stop = testproc::Run({net, "STOP", "SNMP"}, env);
    EXPECT_EQ(stop.status, 0) << stop.err;
    EXPECT_TRUE(Contains(ReadFile(log), "snmpsvc: stopping\n")) << ReadFile(log);
    for (const auto &entry : fs::directory_iterator(root.root() + "/run")) {
        EXPECT_NE(entry.path().filename().string(), "SNMP.log.2");
    }
}

// Links, FIFOs and folders planted in run/ are refused or ignored: nothing
// is written through them and nothing hangs.
TEST(NetStatesTest, WhatIsPlantedInRunIsNeverFollowedOrWaitedOn) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const std::string run = root.root() + "/run";
    const std::string victim = root.folder() + "/victim";
    ASSERT_TRUE(servicetest::WriteFile(victim, "precious\n"));

    for (const char *file : {"SNMP.log", "SNMP.lock"}) {
        SCOPED_TRACE(file);
        const std::string path = run + "/" + file;
        ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
        const Result start = root.Net({"START", "SNMP"});
        EXPECT_EQ(start.status, 2);
        EXPECT_TRUE(Contains(start.err, path + ": a symbolic link")) << start.err << root.Log();
        EXPECT_EQ(StateOf(root), svcstate::State::Stopped);
        EXPECT_EQ(ReadFile(victim), "precious\n");
        unlink(path.c_str());
    }

    // FIFOs where the lock and the log are: NET answers at once.
    for (const char *file : {"SNMP.lock", "SNMP.log"}) {
        SCOPED_TRACE(file);
        const std::string path = run + "/" + file;
        unlink(path.c_str());
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(root.Net({"STOP", "SNMP"}).status, 2);
        EXPECT_EQ(root.Net({"START", "SNMP"}).status, 2);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
        EXPECT_EQ(StateOf(root), svcstate::State::Stopped);
        unlink(path.c_str());
    }

    // A pid file planted as a link is replaced, never written through.
    ASSERT_EQ(symlink(victim.c_str(), (run + "/SNMP.pid").c_str()), 0);
    ASSERT_EQ(root.Net({"START", "SNMP"}).status, 0) << root.Log();
    EXPECT_EQ(ReadFile(victim), "precious\n");
    struct stat info;
    ASSERT_EQ(stat((run + "/SNMP.lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // nobody else can hold a lock on it
    EXPECT_EQ(root.Net({"STOP", "SNMP"}).status, 0);
}

// NET and the service refuse a root that someone else could change, with
// the same one line that ntroot gives.
TEST(NetStatesTest, NetAndTheServiceRefuseARootOthersCanChange) {
    TestRoot root;
    ASSERT_EQ(root.Make(), "");
    const std::string run = root.root() + "/run";
    ASSERT_EQ(chmod(run.c_str(), 0777), 0);
    const std::string problem = run +
                                " can be written by other users (mode 0777); an NT root "
                                "must be its owner's alone: chmod go-w " +
                                run + "\n";
    const Result start = root.Net({"START", "SNMP"});
    EXPECT_EQ(start.status, 2);
    EXPECT_EQ(start.err, "NET: " + problem);
    const Result stop = root.Net({"STOP", "SNMP"});
    EXPECT_EQ(stop.status, 2);
    EXPECT_EQ(stop.err, "NET: " + problem);
    for (const char *verb : {"run", "install"}) {
        const Result service = root.Snmpsvc({"--root", root.root(), verb});
        EXPECT_EQ(service.status, 1) << verb;
        EXPECT_EQ(service.err, std::string("snmpsvc: ") + problem) << verb;
    }
    EXPECT_EQ(StateOf(root), svcstate::State::Stopped);
    ASSERT_EQ(chmod(run.c_str(), 0755), 0);

    if (geteuid() == 0) {  // another owner needs root to make
        ASSERT_EQ(chown(run.c_str(), 65534, static_cast<gid_t>(-1)), 0);
        const Result other = root.Net({"START", "SNMP"});
        EXPECT_EQ(other.status, 2);
        EXPECT_TRUE(Contains(other.err, run + " belongs to user nobody (uid 65534)")) << other.err;
        ASSERT_EQ(chown(run.c_str(), 0, static_cast<gid_t>(-1)), 0);
    }
    EXPECT_EQ(root.Net({"START", "SNMP"}).status, 0) << root.Log();
    EXPECT_EQ(root.Net({"STOP", "SNMP"}).status, 0);
}

}  // namespace

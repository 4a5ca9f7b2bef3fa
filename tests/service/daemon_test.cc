// The service as a daemon among others: the groups every manager reads
// first (and nothing else of Net-SNMP's modules), a reload on SIGHUP that
// keeps the pid and refuses what would not load, and the readiness it
// tells systemd over a notification socket that the test makes.
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <cstddef>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "service_notify.h"
#include "test_root.h"

namespace {

using servicetest::BinDir;
using servicetest::Contains;
using servicetest::ParseBindings;
using servicetest::ReadFile;
using servicetest::TestRoot;
using servicetest::WriteFile;
using testproc::Result;

using Bindings = std::vector<std::pair<std::string, std::string>>;

const std::vector<std::string> V2 = {"-v2c", "-c", "public"};

// The value snmpget gives for name, or the whole output when it gives no
// one binding.
std::string GetValue(TestRoot *root, const std::string &name) {
    const Result got = root->Client("snmpget", V2, {name});
    const Bindings bindings = ParseBindings(got.out);
    return bindings.size() == 1 && bindings[0].first == name ? bindings[0].second
                                                             : got.out + got.err;
}

size_t CountOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(SystemGroupTest, AStandaloneServiceAnswersTheGroupsManagersReadAndNothingElse) {
    TestRoot root;
    ASSERT_EQ(root.Make("syslocation Rack 4, row B\nsyscontact ops@example.org\n"
                        "sysname edge-7\n"),
              "");
    ASSERT_EQ(root.RegisterBothAgents(), "");
    root.AddAdapter("Vxlnk1", 1000);
    // Files where Net-SNMP would look without our settings: never read.
    mkdir((root.folder() + "/.snmp").c_str(), 0700);
    for (const std::string &stray :
         {root.folder() + "/client/snmpsvc.conf", root.folder() + "/.snmp/snmpsvc.conf"}) {
        ASSERT_TRUE(WriteFile(stray, "syslocation stray file\nsysname stray\n"));
    }
    const Result start = root.Net({"START", "SNMP"});
    ASSERT_EQ(start.status, 0) << start.out << start.err << root.Log();

    struct Case {
        const char *what;
        std::string name;
        std::string value;  // empty: any value of type
        std::string type;
    };
    const Case cases[] = {
        {"sysDescr", ".1.3.6.1.2.1.1.1.0", "", "STRING: "},
        {"sysObjectID", ".1.3.6.1.2.1.1.2.0", "", "OID: .1.3.6.1.4.1."},
        {"sysUpTime", ".1.3.6.1.2.1.1.3.0", "", "Timeticks: "},
        {"sysContact", ".1.3.6.1.2.1.1.4.0", "STRING: \"ops@example.org\"", ""},
        {"sysName", ".1.3.6.1.2.1.1.5.0", "STRING: \"edge-7\"", ""},
        {"sysLocation", ".1.3.6.1.2.1.1.6.0", "STRING: \"Rack 4, row B\"", ""},
        {"sysServices by default", ".1.3.6.1.2.1.1.7.0", "INTEGER: 72", ""},
        {"sysORID.1", ".1.3.6.1.2.1.1.9.1.2.1", "", "OID: "},
        {"snmpInPkts", ".1.3.6.1.2.1.11.1.0", "", "Counter32: "},
        {"snmpEngineID", ".1.3.6.1.6.3.10.2.1.1.0", "", "Hex-STRING: "},
        {"snmpEngineBoots", ".1.3.6.1.6.3.10.2.1.2.0", "", "INTEGER: "},
        {"snmpUnknownSecurityModels", ".1.3.6.1.6.3.11.2.1.1.0", "", "Counter32: "},
        {"usmStatsUnknownUserNames", ".1.3.6.1.6.3.15.1.1.3.0", "", "Counter32: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string value = GetValue(&root, c.name);
        if (c.value.empty()) {
            EXPECT_EQ(value.compare(0, c.type.size(), c.type), 0) << value;
        } else {
            EXPECT_EQ(value, c.value);
        }
    }

    // Of Net-SNMP's modules only these groups are served, strictly in order.
    const char *const allowed[] = {
        ".1.3.6.1.2.1.1.",        ".1.3.6.1.2.1.11.",      ".1.3.6.1.2.1.10.7.2.1.",
        ".1.3.6.1.2.1.25.3.2.1.", ".1.3.6.1.6.3.1.1.6.1.", ".1.3.6.1.6.3.10.2.1.",
        ".1.3.6.1.6.3.11.2.1.",   ".1.3.6.1.6.3.15.1.1.",
    };
    const Result walk = root.Client("snmpbulkwalk", V2, {".1"});
    ASSERT_EQ(walk.status, 0) << walk.err;
    const Bindings all = ParseBindings(walk.out);
    ASSERT_GT(all.size(), 40u) << walk.out;
    for (const auto &binding : all) {
        bool known = false;
        for (const char *prefix : allowed) {
            known = known || binding.first.compare(0, std::strlen(prefix), prefix) == 0;
        }
        EXPECT_TRUE(known) << binding.first << " is served";
    }
    EXPECT_FALSE(Contains(root.Log(), "stray")) << root.Log();
}

// A datagram socket of the test's, standing for systemd's NOTIFY_SOCKET.
class NotifySocket {
public:
    explicit NotifySocket(const std::string &path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 &&
                 bind(fd_, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) {
            close(fd_);
        }
        unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

    // The next datagram, or "" after 20 seconds.
    std::string Next() {
        struct pollfd ready = {fd_, POLLIN, 0};
        if (poll(&ready, 1, 20000) != 1) {
            return "";
        }
        char text[4096];
        const ssize_t got = recv(fd_, text, sizeof text, 0);
        return got > 0 ? std::string(text, static_cast<size_t>(got)) : "";
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

// A loopback UDP port that the test holds.
class BusyPort {
public:
    BusyPort() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 &&
            bind(fd_, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0 &&
            getsockname(fd_, reinterpret_cast<struct sockaddr *>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~BusyPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(ReloadTest, SighupReloadsInPlaceAndRefusesWhatWouldNotLoad) {
    TestRoot root;
    const std::string base = "syslocation Rack 4\n";
    ASSERT_EQ(root.Make(base), "");
    root.AddAdapter("Vxlnk1", 1000);
    NotifySocket manager(root.folder() + "/notify");
    ASSERT_TRUE(manager.bound());
    testproc::Environment env = root.Env();
    env["NOTIFY_SOCKET"] = root.folder() + "/notify";
    const std::string log = root.folder() + "/service.log";
    const pid_t pid = testproc::Spawn({BinDir + "/snmpsvc", "run"}, env, log);
    ASSERT_GT(pid, 0);
    struct Stopper {
        pid_t pid;
        ~Stopper() {
            if (testproc::WaitFor(pid, std::chrono::milliseconds(0)) == -1) {
                kill(pid, SIGKILL);
                testproc::WaitFor(pid, std::chrono::seconds(5));
            }
        }
    } stopper{pid};

    std::string ready = manager.Next();
    ASSERT_EQ(ready.compare(0, 8, "READY=1\n"), 0) << ready << ReadFile(log);
    EXPECT_TRUE(Contains(ready, "STATUS=serving 0 agents on " + root.address())) << ready;
    EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.1.6.0"), "STRING: \"Rack 4\"");
    const std::string pidFile = root.root() + "/run/SNMP.pid";
    EXPECT_EQ(ReadFile(pidFile), std::to_string(pid) + "\n");

    // A new configuration and a new agent list: loaded afresh, same pid.
    ASSERT_TRUE(WriteFile(root.root() + "/snmp/snmpsvc.conf",
                          "agentaddress " + root.address() + "\nsyslocation Rack 5\n"));
    ASSERT_EQ(root.RegisterBothAgents(), "");
    ASSERT_EQ(kill(pid, SIGHUP), 0);
    const std::string reloading = manager.Next();
    EXPECT_EQ(reloading.compare(0, 12, "RELOADING=1\n"), 0) << reloading;
    EXPECT_TRUE(Contains(reloading, "MONOTONIC_USEC=")) << reloading;
    ready = manager.Next();
    EXPECT_EQ(ready.compare(0, 8, "READY=1\n"), 0) << ready << ReadFile(log);
    EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.1.6.0"), "STRING: \"Rack 5\"");
    EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.25.3.2.1.1.1"), "INTEGER: 1");
    EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.10.7.2.1.3.1"), "Counter32: 1003");
    EXPECT_EQ(testproc::WaitFor(pid, std::chrono::milliseconds(0)), -1) << ReadFile(log);
    EXPECT_EQ(ReadFile(pidFile), std::to_string(pid) + "\n");
    EXPECT_EQ(CountOf(ReadFile(log), "snmpsvc: reloaded: serving 2 agents on " + root.address()),
              1u)
        << ReadFile(log);

    // What would not load leaves the service serving as it was.
    const std::string registry = root.root() + "/registry.db";
    struct Bad {
        const char *what;
        std::function<void()> spoil;
        std::function<void()> mend;
        std::string reason;
    };
    const std::string conf = root.root() + "/snmp/snmpsvc.conf";
    const std::string good = ReadFile(conf);
    const BusyPort busy;
    const Bad bads[] = {
        {"a configuration line with a bad value",
         [&] { WriteFile(conf, good + "snmpsvcCommunity of\n"); }, [&] { WriteFile(conf, good); },
         conf + " line 3: snmpsvcCommunity must be \"on\" or \"off\""},
        {"a bad role", [&] { WriteFile(conf, good + "agentxRole helper\n"); },
         [&] { WriteFile(conf, good); },
         conf + " line 3: agentxRole must be \"master\" or \"subagent\""},
        {"an address in use",
         [&] {
             WriteFile(conf, "agentaddress udp:127.0.0.1:" + std::to_string(busy.port()) + "\n");
         },
         [&] { WriteFile(conf, good); },
         "cannot listen on udp:127.0.0.1:" + std::to_string(busy.port())},
        {"an unreadable registry",
         [&] {
             rename(registry.c_str(), (registry + ".away").c_str());
             mkdir(registry.c_str(), 0700);
         },
         [&] {
             rmdir(registry.c_str());
             rename((registry + ".away").c_str(), registry.c_str());
         },
         "cannot open the agent list"},
    };
    for (const Bad &bad : bads) {
        SCOPED_TRACE(bad.what);
        bad.spoil();
        const size_t refusals = CountOf(ReadFile(log), "reload refused");
        ASSERT_EQ(kill(pid, SIGHUP), 0);
        EXPECT_EQ(manager.Next().compare(0, 12, "RELOADING=1\n"), 0);
        ready = manager.Next();
        EXPECT_EQ(ready.compare(0, 8, "READY=1\n"), 0) << ready;
        const std::string text = ReadFile(log);
        EXPECT_EQ(CountOf(text, "snmpsvc: reload refused, still serving as before: "), refusals + 1)
            << text;
        EXPECT_TRUE(Contains(text.substr(text.rfind("reload refused")), bad.reason)) << text;
        EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.1.6.0"), "STRING: \"Rack 5\"");
        EXPECT_EQ(GetValue(&root, ".1.3.6.1.2.1.10.7.2.1.3.1"), "Counter32: 1003");
        bad.mend();
    }

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(manager.Next(), "STOPPING=1");
    EXPECT_EQ(testproc::WaitFor(pid, std::chrono::seconds(20)), 0) << ReadFile(log);
    EXPECT_EQ(access(pidFile.c_str(), F_OK), -1);
}

TEST(NotifyTest, TheStateGoesToAPathOrAnAbstractSocketAndNowhereWithoutOne) {
    char folder[] = "/tmp/snmpsvc-notify-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/notify";
    std::string error;
    {
        NotifySocket manager(path);
        ASSERT_TRUE(manager.bound());
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        EXPECT_TRUE(snmpsvc::NotifyManager("READY=1\nSTATUS=serving", &error)) << error;
        EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=serving");
    }
    // Nobody listens any more: the sender says so in one line.
    EXPECT_FALSE(snmpsvc::NotifyManager("READY=1", &error));
    EXPECT_TRUE(Contains(error, "cannot tell the service manager at " + path)) << error;

    // An abstract name, as systemd may hand it.
    const std::string abstract = "@snmpsvc-test-" + std::to_string(getpid());
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, abstract.c_str() + 1, abstract.size() - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + abstract.size())),
              0);
    setenv("NOTIFY_SOCKET", abstract.c_str(), 1);
    EXPECT_TRUE(snmpsvc::NotifyManager("RELOADING=1", &error)) << error;
    char text[64];
    const ssize_t got = recv(fd, text, sizeof text, MSG_DONTWAIT);
    EXPECT_EQ(std::string(text, got > 0 ? static_cast<size_t>(got) : 0), "RELOADING=1");
    close(fd);

    setenv("NOTIFY_SOCKET", "relative/name", 1);
    EXPECT_FALSE(snmpsvc::NotifyManager("READY=1", &error));
    unsetenv("NOTIFY_SOCKET");
    EXPECT_TRUE(snmpsvc::NotifyManager("READY=1", &error));
    rmdir(folder);
}

}  // namespace

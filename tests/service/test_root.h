// A private NT root for one service under test: made with `ntroot init`,
// the service installed with `snmpsvc install`, agents registered the way
// setup registers them, simulated adapters in Device/, a free loopback UDP
// port in snmp/snmpsvc.conf, and the programs of build/bin run against it
// (NET, snmpsvc, and Net-SNMP's clients with a private configuration).
#ifndef TESTS_SERVICE_TEST_ROOT_H
#define TESTS_SERVICE_TEST_ROOT_H

#include <map>
#include <string>
#include <vector>

#include "process.h"

namespace servicetest {

extern const std::string BinDir;

class TestRoot {
public:
    TestRoot();   // a fresh temporary folder; nothing in it yet
    ~TestRoot();  // stops a service still running, removes the folder
    TestRoot(const TestRoot &) = delete;
    TestRoot &operator=(const TestRoot &) = delete;

    // ntroot init, snmpsvc install, the agent libraries in System32, and
    // snmp/snmpsvc.conf listening on port() plus extraConfig lines. An
    // empty string, or what failed.
    std::string Make(const std::string &extraConfig = "");

    // Adds an agent the way setup does: a REG_SZ value in the agent list
    // naming productKey, whose "Pathname" (REG_EXPAND_SZ) is pathname.
    std::string RegisterAgent(const std::string &valueName, const std::string &productKey,
                              const std::string &pathname);
    // Both of the system's agents, as setup registers them.
    std::string RegisterBothAgents();

    // A simulated adapter Device/name whose statistics are base + column.
    void AddAdapter(const std::string &name, unsigned base);
    // Sets one statistic of a simulated adapter.
    void SetStatistic(const std::string &name, unsigned statistic, unsigned value);

    testproc::Result Net(const std::vector<std::string> &args);
    testproc::Result Snmpsvc(const std::vector<std::string> &args);
    // A Net-SNMP client (snmpget, snmpwalk, ...) with -On and short
    // time-outs against this root's port; args follow the agent address.
    testproc::Result Client(const std::string &tool, const std::vector<std::string> &options,
                            const std::vector<std::string> &args);

    // Stops the service if it runs: NET STOP, else SIGKILL. True when it
    // had to be killed.
    bool ForceStop();

    const std::string &root() const { return root_; }
    const std::string &folder() const { return folder_; }
    int port() const { return port_; }
    std::string address() const { return "udp:127.0.0.1:" + std::to_string(port_); }
    std::string Log() const;  // run/SNMP.log
    testproc::Environment Env() const;

private:
    std::string folder_;
    std::string root_;
    int port_ = 0;
};

// A UDP port on 127.0.0.1 that nothing listens on at this moment.
int FreeUdpPort();

std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &text);
bool Contains(const std::string &text, const std::string &part);

// "OID = value" lines of a client's output, in order.
std::vector<std::pair<std::string, std::string>> ParseBindings(const std::string &out);

}  // namespace servicetest

#endif  // TESTS_SERVICE_TEST_ROOT_H

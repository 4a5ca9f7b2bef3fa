// Setup with the real NET and the real SNMP service: `snmpsvc install` makes
// the root's service, setup runs from the build folder (where it finds the
// real NET and the two DLLs), installs both agents and restarts the
// service, which then answers for both tables over loopback.
#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "machine.h"

namespace {

using namespace setup_test;

// A UDP port on 127.0.0.1 that nothing uses now.
int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// The simulated adapter: every statistic the Ethernet agent asks for.
const char kAdapter[] =
    "# a simulated adapter\n"
    "0x0002020D 11\n0x01020101 12\n0x01020102 13\n0x01020103 14\n0x01020201 15\n"
    "0x01020202 16\n0x01020203 17\n0x01020204 18\n0x01020205 19\n0x01020206 20\n"
    "0x01020207 21\n";

TEST(RealService, SetupInstallsBothAgentsAndRestartsTheService) {
    for (const char *program : {"NET", "snmpsvc", "ntroot"}) {
        if (!Exists(BinDir() + "/" + program)) {
            GTEST_SKIP() << program << " is not built";
        }
    }
    TempDir top("setup-real");
    const std::string root = top.path() + "/root";
    ScopedEnv rootEnv("NTROOT", root);
    const std::vector<std::string> env = {"NTROOT=" + root};
    RunResult run = RunProgram({BinDir() + "/ntroot", "init"}, top.path(), env, "");
    ASSERT_EQ(run.status, 0) << run.err;
    run = RunProgram({BinDir() + "/snmpsvc", "install"}, top.path(), env, "");
    ASSERT_EQ(run.status, 0) << run.err;
    const int port = FreeUdpPort();
    ASSERT_NE(port, 0);
    std::filesystem::create_directories(root + "/snmp");
    WriteFile(root + "/snmp/snmpsvc.conf",
              "agentaddress udp:127.0.0.1:" + std::to_string(port) + "\n");
    WriteFile(root + "/Device/Vxlnk1", kAdapter);

    run = RunProgram({BinDir() + "/mibsetup"}, BinDir(), env, "Enter\nEnter\nEnter\nEnter\n");
    // Whatever happens, the service does not outlive the test.
    struct StopService {
        std::vector<std::string> env;
        ~StopService() { RunProgram({BinDir() + "/NET", "STOP", "SNMP"}, "/", env, ""); }
    } stop{env};
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("successfully installed."), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.out.find("The SNMP service was started successfully."), std::string::npos)
        << run.out;
    for (const char *file : {"HOSTDEV.DLL", "ETHSTAT.DLL"}) {
        EXPECT_EQ(ReadFile(root + "/Windows/System32/" + file), ReadFile(BinDir() + "/" + file));
    }
    const auto registry = RegistrySnapshot();
    EXPECT_EQ(registry.at(std::string(kHostdevKey) + " : Pathname"),
              StringValue(2, "%SystemRoot%\\System32\\HOSTDEV.DLL"));

    if (system("command -v snmpget >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "snmpget is not installed: the service's answers are not checked";
    }
    // hrDeviceType.1 (a network device) and dot3StatsFCSErrors.1 from the adapter.
    run = RunProgram(
        {"/bin/sh", "-c",
         "snmpget -v2c -c public -On -Oe -t 2 -r 2 udp:127.0.0.1:" + std::to_string(port) +
             " 1.3.6.1.2.1.25.3.2.1.2.1 1.3.6.1.2.1.10.7.2.1.3.1"},
        "/", {}, "");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(".1.3.6.1.2.1.25.3.2.1.2.1 = OID: .1.3.6.1.2.1.25.3.1.4"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(".1.3.6.1.2.1.10.7.2.1.3.1 = Counter32: 11"), std::string::npos)
        << run.out;
}

}  // namespace

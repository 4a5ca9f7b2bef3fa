// A private NT root for a service under test; see test_root.h.
#include "test_root.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nt/adapter_statistics.h"
#include "nt/win32.h"
#include "service_state.h"

namespace servicetest {

const std::string BinDir = BIN_DIR;

namespace {

constexpr char AgentListKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

bool CopyFile(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        return false;
    }
    out << in.rdbuf();
    return static_cast<bool>(out);
}

std::string Describe(const testproc::Result &result) {
    return "status " + std::to_string(result.status) + ", out: " + result.out +
           ", err: " + result.err;
}

}  // namespace

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<struct sockaddr *>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

std::vector<std::pair<std::string, std::string>> ParseBindings(const std::string &out) {
    std::vector<std::pair<std::string, std::string>> bindings;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find(" = ");
        if (equals != std::string::npos) {
            bindings.emplace_back(line.substr(0, equals), line.substr(equals + 3));
        }
    }
    return bindings;
}

TestRoot::TestRoot() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/snmpsvc-test-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) {
        folder_ = pattern;
    }
    root_ = folder_ + "/root";
    port_ = FreeUdpPort();
    // The clients' private configuration and state; cert_indexes made here
    // keeps them from announcing that they made it.
    mkdir((folder_ + "/client").c_str(), 0700);
    mkdir((folder_ + "/client/cert_indexes").c_str(), 0700);
}

TestRoot::~TestRoot() {
    ForceStop();
    if (!folder_.empty() && std::getenv("KEEP_TEST_ROOTS") == nullptr) {
        nftw(folder_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

testproc::Environment TestRoot::Env() const {
    return {
        {"NTROOT", root_},
        {"HOME", folder_},
        {"MIBS", ""},
        {"SNMPCONFPATH", folder_ + "/client"},
        {"SNMP_PERSISTENT_DIR", folder_ + "/client"},
    };
}

std::string TestRoot::Make(const std::string &extraConfig) {
    if (folder_.empty() || port_ == 0) {
        return "no temporary folder or free port";
    }
    testproc::Result init = testproc::Run({BinDir + "/ntroot", "--root", root_, "init"}, Env());
    if (init.status != 0) {
        return "ntroot init: " + Describe(init);
    }
    testproc::Result install = Snmpsvc({"--root", root_, "install"});
    if (install.status != 0) {
        return "snmpsvc install: " + Describe(install);
    }
    for (const char *dll : {"ETHSTAT.DLL", "HOSTDEV.DLL"}) {
        if (!CopyFile(BinDir + "/" + dll, root_ + "/Windows/System32/" + dll)) {
            return std::string("cannot copy ") + dll;
        }
    }
    if (!Contains(ReadFile(root_ + "/snmp/snmpsvc.conf"), "#   agentaddress udp:127.0.0.1:1161")) {
        return "snmpsvc install wrote no commented snmp/snmpsvc.conf";
    }
    if (!WriteFile(root_ + "/snmp/snmpsvc.conf",
                   "agentaddress " + address() + "\n" + extraConfig)) {
        return "cannot write snmpsvc.conf";
    }
    return "";
}

std::string TestRoot::RegisterAgent(const std::string &valueName, const std::string &productKey,
                                    const std::string &pathname) {
    setenv("NTROOT", root_.c_str(), 1);
    HKEY list = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, AgentListKey, 0, KEY_ALL_ACCESS, &list);
    if (rc != ERROR_SUCCESS) {
        return "cannot open the agent list: " + std::to_string(rc);
    }
    rc = RegSetValueExA(list, valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE *>(productKey.c_str()),
                        static_cast<DWORD>(productKey.size() + 1));
    RegCloseKey(list);
    if (rc != ERROR_SUCCESS) {
        return "cannot set " + valueName + ": " + std::to_string(rc);
    }
    HKEY product = nullptr;
    char noClass[] = "";
    DWORD disposition = 0;
    rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, productKey.c_str(), 0, noClass,
                         REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &product, &disposition);
    if (rc != ERROR_SUCCESS) {
        return "cannot create " + productKey + ": " + std::to_string(rc);
    }
    rc = RegSetValueExA(product, "Pathname", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE *>(pathname.c_str()),
                        static_cast<DWORD>(pathname.size() + 1));
    RegCloseKey(product);
    return rc == ERROR_SUCCESS ? "" : "cannot set Pathname: " + std::to_string(rc);
}

std::string TestRoot::RegisterBothAgents() {
    std::string error = RegisterAgent(
        "VeltrixHOSTDEV", "SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\\CurrentVersion",
        "%SystemRoot%\\System32\\HOSTDEV.DLL");
    if (error.empty()) {
        error = RegisterAgent("VeltrixETHSTAT",
                              "SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent\\CurrentVersion",
                              "%SystemRoot%\\System32\\ETHSTAT.DLL");
    }
    return error;
}

void TestRoot::AddAdapter(const std::string &name, unsigned base) {
    std::string text = "# simulated adapter " + name + "\n";
    for (const nt::AdapterStatistic &statistic : nt::kAdapterStatistics) {
        char line[64];
        std::snprintf(line, sizeof line, "0x%08X %u\n", statistic.identifier,
                      base + statistic.column);
        text += line;
    }
    WriteFile(root_ + "/Device/" + name, text);
}

void TestRoot::SetStatistic(const std::string &name, unsigned statistic, unsigned value) {
    const std::string path = root_ + "/Device/" + name;
    std::istringstream lines(ReadFile(path));
    std::string text;
    std::string line;
    char key[16];
    std::snprintf(key, sizeof key, "0x%08X ", statistic);
    while (std::getline(lines, line)) {
        text +=
            (line.compare(0, std::strlen(key), key) == 0 ? std::string(key) + std::to_string(value)
                                                         : line) +
            "\n";
    }
    WriteFile(path + ".new", text);
    rename((path + ".new").c_str(), path.c_str());
}

testproc::Result TestRoot::Net(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {BinDir + "/NET"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testproc::Run(argv, Env(), std::chrono::seconds(40));
}

testproc::Result TestRoot::Snmpsvc(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {BinDir + "/snmpsvc"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testproc::Run(argv, Env(), std::chrono::seconds(40));
}

testproc::Result TestRoot::Client(const std::string &tool, const std::vector<std::string> &options,
                                  const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"/usr/bin/" + tool, "-On", "-t", "2", "-r", "2"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(address());
    argv.insert(argv.end(), args.begin(), args.end());
    return testproc::Run(argv, Env(), std::chrono::seconds(60));
}

bool TestRoot::ForceStop() {
    if (folder_.empty()) {
        return false;
    }
    const svcstate::ServiceFiles files = svcstate::FilesOf(root_, "SNMP");
    if (svcstate::QueryService(files).state == svcstate::State::Stopped) {
        return false;
    }
    Net({"STOP", "SNMP"});
    const svcstate::Status left = svcstate::QueryService(files);
    if (left.state == svcstate::State::Stopped) {
        return false;
    }
    kill(left.pid, SIGKILL);
    testproc::Eventually(
        [&] { return svcstate::QueryService(files).state == svcstate::State::Stopped; },
        std::chrono::seconds(5));
    return true;
}

std::string TestRoot::Log() const { return ReadFile(root_ + "/run/SNMP.log"); }

}  // namespace servicetest

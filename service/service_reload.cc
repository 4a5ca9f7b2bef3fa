// Reloading by executing the program again; see service_reload.h.
#include "service_reload.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "agent_list.h"
#include "nt/ntroot.h"
#include "snmp_engine.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace snmpsvc {

namespace {

constexpr char LockVariable[] = "SNMPSVC_LOCK_FD";

std::vector<std::string> g_arguments;

// Marks every descriptor from 3 up close-on-exec.
void CloseOnExecFromThree() {
    DIR *fds = opendir("/proc/self/fd");
    if (fds == nullptr) {
        for (int fd = 3; fd < 1024; ++fd) {
            const int flags = fcntl(fd, F_GETFD);
            if (flags >= 0) {
                fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
            }
        }
        return;
    }
    const int own = dirfd(fds);
    for (struct dirent *entry = readdir(fds); entry != nullptr; entry = readdir(fds)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd < 3 || fd == own) {
            continue;
        }
        const int flags = fcntl(static_cast<int>(fd), F_GETFD);
        if (flags >= 0) {
            fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
        }
    }
    closedir(fds);
}

// The address a start with options would listen on: --listen, else the
// configuration's agentaddress lines, else the default.
std::string ListenAddressOf(const RunOptions &options, const std::string &configFile) {
    if (!options.listen.empty()) {
        return options.listen;
    }
    std::string addresses;
    std::ifstream lines(configFile);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string token;
        std::string value;
        words >> token >> value;
        if (strcasecmp(token.c_str(), "agentaddress") == 0 && !value.empty()) {
            addresses += (addresses.empty() ? "" : ",") + value;
        }
    }
    return addresses.empty() ? DefaultListenAddress : addresses;
}

// Whether each address of a list can be opened now (one that this process
// listens on already is not tried again).
bool CanListenOn(const std::string &addresses, std::string *error) {
    if (addresses == ListenAddress()) {
        return true;
    }
    std::istringstream list(addresses);
    for (std::string address; std::getline(list, address, ',');) {
        netsnmp_transport *transport = netsnmp_transport_open_server("snmp", address.c_str());
        if (transport == nullptr) {
            *error = "cannot listen on " + address + " (in use, not this machine's, or not valid)";
            return false;
        }
        if (transport->f_close != nullptr) {
            transport->f_close(transport);
        }
        netsnmp_transport_free(transport);
    }
    return true;
}

}  // namespace

void RememberArguments(int argc, char **argv) { g_arguments.assign(argv, argv + argc); }

bool CheckConfigFile(const std::string &configFile, std::string *error) {
    const int fd = open(configFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;  // no file: the defaults
        }
        *error = "cannot read " + configFile + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    if (!regular) {
        *error = "cannot read " + configFile + ": not a regular file";
        return false;
    }
    bool subagent = false;
    if (!ConfiguredSubagent(configFile, &subagent, error)) {
        return false;
    }
    // At a start the library only warns about a bad value here and goes on
    // with the communities answered; a reload with one is refused, as the
    // switch decides who may read without a user.
    std::ifstream lines(configFile);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::istringstream words(line);
        std::string token;
        std::string value;
        std::string extra;
        words >> token >> value >> extra;
        if (strcasecmp(token.c_str(), "snmpsvcCommunity") == 0 &&
            ((value != "on" && value != "off") || !extra.empty())) {
            *error = configFile + " line " + std::to_string(number) +
                     ": snmpsvcCommunity must be \"on\" or \"off\"";
            return false;
        }
    }
    return true;
}

bool CheckReload(const RunOptions &options, std::string *error) {
    const std::string configFile = options.root + "/snmp/snmpsvc.conf";
    bool subagent = options.agentx;
    if (!nt::CheckRoot(options.root, true, error) || !CheckConfigFile(configFile, error) ||
        (!subagent && !ConfiguredSubagent(configFile, &subagent, error))) {
        return false;
    }
    // A new address that cannot be opened would end the service after the
    // exec: tried here first.
    if (!subagent && !CanListenOn(ListenAddressOf(options, configFile), error)) {
        return false;
    }
    std::vector<AgentEntry> entries;
    std::vector<std::string> problems;
    const LONG listed = ReadAgentList(&entries, &problems, error);
    return listed == ERROR_SUCCESS || listed == ERROR_FILE_NOT_FOUND;
}

int TakeInheritedLock() {
    const char *text = std::getenv(LockVariable);
    if (text == nullptr) {
        return -1;
    }
    char *end = nullptr;
    const long fd = std::strtol(text, &end, 10);
    const bool valid = end != text && *end == '\0' && fd >= 3 && fd <= INT_MAX;
    unsetenv(LockVariable);
    return valid ? static_cast<int>(fd) : -1;
}

void ExecAgain(int lockFd, std::string *error) {
    if (g_arguments.empty()) {
        *error = "the command line to start again is not known";
        return;
    }
    std::vector<char *> argv;
    for (std::string &argument : g_arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    CloseOnExecFromThree();
    const int flags = fcntl(lockFd, F_GETFD);
    if (flags < 0 || fcntl(lockFd, F_SETFD, flags & ~FD_CLOEXEC) != 0) {
        *error = std::string("cannot keep the lock across the reload: ") + std::strerror(errno);
        return;
    }
    setenv(LockVariable, std::to_string(lockFd).c_str(), 1);
    execv("/proc/self/exe", argv.data());
    *error = std::string("cannot execute /proc/self/exe: ") + std::strerror(errno);
    unsetenv(LockVariable);
}

}  // namespace snmpsvc

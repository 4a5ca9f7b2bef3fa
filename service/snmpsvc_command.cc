// The snmpsvc command line; see snmpsvc_command.h.
#include "snmpsvc_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "nt/ntroot.h"
#include "service_install.h"
#include "service_reload.h"
#include "service_run.h"
#include "service_users.h"
#include "snmp_engine.h"

namespace snmpsvc {

namespace {

const char Usage[] =
    "Usage: snmpsvc [--root DIR] install\n"
    "       snmpsvc [--root DIR] run [--listen ADDRESS | --agentx[=SOCKET]] [--syslog]\n"
    "       snmpsvc [--root DIR] user add NAME --auth-pass PASS --priv-pass PASS\n"
    "                            [--auth-proto PROTO] [--priv-proto PROTO]\n"
    "\n"
    "The SNMP service: serves the SNMP extension agents registered in an NT root.\n"
    "\n"
    "Commands:\n"
    "  install           register the service in the root: its service key with\n"
    "                    the program to start, SOFTWARE\\Microsoft\\SNMP, the empty\n"
    "                    agent list, NET in the system directory, and our MIB\n"
    "                    modules in ROOT/mibs (for snmptable -M +ROOT/mibs)\n"
    "  run               run the service in the foreground until SIGTERM or\n"
    "                    SIGINT (NET START SNMP runs it in the background);\n"
    "                    SIGHUP reloads the configuration, the registry and\n"
    "                    the agents, keeping the pid (a configuration that\n"
    "                    does not load leaves it serving as before)\n"
    "  user add NAME     add an SNMPv3 user with read access, authentication and\n"
    "                    privacy (authPriv), to ROOT/snmp/snmpsvc.conf (mode\n"
    "                    0600); the service uses it from its next start\n"
    "\n"
    "Options:\n"
    "  --root DIR        the NT root (default: $NTROOT, else ~/.ntroot)\n"
    "  --listen ADDRESS  run: the address to serve, e.g. udp:127.0.0.1:1161\n"
    "                    (default: agentaddress in ROOT/snmp/snmpsvc.conf, else\n"
    "                    udp:127.0.0.1:1161)\n"
    "  --agentx[=SOCKET] run: serve as an AgentX subagent of the system's snmpd\n"
    "                    through its AgentX socket (default: agentxSocket in\n"
    "                    ROOT/snmp/snmpsvc.conf, else /var/agentx/master); the\n"
    "                    configuration's \"agentxRole subagent\" does the same\n"
    "  --syslog          run: log to the system log instead of standard error\n"
    "  --auth-proto P    user add: SHA, SHA-224, SHA-256 (default), SHA-384 or\n"
    "                    SHA-512\n"
    "  --auth-pass PASS  user add: the authentication pass phrase (8 or more\n"
    "                    characters)\n"
    "  --priv-proto P    user add: AES (128-bit, default), AES-192 or AES-256\n"
    "  --priv-pass PASS  user add: the privacy pass phrase (8 or more characters)\n"
    "  -h, --help        show this help\n"
    "\n"
    "The service answers SNMPv1 and SNMPv2c for the community \"public\" from\n"
    "the loopback addresses; ROOT/snmp/snmpsvc.conf may add Net-SNMP agent\n"
    "settings (rwcommunity, rouser, createUser, agentaddress). The line\n"
    "\"snmpsvcCommunity off\" there switches SNMPv1 and SNMPv2c off: only SNMPv3\n"
    "users are answered then. Exit status: 0 done, 1 failed (one line says\n"
    "why), 2 a wrong command line.\n";

int UsageError(const std::string &text) {
    std::fprintf(stderr, "snmpsvc: %s\nTry 'snmpsvc --help' for more information.\n",
                 text.c_str());
    return 2;
}

std::string Absolute(const std::string &path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return path;
    }
    return std::string(cwd) + "/" + path;
}

}  // namespace

int Main(int argc, char **argv) {
    RememberArguments(argc, argv);  // a reload starts the program again with them
    std::string command;
    std::vector<std::string> operands;  // after the command
    std::string root;
    UserSpec user;
    bool userOptionGiven = false;
    RunOptions run;
    bool listenGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto takeValue = [&](const char *option, std::string *value) -> bool {
            const std::string prefix = std::string(option) + "=";
            if (arg.compare(0, prefix.size(), prefix) == 0) {
                *value = arg.substr(prefix.size());
                return true;
            }
            if (arg == option && i + 1 < argc) {
                *value = argv[++i];
                return true;
            }
            return false;
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (takeValue("--root", &root)) {
            if (root.empty()) {
                return UsageError("--root needs a folder");
            }
        } else if (takeValue("--listen", &run.listen)) {
            if (run.listen.empty()) {
                return UsageError("--listen needs an address");
            }
            listenGiven = true;
        } else if (arg == "--agentx" || arg.compare(0, 9, "--agentx=") == 0) {
            run.agentx = true;
            if (arg != "--agentx") {
                run.agentxSocket = arg.substr(9);
                if (run.agentxSocket.empty()) {
                    return UsageError("--agentx= needs a socket path");
                }
            }
        } else if (takeValue("--auth-proto", &user.authProtocol) ||
                   takeValue("--auth-pass", &user.authPass) ||
                   takeValue("--priv-proto", &user.privProtocol) ||
                   takeValue("--priv-pass", &user.privPass)) {
            userOptionGiven = true;
        } else if (arg == "--syslog") {
            run.syslog = true;
        } else if (arg == "--root" || arg == "--listen" || arg == "--auth-proto" ||
                   arg == "--auth-pass" || arg == "--priv-proto" || arg == "--priv-pass") {
            return UsageError(arg + " needs a value");
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (command.empty()) {
            command = arg;
        } else if (command == "user") {
            operands.push_back(arg);
        } else {
            return UsageError("unexpected argument " + arg);
        }
    }
    if (command.empty()) {
        return UsageError("no command given (install, run or user)");
    }
    if (!root.empty()) {
        setenv("NTROOT", Absolute(root).c_str(), 1);
    }
    run.root = nt::RootPath();

    if (command != "user" && userOptionGiven) {
        return UsageError(
            "--auth-proto, --auth-pass, --priv-proto and --priv-pass belong to user add");
    }
    if (command == "user") {
        if (listenGiven || run.syslog || run.agentx) {
            return UsageError("--listen, --agentx and --syslog belong to run");
        }
        if (operands.empty() || operands[0] != "add") {
            return UsageError("user needs a subcommand: user add NAME");
        }
        if (operands.size() != 2) {
            return UsageError(operands.size() < 2 ? "user add needs a user name"
                                                  : "unexpected argument " + operands[2]);
        }
        if (user.authPass.empty() || user.privPass.empty()) {
            return UsageError("user add needs --auth-pass and --priv-pass");
        }
        user.name = operands[1];
        std::string error;
        if (!CheckUser(&user, &error)) {
            return UsageError(error);
        }
        const std::string folder = run.root + "/snmp";
        struct stat info;
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            std::fprintf(stderr,
                         "snmpsvc: %s has no folder snmp (install the service first: snmpsvc "
                         "install)\n",
                         run.root.c_str());
            return 1;
        }
        if (!AddUser(folder + "/snmpsvc.conf", user, &error)) {
            std::fprintf(stderr, "snmpsvc: %s\n", error.c_str());
            return 1;
        }
        std::printf("The SNMPv3 user %s (%s, %s, authPriv) is added to %s/snmpsvc.conf.\n"
                    "Restart the SNMP service to use it: NET STOP SNMP, then NET START SNMP.\n",
                    user.name.c_str(), user.authProtocol.c_str(), user.privProtocol.c_str(),
                    folder.c_str());
        return 0;
    }
    if (command == "install") {
        if (listenGiven || run.syslog || run.agentx) {
            return UsageError("--listen, --agentx and --syslog belong to run");
        }
        InstallResult result;
        std::string error;
        if (!InstallService(run.root, ProgramPath(), &result, &error)) {
            std::fprintf(stderr, "snmpsvc: %s\n", error.c_str());
            return 1;
        }
        std::printf(result.changed ? "The SNMP service is installed in %s.\n"
                                   : "The SNMP service was installed in %s already.\n",
                    run.root.c_str());
        return 0;
    }
    if (command == "run") {
        if (listenGiven && run.agentx) {
            return UsageError("--listen and --agentx exclude each other");
        }
        return RunService(run);
    }
    return UsageError("unknown command " + command);
}

}  // namespace snmpsvc

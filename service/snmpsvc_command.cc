// The snmpsvc command line; see snmpsvc_command.h.
#include "snmpsvc_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "nt/ntroot.h"
#include "service_install.h"
#include "service_run.h"
#include "snmp_engine.h"

namespace snmpsvc {

namespace {

const char Usage[] =
    "Usage: snmpsvc [--root DIR] install\n"
    "       snmpsvc [--root DIR] run [--listen ADDRESS] [--syslog]\n"
    "\n"
    "The SNMP service: serves the SNMP extension agents registered in an NT root.\n"
    "\n"
    "Commands:\n"
    "  install           register the service in the root: its service key with\n"
    "                    the program to start, SOFTWARE\\Microsoft\\SNMP, the empty\n"
    "                    agent list, and NET in the system directory\n"
    "  run               run the service in the foreground until SIGTERM or\n"
    "                    SIGINT (NET START SNMP runs it in the background)\n"
    "\n"
    "Options:\n"
    "  --root DIR        the NT root (default: $NTROOT, else ~/.ntroot)\n"
    "  --listen ADDRESS  run: the address to serve, e.g. udp:127.0.0.1:1161\n"
    "                    (default: agentaddress in ROOT/snmp/snmpsvc.conf, else\n"
    "                    udp:127.0.0.1:1161)\n"
    "  --syslog          run: log to the system log instead of standard error\n"
    "  -h, --help        show this help\n"
    "\n"
    "The service answers SNMPv1 and SNMPv2c for the community \"public\" from\n"
    "the loopback addresses; ROOT/snmp/snmpsvc.conf may add Net-SNMP agent\n"
    "settings (rwcommunity, rouser, createUser, agentaddress). Exit status: 0\n"
    "done, 1 failed (one line says why), 2 a wrong command line.\n";

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
    std::string command;
    std::string root;
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
        } else if (arg == "--syslog") {
            run.syslog = true;
        } else if (arg == "--root" || arg == "--listen") {
            return UsageError(arg + " needs a value");
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (command.empty()) {
            command = arg;
        } else {
            return UsageError("unexpected argument " + arg);
        }
    }
    if (command.empty()) {
        return UsageError("no command given (install or run)");
    }
    if (!root.empty()) {
        setenv("NTROOT", Absolute(root).c_str(), 1);
    }
    run.root = nt::RootPath();

    if (command == "install") {
        if (listenGiven || run.syslog) {
            return UsageError("--listen and --syslog belong to run");
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
        return RunService(run);
    }
    return UsageError("unknown command " + command);
}

}  // namespace snmpsvc

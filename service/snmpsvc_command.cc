// The snmpsvc command line; see snmpsvc_command.h.
#include "snmpsvc_command.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "command_line.h"
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
    "       snmpsvc [--root DIR] user add NAME [--auth-proto PROTO] [--priv-proto PROTO]\n"
    "                            [--auth-pass-file FILE] [--priv-pass-file FILE]\n"
    "       snmpsvc [--root DIR] user list\n"
    "       snmpsvc [--root DIR] user del NAME\n"
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
    "                    0600): its keys localised to the service's engine ID,\n"
    "                    never the pass phrases; the service uses it from its\n"
    "                    next start. The pass phrases are asked on the terminal\n"
    "                    (not shown) unless --auth-pass-file and --priv-pass-file\n"
    "                    give them\n"
    "  user list         list the SNMPv3 users: name, protocols, access\n"
    "  user del NAME     delete an SNMPv3 user; the service drops it at its\n"
    "                    next start\n"
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
    "  --priv-proto P    user add: AES (128-bit, default), AES-192 or AES-256\n"
    "  --auth-pass-file FILE\n"
    "                    user add: read the authentication pass phrase (8 to 255\n"
    "                    characters) from the first line of FILE; - is standard\n"
    "                    input\n"
    "  --priv-pass-file FILE\n"
    "                    user add: the privacy pass phrase, likewise; when both\n"
    "                    are -, standard input's first line is the authentication\n"
    "                    pass phrase and its second the privacy one\n"
    "  --auth-pass PASS, --priv-pass PASS\n"
    "                    user add: the pass phrases on the command line, where\n"
    "                    every user of ps sees them (still taken, with a warning)\n"
    "  -h, --help        show this help\n"
    "\n"
    "The service answers SNMPv1 and SNMPv2c for the community \"public\" from\n"
    "the loopback addresses; ROOT/snmp/snmpsvc.conf may add Net-SNMP agent\n"
    "settings (rwcommunity, rouser, createUser, agentaddress). The line\n"
    "\"snmpsvcCommunity off\" there switches SNMPv1 and SNMPv2c off: only SNMPv3\n"
    "users are answered then. Exit status: 0 done, 1 failed (one line says\n"
    "why), 2 a wrong command line.\n";

int UsageError(const std::string &text) {
    std::fflush(stdout);
    return cli::UsageError(std::cerr, "snmpsvc", text);
}

// What `snmpsvc user ...` was given.
struct UserCommand {
    UserFiles files;
    std::string root;
    std::vector<std::string> operands;  // add NAME, list, del NAME
    UserSpec spec;
    bool optionGiven = false;
    bool passOnCommandLine = false;
    std::string authPassFile;
    std::string privPassFile;
};

void StripLineEnd(std::string *line) {
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) {
        line->pop_back();
    }
}

// The next line of standard input (shared by both pass phrases).
bool ReadStandardInputLine(std::string *line) {
    line->clear();
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        line->push_back(static_cast<char>(c));
    }
    StripLineEnd(line);
    return c != EOF || !line->empty();
}

// A pass phrase from the first line of path ("-": the next line of standard
// input). False with *error when there is none.
bool ReadPassFile(const std::string &path, const char *what, std::string *pass,
                  std::string *error) {
    if (path == "-") {
        if (!ReadStandardInputLine(pass)) {
            *error = std::string("standard input holds no ") + what + " pass phrase";
            return false;
        }
        return true;
    }
    std::FILE *file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    char *line = nullptr;
    size_t size = 0;
    const ssize_t got = getline(&line, &size, file);
    std::fclose(file);
    if (got <= 0) {
        std::free(line);
        *error = path + " holds no " + what + " pass phrase";
        return false;
    }
    pass->assign(line, static_cast<size_t>(got));
    std::memset(line, 0, size);
    std::free(line);
    StripLineEnd(pass);
    return true;
}

// Asks for a pass phrase twice on the terminal, without echo.
bool AskPass(const char *what, std::string *pass, std::string *error) {
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) {
        *error = std::string("no terminal to ask the ") + what +
                 " pass phrase on: give it with --" + (what[0] == 'a' ? "auth" : "priv") +
                 "-pass-file FILE (- for standard input)";
        return false;
    }
    struct termios saved;
    const bool terminal = tcgetattr(tty, &saved) == 0;
    auto ask = [&](const std::string &prompt, std::string *answer) {
        if (write(tty, prompt.data(), prompt.size()) < 0) {
            return false;
        }
        if (terminal) {
            struct termios quiet = saved;
            quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
            quiet.c_lflag |= ICANON;
            tcsetattr(tty, TCSAFLUSH, &quiet);
        }
        answer->clear();
        char c = 0;
        ssize_t got = 0;
        while ((got = read(tty, &c, 1)) == 1 && c != '\n') {
            answer->push_back(c);
        }
        if (terminal) {
            tcsetattr(tty, TCSAFLUSH, &saved);
        }
        (void)!write(tty, "\n", 1);
        StripLineEnd(answer);
        return got == 1;
    };
    const std::string name = std::string(1, static_cast<char>(std::toupper(what[0]))) + (what + 1);
    std::string again;
    bool ok = ask(name + " pass phrase: ", pass) && ask("The same again: ", &again);
    close(tty);
    if (!ok) {
        *error = std::string("no ") + what + " pass phrase given";
        return false;
    }
    if (*pass != again) {
        *error = std::string("the two ") + what + " pass phrases differ";
        return false;
    }
    return true;
}

int Failed(const std::string &error) {
    std::fflush(stdout);
    return cli::Failure(std::cerr, "snmpsvc", error);
}

int RunUserCommand(UserCommand &command) {
    const std::vector<std::string> &operands = command.operands;
    const std::string verb = operands.empty() ? "" : operands[0];
    if (verb != "add" && verb != "list" && verb != "del") {
        return UsageError(verb.empty() ? "user needs a subcommand: add, list or del"
                                       : "unknown user subcommand " + verb + " (add, list or del)");
    }
    const size_t wanted = verb == "list" ? 1 : 2;
    if (operands.size() < wanted) {
        return UsageError("user " + verb + " needs a user name");
    }
    if (operands.size() > wanted) {
        return UsageError("unexpected argument " + operands[wanted]);
    }
    if (verb != "add" && command.optionGiven) {
        return UsageError(
            "--auth-proto, --priv-proto and the pass phrase options belong to user add");
    }
    const std::string folder = command.root + "/snmp";
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return Failed(command.root +
                      " has no folder snmp (install the service first: snmpsvc install)");
    }
    std::string error;
    if (verb == "list") {
        std::vector<UserEntry> users;
        if (!ListUsers(command.files, &users, &error)) {
            return Failed(error);
        }
        if (users.empty()) {
            std::printf("No SNMPv3 user in %s.\n", command.files.config.c_str());
            return cli::kSuccess;
        }
        std::printf("%-20s %-8s %-8s %s\n", "NAME", "AUTH", "PRIV", "ACCESS");
        for (const UserEntry &user : users) {
            std::printf("%-20s %-8s %-8s %s%s%s\n", user.name.c_str(), user.authProtocol.c_str(),
                        user.privProtocol.c_str(), user.access.c_str(),
                        user.note.empty() ? "" : "  -- ", user.note.c_str());
        }
        return cli::kSuccess;
    }
    if (verb == "del") {
        if (!DeleteUser(command.files, operands[1], &error)) {
            return Failed(error);
        }
        std::printf(
            "The SNMPv3 user %s is deleted from %s.\n"
            "Restart the SNMP service to drop it: NET STOP SNMP, then NET START SNMP.\n",
            operands[1].c_str(), command.files.config.c_str());
        return cli::kSuccess;
    }
    UserSpec &user = command.spec;
    user.name = operands[1];
    if (command.passOnCommandLine) {
        std::fprintf(stderr,
                     "snmpsvc: warning: a pass phrase on the command line is seen by every user "
                     "of ps; use --auth-pass-file and --priv-pass-file, or the prompt\n");
    }
    // Check the name and protocols before asking for anything.
    {
        UserSpec probe = user;
        probe.authPass = probe.privPass = std::string(8, 'x');
        if (!CheckUser(&probe, &error)) {
            return UsageError(error);
        }
    }
    if (user.authPass.empty()) {
        const bool read =
            command.authPassFile.empty()
                ? AskPass("authentication", &user.authPass, &error)
                : ReadPassFile(command.authPassFile, "authentication", &user.authPass, &error);
        if (!read) {
            return Failed(error);
        }
    }
    if (user.privPass.empty()) {
        const bool read =
            command.privPassFile.empty()
                ? AskPass("privacy", &user.privPass, &error)
                : ReadPassFile(command.privPassFile, "privacy", &user.privPass, &error);
        if (!read) {
            return Failed(error);
        }
    }
    if (!CheckUser(&user, &error)) {
        return UsageError(error);
    }
    if (!AddUser(command.files, user, &error)) {
        return Failed(error);
    }
    std::printf(
        "The SNMPv3 user %s (%s, %s, authPriv) is added to %s.\n"
        "Restart the SNMP service to use it: NET STOP SNMP, then NET START SNMP.\n",
        user.name.c_str(), user.authProtocol.c_str(), user.privProtocol.c_str(),
        command.files.config.c_str());
    return cli::kSuccess;
}

}  // namespace

int Main(int argc, char **argv) {
    RememberArguments(argc, argv);  // a reload starts the program again with them
    const cli::Args args(argv + 1, argv + argc);
    std::string command;
    std::vector<std::string> operands;  // after the command
    UserSpec user;
    bool userOptionGiven = false;
    bool passOnCommandLine = false;
    std::string authPassFile;
    std::string privPassFile;
    RunOptions run;
    bool listenGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string arg = args[i];
        auto takeValue = [&](const char *option, std::string *value) -> bool {
            const std::string prefix = std::string(option) + "=";
            if (arg.compare(0, prefix.size(), prefix) == 0) {
                *value = arg.substr(prefix.size());
                return true;
            }
            if (arg == option && i + 1 < args.size()) {
                *value = args[++i];
                return true;
            }
            return false;
        };
        if (cli::IsHelp(arg)) {
            std::fputs(Usage, stdout);
            return cli::kSuccess;
        }
        std::string rootError;
        size_t next = i;
        switch (cli::TakeRootOption(args, &next, &rootError)) {
            case cli::RootOption::Malformed: return UsageError(rootError);
            case cli::RootOption::Taken: i = next - 1; continue;
            case cli::RootOption::NotThere: break;
        }
        if (takeValue("--listen", &run.listen)) {
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
                   takeValue("--priv-proto", &user.privProtocol) ||
                   takeValue("--auth-pass-file", &authPassFile) ||
                   takeValue("--priv-pass-file", &privPassFile)) {
            userOptionGiven = true;
        } else if (takeValue("--auth-pass", &user.authPass) ||
                   takeValue("--priv-pass", &user.privPass)) {
            userOptionGiven = true;
            passOnCommandLine = true;
        } else if (arg == "--syslog") {
            run.syslog = true;
        } else if (arg == "--listen" || arg == "--auth-proto" || arg == "--auth-pass" ||
                   arg == "--priv-proto" || arg == "--priv-pass" || arg == "--auth-pass-file" ||
                   arg == "--priv-pass-file") {
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
    run.root = cli::RootFolder();

    const bool runOptionGiven = listenGiven || run.syslog || run.agentx;
    const std::vector<cli::Verb> verbs = {
        {"user",
         [&](const cli::Args &) {
             if (runOptionGiven) {
                 return UsageError("--listen, --agentx and --syslog belong to run");
             }
             UserCommand users;
             users.files = UserFilesOf(run.root);
             users.root = run.root;
             users.operands = operands;
             users.spec = user;
             users.optionGiven = userOptionGiven;
             users.passOnCommandLine = passOnCommandLine;
             users.authPassFile = authPassFile;
             users.privPassFile = privPassFile;
             return RunUserCommand(users);
         }},
        {"install",
         [&](const cli::Args &) {
             if (runOptionGiven) {
                 return UsageError("--listen, --agentx and --syslog belong to run");
             }
             InstallResult result;
             std::string error;
             if (!InstallService(run.root, ProgramPath(), &result, &error)) {
                 return Failed(error);
             }
             std::printf(result.changed ? "The SNMP service is installed in %s.\n"
                                        : "The SNMP service was installed in %s already.\n",
                         run.root.c_str());
             return cli::kSuccess;
         }},
        {"run",
         [&](const cli::Args &) {
             if (listenGiven && run.agentx) {
                 return UsageError("--listen and --agentx exclude each other");
             }
             return RunService(run);
         }},
    };
    const cli::Verb *verb = cli::FindVerb(verbs, command);
    if (verb == nullptr) {
        return UsageError("unknown command " + command);
    }
    if (command != "user" && userOptionGiven) {
        return UsageError(
            "--auth-proto, --priv-proto and the pass phrase options belong to user add");
    }
    return verb->run(operands);
}

}  // namespace snmpsvc

// NET START / NET STOP; see net_command.h.
#include "net_command.h"

#include <cerrno>
#include <climits>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iostream>
#include <fcntl.h>
#include <sys/file.h>
#include <linux/close_range.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "nt/error_text.h"
#include "nt/ntroot.h"
#include "processes.h"
#include "registry_access.h"
#include "service_log.h"
#include "service_state.h"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;
using snmpsvc::RegKey;

constexpr int ExitOk = 0;
constexpr int ExitSyntax = 1;
constexpr int ExitFailed = 2;

// Setup waits at most 30 seconds for NET; NET's own waits stay well inside.
constexpr std::chrono::seconds StartTimeout(15);
constexpr std::chrono::seconds StopTimeout(15);
constexpr std::chrono::milliseconds PollInterval(20);
// How long a service that missed its start gets to end after SIGTERM.
constexpr std::chrono::seconds AbandonTimeout(3);

constexpr char ServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

const char Syntax[] =
    "The syntax of this command is:\n"
    "\n"
    "NET\n"
    "    [ HELP | HELPMSG | START | STOP ]\n"
    "\n";

const char Help[] =
    "Usage: NET [--root DIR] START [service]\n"
    "       NET [--root DIR] STOP service\n"
    "       NET HELPMSG number\n"
    "\n"
    "Service control in the manner of Windows NT's NET command, over the NT root\n"
    "(--root DIR, else $NTROOT, else ~/.ntroot).\n"
    "\n"
    "  START service   start the service named by the registry key\n"
    "                  HKLM\\SYSTEM\\CurrentControlSet\\Services\\service (or its\n"
    "                  DisplayName; any case) in the background, and return once\n"
    "                  it serves; its log goes to ROOT/run/service.log\n"
    "  START           list the services that run\n"
    "  STOP service    stop the service and return once it has ended\n"
    "  HELPMSG number  explain a message number\n"
    "\n"
    "  --root DIR      the NT root to act on\n"
    "  --help          this text\n"
    "\n"
    "Exit status: NT's NET's own, which scripts written for NT test, and so\n"
    "not the other tools' order: 0 done, 2 failed (for example \"The requested\n"
    "service has already been started.\"), 1 a wrong command line.\n";

struct HelpMessage {
    int number;
    const char *text;
};

const HelpMessage HelpMessages[] = {
    {2182, "The requested service has already been started."},
    {2184, "The service has not been started."},
    {2185, "The service name is invalid."},
    {2186, "The service is not responding to the control function."},
    {2189, "The service cannot be controlled in its present state."},
    {3521, "The *** service is not started."},
    {3534, "The *** service did not report an error."},
    {3547, "A service specific error occurred: ***."},
};

struct Service {
    std::string key;        // as the registry spells it: names the files in run/
    std::string display;    // what the messages call it
    std::string imagePath;  // the command line that runs it
};

void Out(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// A failure with its message number, as NT's NET prints it.
int Failure(const std::string &message, int helpNumber) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n\nMore help is available by typing NET HELPMSG %d.\n\n",
                 message.c_str(), helpNumber);
    return ExitFailed;
}

// A Win32 error, as NT's NET prints one: the system's words for it, and
// any detail after them.
int SystemError(DWORD code, const std::string &detail = "") {
    std::fflush(stdout);
    std::fprintf(stderr, "System error %u has occurred.\n\n%s%s\n\n", code,
                 nt::SystemMessage(code).c_str(), detail.c_str());
    return ExitFailed;
}

// errno from starting or stopping a program, as the Win32 error NT's NET
// would report, in the system's words.
int SystemErrorFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return SystemError(ERROR_FILE_NOT_FOUND);
        case EACCES:
        case EPERM: return SystemError(ERROR_ACCESS_DENIED);
        case ENOEXEC: return SystemError(ERROR_BAD_EXE_FORMAT);
        case ENOMEM: return SystemError(ERROR_NOT_ENOUGH_MEMORY);
        default:
            return SystemError(ERROR_GEN_FAILURE, std::string(" (") + std::strerror(err) + ")");
    }
}

int SyntaxError(const char *verbSyntax) {
    std::fflush(stdout);
    std::fputs(verbSyntax != nullptr ? verbSyntax : Syntax, stderr);
    return ExitSyntax;
}

int OneLineError(const std::string &text) {
    std::fflush(stdout);
    std::fprintf(stderr, "NET: %s\n", text.c_str());
    return ExitFailed;
}

void Sleep() { std::this_thread::sleep_for(PollInterval); }

bool SameName(const std::string &a, const std::string &b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A service that runs, found by its lock in run/ (any case) when the
// registry cannot name it: deleted or damaged under the running service.
bool FindRunningService(const std::string &root, const std::string &name, Service *service) {
    const std::string folder = root + "/run";
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    const std::string suffix = ".lock";
    while (const struct dirent *item = readdir(dir)) {
        const std::string entry = item->d_name;
        if (entry.size() <= suffix.size() ||
            entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string key = entry.substr(0, entry.size() - suffix.size());
        if (SameName(key, name) && svcstate::QueryService(svcstate::FilesOf(root, key)).state !=
                                       svcstate::State::Stopped) {
            service->key = key;
            service->display = key;
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Holds the service's control lock (a flock on run/) while one NET starts
// or stops it, so that NETs that race act one after another: one starts
// the service and the others find it started. Waits as long as a start
// can take; false with *error when run/ cannot be opened, or with
// *timedOut when another NET held it all along.
class ControlLock {
public:
    bool Take(const svcstate::ServiceFiles &files, std::string *error, bool *timedOut) {
        *timedOut = false;
        fd_ = svcstate::OpenRunFolder(files, true, error);
        if (fd_ < 0) {
            return false;
        }
        const Clock::time_point deadline =
            Clock::now() + StartTimeout + AbandonTimeout + std::chrono::seconds(5);
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= deadline) {
                *timedOut = errno == EWOULDBLOCK;
                *error = files.folder + ": " + std::strerror(errno);
                return false;
            }
            Sleep();
        }
        return true;
    }
    int folder() const { return fd_; }
    ~ControlLock() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

private:
    int fd_ = -1;
};

// Every service key. False with *error when the registry cannot be read;
// no Services key is an empty list.
bool ListServices(std::vector<Service> *services, std::string *error) {
    RegKey all;
    LONG rc = all.Open(ServicesKey, KEY_READ);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (rc != ERROR_SUCCESS) {
        *error = "cannot read the registry: " + nt::ErrorText(rc);
        return false;
    }
    for (DWORD index = 0; index < 100000; ++index) {
        char name[256];
        DWORD size = sizeof name;
        rc = RegEnumKeyExA(all.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return true;
        }
        if (rc == ERROR_MORE_DATA) {
            continue;  // longer than any service name NT allows
        }
        if (rc != ERROR_SUCCESS) {
            *error = "cannot read the registry: " + nt::ErrorText(rc);
            return false;
        }
        Service service;
        service.key.assign(name, size);
        service.display = service.key;
        RegKey key;
        if (key.Open(std::string(ServicesKey) + "\\" + service.key, KEY_READ) == ERROR_SUCCESS) {
            std::string display;
            if (snmpsvc::ReadString(key.get(), "DisplayName", true, &display) == ERROR_SUCCESS &&
                !display.empty()) {
                service.display = display;
            }
            snmpsvc::ReadString(key.get(), "ImagePath", true, &service.imagePath);
        }
        services->push_back(std::move(service));
    }
    return true;
}

enum class Found { Yes, No, Error };

Found FindService(const std::string &name, Service *service, std::string *error) {
    std::vector<Service> services;
    if (!ListServices(&services, error)) {
        return Found::Error;
    }
    for (const Service &candidate : services) {
        if (SameName(candidate.key, name)) {
            *service = candidate;
            return Found::Yes;
        }
    }
    for (const Service &candidate : services) {
        if (SameName(candidate.display, name)) {
            *service = candidate;
            return Found::Yes;
        }
    }
    return Found::No;
}

// The last line the service wrote to its log after offset `from`.
std::string LastLoggedLine(int folder, const svcstate::ServiceFiles &files, off_t from) {
    const int fd = svcstate::OpenRegularAt(folder, files.name + ".log", O_RDONLY, 0);
    if (fd < 0) {
        return "";
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    // Only the tail matters; a service logs its reason last.
    constexpr off_t Tail = 16384;
    const off_t start = end - from > Tail ? end - Tail : from;
    std::string text;
    if (end > start) {
        text.resize(static_cast<size_t>(end - start));
        const ssize_t got = pread(fd, &text[0], text.size(), start);
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    close(fd);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    const size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

// Marks every descriptor from 3 up close-on-exec.
void CloseInheritedDescriptors() {
    if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    const long max = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

// Starts argv detached, its output appended to logFd. The child's pid, or
// -1 with *err set to why the program could not be run.
pid_t Launch(const std::vector<std::string> &words, const std::string &folder, int logFd,
             int *err) {
    std::vector<char *> argv;
    for (const std::string &word : words) {
        argv.push_back(const_cast<char *>(word.c_str()));
    }
    argv.push_back(nullptr);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int report[2];
    if (devNull < 0 || pipe2(report, O_CLOEXEC) != 0) {
        *err = errno;
        if (devNull >= 0) {
            close(devNull);
        }
        return -1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        *err = errno;
        close(devNull);
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (pid == 0) {
        // The child: a session of its own, no terminal, default signals.
        setsid();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        dup2(devNull, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        CloseInheritedDescriptors();
        if (chdir(folder.c_str()) != 0) {
            const int failure = errno;
            ssize_t ignored = write(report[1], &failure, sizeof failure);
            (void)ignored;
            _exit(127);
        }
        execv(argv[0], argv.data());
        const int failure = errno;
        ssize_t ignored = write(report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    close(devNull);
    close(report[1]);
    int failure = 0;
    ssize_t got;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        waitpid(pid, nullptr, 0);
        *err = failure;
        return -1;
    }
    return pid;
}

// Ends a child that missed its start: SIGTERM, then SIGKILL.
void Abandon(pid_t pid) {
    kill(pid, SIGTERM);
    const Clock::time_point deadline = Clock::now() + AbandonTimeout;
    while (Clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        Sleep();
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int StartService(const std::string &root, const Service &service) {
    const svcstate::ServiceFiles files = svcstate::FilesOf(root, service.key);
    ControlLock control;
    std::string error;
    bool busy = false;
    if (!control.Take(files, &error, &busy)) {
        if (busy && svcstate::QueryService(files).state != svcstate::State::Stopped) {
            return Failure("The requested service has already been started.", 2182);
        }
        return busy ? Failure("The service is not responding to the control function.", 2186)
                    : OneLineError(error);
    }
    if (svcstate::QueryService(files).state != svcstate::State::Stopped) {
        return Failure("The requested service has already been started.", 2182);
    }
    // The image path splits as NT's service control manager splits it.
    std::vector<std::string> words = nt::SplitCommandLine(service.imagePath);
    if (words.empty()) {
        return SystemError(ERROR_FILE_NOT_FOUND);
    }
    if (access(words[0].c_str(), X_OK) != 0) {
        return SystemErrorFromErrno(errno);
    }
    // The service runs in the root folder, so its program is named whole.
    char program[PATH_MAX];
    if (realpath(words[0].c_str(), program) != nullptr) {
        words[0] = program;
    }
    const int logFd = svcstate::OpenServiceLog(control.folder(), files, &error);
    if (logFd < 0) {
        return OneLineError("cannot open the service log " + error);
    }
    const off_t logStart = lseek(logFd, 0, SEEK_END);

    Out("The " + service.display + " service is starting.\n");
    // The service finds the root through the environment.
    setenv("NTROOT", root.c_str(), 1);
    int err = 0;
    const pid_t pid = Launch(words, root, logFd, &err);
    close(logFd);
    if (pid < 0) {
        return SystemErrorFromErrno(err);
    }

    const Clock::time_point deadline = Clock::now() + StartTimeout;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fflush(stdout);
            std::fprintf(stderr, "The %s service could not be started.\n\n",
                         service.display.c_str());
            const std::string reason = LastLoggedLine(control.folder(), files, logStart);
            if (!reason.empty()) {
                std::fprintf(stderr, "%s\n\n", reason.c_str());
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
                return Failure("A service specific error occurred: " +
                                   std::to_string(WEXITSTATUS(status)) + ".",
                               3547);
            }
            return Failure("The " + service.display + " service did not report an error.", 3534);
        }
        const svcstate::Status now = svcstate::QueryService(files);
        if (now.state == svcstate::State::Running && now.pid == pid) {
            Out("The " + service.display + " service was started successfully.\n\n");
            return ExitOk;
        }
        Sleep();
    }
    Abandon(pid);
    std::fflush(stdout);
    std::fprintf(stderr, "The %s service could not be started.\n\n", service.display.c_str());
    return Failure("The service is not responding to the control function.", 2186);
}

int StopService(const std::string &root, const Service &service) {
    const svcstate::ServiceFiles files = svcstate::FilesOf(root, service.key);
    ControlLock control;
    std::string error;
    bool busy = false;
    if (!control.Take(files, &error, &busy)) {
        return busy ? Failure("The service is not responding to the control function.", 2186)
                    : OneLineError(error);
    }
    const svcstate::Status status = svcstate::QueryService(files);
    if (status.state == svcstate::State::Stopped) {
        return Failure("The " + service.display + " service is not started.", 3521);
    }
    Out("The " + service.display + " service is stopping.\n");
    if (kill(status.pid, SIGTERM) != 0 && errno != ESRCH) {
        return SystemErrorFromErrno(errno);
    }
    const Clock::time_point deadline = Clock::now() + StopTimeout;
    while (Clock::now() < deadline) {
        if (svcstate::QueryService(files).state == svcstate::State::Stopped) {
            Out("The " + service.display + " service was stopped successfully.\n\n");
            return ExitOk;
        }
        Sleep();
    }
    std::fflush(stdout);
    std::fprintf(stderr, "The %s service could not be stopped.\n\n", service.display.c_str());
    return Failure("The service is not responding to the control function.", 2186);
}

int ListStarted(const std::string &root) {
    std::vector<Service> services;
    std::string error;
    if (!ListServices(&services, &error)) {
        return OneLineError(error);
    }
    Out("These Windows services are started:\n\n");
    for (const Service &service : services) {
        if (svcstate::QueryService(svcstate::FilesOf(root, service.key)).state ==
            svcstate::State::Running) {
            Out("   " + service.display + "\n");
        }
    }
    Out("\nThe command completed successfully.\n\n");
    return ExitOk;
}

int HelpMsg(const std::string &number) {
    char *end = nullptr;
    const long value = std::strtol(number.c_str(), &end, 10);
    if (!number.empty() && *end == '\0') {
        for (const HelpMessage &message : HelpMessages) {
            if (message.number == value) {
                Out(std::string("\n") + message.text + "\n\n");
                return ExitOk;
            }
        }
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s is not a valid Windows network message number.\n\n", number.c_str());
    return ExitFailed;
}

// NET START [service] or NET STOP service, the operands checked.
int Control(bool start, const cli::Args &operands) {
    const std::string root = cli::RootFolder();
    std::string error;
    // STOP needs no registry: a running service is found by its files in run/.
    if (!nt::CheckRoot(root, start, &error)) {
        return OneLineError(error);
    }
    if (operands.empty()) {
        return ListStarted(root);
    }
    Service service;
    switch (FindService(operands[0], &service, &error)) {
        case Found::Error:
            if (!start && FindRunningService(root, operands[0], &service)) {
                break;
            }
            return OneLineError(error);
        case Found::No:
            if (!start && FindRunningService(root, operands[0], &service)) {
                break;
            }
            return Failure("The service name is invalid.", 2185);
        case Found::Yes: break;
    }
    return start ? StartService(root, service) : StopService(root, service);
}

}  // namespace

int Main(int argc, char **argv) {
    const cli::Args all(argv + 1, argv + argc);
    cli::Args args;  // all but the root option
    for (size_t i = 0; i < all.size();) {
        std::string error;
        switch (cli::TakeRootOption(all, &i, &error)) {
            case cli::RootOption::Malformed:
                std::fflush(stdout);
                cli::UsageError(std::cerr, "NET", error);
                return ExitSyntax;
            case cli::RootOption::Taken: continue;
            case cli::RootOption::NotThere: break;
        }
        args.push_back(all[i++]);
    }
    for (const std::string &arg : args) {
        if (cli::IsHelp(arg)) {
            Out(Help);
            return ExitOk;
        }
    }
    for (const std::string &arg : args) {
        // NT's NET knows no "--" options; ours are --root and --help.
        if (arg.compare(0, 2, "--") == 0) {
            std::fflush(stdout);
            cli::UsageError(std::cerr, "NET", "unknown option " + arg);
            return ExitSyntax;
        }
    }
    if (args.empty()) {
        return SyntaxError(nullptr);
    }
    const cli::Args operands(args.begin() + 1, args.end());
    const std::vector<cli::Verb> verbs = {
        {"HELP",
         [](const cli::Args &) {
             Out(Help);
             return ExitOk;
         }},
        {"HELPMSG",
         [](const cli::Args &rest) {
             if (rest.size() != 1) {
                 return SyntaxError("The syntax of this command is:\n\nNET HELPMSG\nmessage#\n\n");
             }
             return HelpMsg(rest[0]);
         }},
        {"START",
         [](const cli::Args &rest) {
             if (rest.size() > 1) {
                 return SyntaxError("The syntax of this command is:\n\nNET START\n[service]\n\n");
             }
             return Control(true, rest);
         }},
        {"STOP",
         [](const cli::Args &rest) {
             if (rest.size() != 1) {
                 return SyntaxError("The syntax of this command is:\n\nNET STOP\nservice\n\n");
             }
             return Control(false, rest);
         }},
    };
    const cli::Verb *verb = cli::FindVerb(verbs, args[0], true);
    return verb != nullptr ? verb->run(operands) : SyntaxError(nullptr);
}

}  // namespace net

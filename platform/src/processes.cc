// Processes: CreateProcessA, WaitForSingleObject, GetExitCodeProcess.
//
// A process handle is a ProcessObject, which owns the child until it has
// been reaped. Waits use a pidfd (poll until the child ends, then a
// non-blocking waitpid for that one pid), so no SIGCHLD handler is needed
// and no other child of the program is touched. Closing the last handle of
// a child that still runs does not end it: the child carries on, and a
// detached reaper thread, blocked in waitpid for that pid alone, collects
// it when it ends, so it is never left a zombie. Should no thread be
// available, the pid joins a list that every later CreateProcessA sweeps.
//
// Consoles: a child of CREATE_NEW_CONSOLE (or of no console flag) shares
// our terminal, as its console window would be on the screen while the
// parent waits; when our standard input is not a terminal (a key script, a
// pipe), the child gets /dev/null as input so it cannot eat ours. DETACHED_PROCESS and
// CREATE_NO_WINDOW give the child no terminal: a session of its own and
// /dev/null for all three standard streams.
#include "processes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "errors.h"
#include "handles.h"
#include "nt/win32.h"
#include "paths.h"

extern char **environ;

namespace nt {

namespace {

// ---- Reaping children whose handles are all closed. ----------------------

std::mutex orphanLock;
std::vector<pid_t> &Orphans() {
    static std::vector<pid_t> *orphans = new std::vector<pid_t>;  // lives as long as the process
    return *orphans;
}

void SweepOrphans() {
    std::lock_guard<std::mutex> guard(orphanLock);
    std::vector<pid_t> &orphans = Orphans();
    orphans.erase(std::remove_if(orphans.begin(), orphans.end(),
                                 [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; }),
                  orphans.end());
}

void ReapLater(pid_t pid) {
    try {
        std::thread([pid] {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::exception &) {
        std::lock_guard<std::mutex> guard(orphanLock);
        Orphans().push_back(pid);
    }
}

// ---- Process and thread objects. -------------------------------------------

class ProcessObject : public KernelObject {
public:
    ProcessObject(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    ~ProcessObject() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!TryReap()) {
                ReapLater(pid_);
            }
        }
        if (pidfd_ >= 0) {
            close(pidfd_);
        }
    }
    ProcessObject(const ProcessObject &) = delete;
    ProcessObject &operator=(const ProcessObject &) = delete;

    DWORD Wait(DWORD milliseconds) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (TryReap()) {
                    return WAIT_OBJECT_0;
                }
            }
            int timeout = -1;  // INFINITE
            if (milliseconds != INFINITE) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                if (left <= 0) {
                    return WAIT_TIMEOUT;
                }
                timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
            }
            if (pidfd_ < 0) {
                // No pidfd on this kernel: look again every 10 ms.
                const int step = timeout < 0 ? 10 : std::min(timeout, 10);
                usleep(static_cast<useconds_t>(step) * 1000);
                continue;
            }
            struct pollfd ended = {pidfd_, POLLIN, 0};
            if (poll(&ended, 1, timeout) < 0 && errno != EINTR) {
                SetLastErrorFromErrno(errno, "WaitForSingleObject: poll", "pidfd");
                return WAIT_FAILED;
            }
        }
    }

    // The exit code, or STILL_ACTIVE while the child runs.
    DWORD ExitCode() {
        std::lock_guard<std::mutex> guard(lock_);
        return TryReap() ? exitCode_ : static_cast<DWORD>(STILL_ACTIVE);
    }

    pid_t pid() const { return pid_; }

private:
    // True once the child has ended and been reaped. Called under lock_.
    bool TryReap() {
        if (reaped_) {
            return true;
        }
        int status = 0;
        const pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got == 0) {
            return false;
        }
        if (got < 0 && errno == EINTR) {
            return false;
        }
        reaped_ = true;
        if (got < 0) {
            // Someone else reaped it (SIGCHLD ignored): it has ended, code unknown.
            exitCode_ = 0;
        } else if (WIFEXITED(status)) {
            exitCode_ = static_cast<DWORD>(WEXITSTATUS(status));
        } else {
            exitCode_ = 128u + static_cast<DWORD>(WTERMSIG(status));  // as a shell reports it
        }
        return true;
    }

    const pid_t pid_;
    const int pidfd_;
    std::mutex lock_;
    bool reaped_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

// The primary thread of a child: waiting on it waits for the child.
class ThreadObject : public KernelObject {
public:
    explicit ThreadObject(std::shared_ptr<ProcessObject> process) : process_(std::move(process)) {}
    ProcessObject &process() { return *process_; }

private:
    std::shared_ptr<ProcessObject> process_;
};

ProcessObject *ProcessBehind(HANDLE handle, std::shared_ptr<KernelObject> *keep) {
    *keep = LookupHandle(handle);
    if (auto *process = dynamic_cast<ProcessObject *>(keep->get())) {
        return process;
    }
    if (auto *thread = dynamic_cast<ThreadObject *>(keep->get())) {
        return &thread->process();
    }
    return nullptr;
}

// ---- Finding the program. ---------------------------------------------------

std::string ApplicationFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    path[length] = '\0';
    return DirectoryOf(path);
}

std::string CurrentFolder() {
    char *current = getcwd(nullptr, 0);
    if (current == nullptr) {
        return {};
    }
    std::string folder(current);
    std::free(current);
    return folder;
}

bool IsProgram(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// folder/name, or the entry of folder whose name matches name without
// regard to case; empty when neither is a program.
std::string FindInFolder(const std::string &folder, const std::string &name) {
    if (folder.empty()) {
        return {};
    }
    const std::string exact = folder + "/" + name;
    if (IsProgram(exact)) {
        return exact;
    }
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::vector<std::string> matches;
    while (const struct dirent *entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 && name != entry->d_name) {
            matches.push_back(folder + "/" + entry->d_name);
        }
    }
    closedir(dir);
    std::sort(matches.begin(), matches.end());  // the same pick every time
    for (const std::string &match : matches) {
        if (IsProgram(match)) {
            return match;
        }
    }
    return {};
}

bool HasExtension(const std::string &name) { return name.find('.') != std::string::npos; }

std::vector<std::string> SearchFolders() {
    std::vector<std::string> folders = {ApplicationFolder(), CurrentFolder(),
                                        SystemDirectoryPath()};
    const char *path = std::getenv("PATH");
    if (path != nullptr) {
        std::string list(path);
        std::string::size_type start = 0;
        for (;;) {
            const std::string::size_type colon = list.find(':', start);
            const std::string entry = list.substr(start, colon - start);
            folders.push_back(entry.empty() ? CurrentFolder() : entry);
            if (colon == std::string::npos) {
                break;
            }
            start = colon + 1;
        }
    }
    return folders;
}

// ---- Starting the child. ------------------------------------------------------

// The environment block: "NAME=value\0...\0\0".
std::vector<std::string> EnvironmentStrings(const char *block) {
    std::vector<std::string> strings;
    while (*block != '\0') {
        strings.emplace_back(block);
        block += strings.back().size() + 1;
    }
    return strings;
}

std::vector<char *> Pointers(std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    for (std::string &text : strings) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A pidfd for our child pid (never reused before we reap it), or -1 where
// the kernel has none; waits then poll waitpid instead.
int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(int errorPipe, DWORD flags, bool inputIsTerminal, const char *folder,
                           const char *program, char *const *argv, char *const *envp) {
    const bool noTerminal = (flags & (DETACHED_PROCESS | CREATE_NO_WINDOW)) != 0;
    if (noTerminal) {
        setsid();
    } else if ((flags & CREATE_NEW_PROCESS_GROUP) != 0) {
        setpgid(0, 0);
    }
    if (noTerminal || !inputIsTerminal) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            if (noTerminal) {
                dup2(null, 1);
                dup2(null, 2);
            }
            if (null > 2) {
                close(null);
            }
        }
    }
    // NT hands a child none of our open files unless asked to, and our
    // handles are not file descriptors at all.
    close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    struct sigaction defaults;
    std::memset(&defaults, 0, sizeof defaults);
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    int err = 0;
    if (folder != nullptr && chdir(folder) != 0) {
        err = errno;
    } else {
        execve(program, argv, envp);
        err = errno;
    }
    while (write(errorPipe, &err, sizeof err) < 0 && errno == EINTR) {
    }
    _exit(127);
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string &commandLine) {
    std::vector<std::string> arguments;
    const size_t n = commandLine.size();
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) {
            ++i;
        }
    };
    skipBlanks();
    if (i == n) {
        return arguments;
    }
    // The program name: backslashes are part of the path.
    std::string program;
    if (commandLine[i] == '"') {
        const size_t close = commandLine.find('"', i + 1);
        program = commandLine.substr(i + 1, close == std::string::npos ? close : close - i - 1);
        i = close == std::string::npos ? n : close + 1;
    }
    while (i < n && commandLine[i] != ' ' && commandLine[i] != '\t') {
        program += commandLine[i++];
    }
    arguments.push_back(program);
    skipBlanks();
    while (i < n) {
        std::string argument;
        bool quoted = false;
        while (i < n && (quoted || (commandLine[i] != ' ' && commandLine[i] != '\t'))) {
            const char c = commandLine[i];
            if (c == '\\') {
                size_t backslashes = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += c;
                ++i;
            }
        }
        arguments.push_back(argument);
        skipBlanks();
    }
    return arguments;
}

std::string FindCommand(const std::string &command, DWORD *error) {
    const std::string name = LinuxPath(command);
    std::vector<std::string> names = {BaseNameOf(name)};
    if (!HasExtension(names[0])) {
        names.push_back(names[0] + ".EXE");
    }
    std::vector<std::string> folders;
    if (name.find('/') != std::string::npos) {
        folders.push_back(DirectoryOf(name));
    } else {
        folders = SearchFolders();
    }
    for (const std::string &folder : folders) {
        for (const std::string &candidate : names) {
            std::string found = FindInFolder(folder, candidate);
            if (!found.empty()) {
                return found;
            }
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    Trace("CreateProcessA: %s not found", command.c_str());
    return {};
}

}  // namespace nt

extern "C" {

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES /*processSecurity*/,
                    LPSECURITY_ATTRIBUTES /*threadSecurity*/, BOOL /*inheritHandles*/,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
    if ((applicationName == nullptr && commandLine == nullptr) || startupInfo == nullptr ||
        processInformation == nullptr ||
        ((creationFlags & DETACHED_PROCESS) != 0 && (creationFlags & CREATE_NEW_CONSOLE) != 0)) {
        return nt::Fail(ERROR_INVALID_PARAMETER);
    }
    nt::SweepOrphans();

    std::vector<std::string> arguments =
        nt::SplitCommandLine(commandLine != nullptr ? commandLine : applicationName);
    if (arguments.empty() || (applicationName == nullptr && arguments[0].empty())) {
        return nt::Fail(ERROR_FILE_NOT_FOUND);
    }
    DWORD error = ERROR_SUCCESS;
    const std::string program =
        nt::FindCommand(applicationName != nullptr ? applicationName : arguments[0], &error);
    if (program.empty()) {
        return nt::Fail(error);
    }
    std::string folder;
    if (currentDirectory != nullptr) {
        folder = nt::LinuxPath(currentDirectory);
        struct stat info;
        if (stat(folder.c_str(), &info) != 0) {
            nt::SetLastErrorFromErrno(errno, "CreateProcessA: current directory", folder);
            return FALSE;
        }
        if (!S_ISDIR(info.st_mode)) {
            return nt::Fail(ERROR_PATH_NOT_FOUND);
        }
    }
    std::vector<std::string> environmentStrings;
    if (environment != nullptr) {
        environmentStrings = nt::EnvironmentStrings(static_cast<const char *>(environment));
    }
    std::vector<char *> argv = nt::Pointers(arguments);
    std::vector<char *> envp = nt::Pointers(environmentStrings);
    const bool inputIsTerminal = isatty(0) == 1;

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        nt::SetLastErrorFromErrno(errno, "CreateProcessA: pipe", program);
        return FALSE;
    }
    std::fflush(nullptr);  // our buffered output comes before the child's
    const pid_t pid = fork();
    if (pid < 0) {
        const int err = errno;
        close(errorPipe[0]);
        close(errorPipe[1]);
        nt::SetLastErrorFromErrno(err, "CreateProcessA: fork", program);
        return FALSE;
    }
    if (pid == 0) {
        close(errorPipe[0]);
        nt::RunChild(errorPipe[1], creationFlags, inputIsTerminal,
                     folder.empty() ? nullptr : folder.c_str(), program.c_str(), argv.data(),
                     environment != nullptr ? envp.data() : environ);
    }
    close(errorPipe[1]);
    int childError = 0;
    ssize_t got;
    while ((got = read(errorPipe[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    close(errorPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        nt::SetLastErrorFromErrno(childError, "CreateProcessA: exec", program);
        return FALSE;
    }

    auto process = std::make_shared<nt::ProcessObject>(pid, nt::OpenPidfd(pid));
    processInformation->hThread = nt::InsertHandle(std::make_shared<nt::ThreadObject>(process));
    processInformation->hProcess = nt::InsertHandle(process);
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    std::shared_ptr<nt::KernelObject> keep;
    nt::ProcessObject *process = nt::ProcessBehind(object, &keep);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return process->Wait(milliseconds);
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    std::shared_ptr<nt::KernelObject> keep;
    nt::ProcessObject *object = nt::ProcessBehind(process, &keep);
    if (object == nullptr || dynamic_cast<nt::ThreadObject *>(keep.get()) != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

}  // extern "C"

// Running programs from tests; see process.h.
#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testproc {

namespace {

std::vector<std::string> MergedEnvironment(const Environment &changes) {
    std::vector<std::string> merged;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (changes.count(name) == 0) {
            merged.push_back(text);
        }
    }
    for (const auto &change : changes) {
        merged.push_back(change.first + "=" + change.second);
    }
    return merged;
}

std::vector<char *> Pointers(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    for (std::string &text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

int StatusOf(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

Result Run(const std::vector<std::string> &argv, const Environment &env,
           std::chrono::milliseconds bound) {
    Result result;
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = MergedEnvironment(env);
    std::vector<char *> argp = Pointers(args);
    std::vector<char *> envp = Pointers(environment);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(got));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (const struct pollfd &fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    if (result.timedOut) {
        kill(pid, SIGKILL);
    }
    const int remaining = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               deadline - std::chrono::steady_clock::now())
                                               .count());
    result.status = WaitFor(pid, std::chrono::milliseconds(remaining > 1000 ? remaining : 1000));
    if (result.status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        result.timedOut = true;
    }
    if (result.timedOut) {
        result.status = -1;
    }
    return result;
}

pid_t Spawn(const std::vector<std::string> &argv, const Environment &env,
            const std::string &logPath) {
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = MergedEnvironment(env);
    std::vector<char *> argp = Pointers(args);
    std::vector<char *> envp = Pointers(environment);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(log, 1);
        dup2(log, 2);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(log);
    return pid;
}

int WaitFor(pid_t pid, std::chrono::milliseconds bound) {
    int raw = 0;
    int status = -1;
    Eventually(
        [&] {
            const pid_t done = waitpid(pid, &raw, WNOHANG);
            if (done == pid) {
                status = StatusOf(raw);
                return true;
            }
            return done < 0;  // not our child (any more)
        },
        bound);
    return status;
}

}  // namespace testproc

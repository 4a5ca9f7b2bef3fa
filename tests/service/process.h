// Running a program from a test, with a bound on how long it may take.
#ifndef TESTS_SERVICE_PROCESS_H
#define TESTS_SERVICE_PROCESS_H

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testproc {

struct Result {
    int status = -1;        // exit status; 128 + n after signal n; -1 when it timed out
    bool timedOut = false;  // killed after the time bound
    std::string out;
    std::string err;
};

using Environment = std::map<std::string, std::string>;  // variables to set

// Runs argv (argv[0] a path) with the test's environment changed by env,
// collecting its output. After `bound` the program is killed.
Result Run(const std::vector<std::string> &argv, const Environment &env = {},
           std::chrono::milliseconds bound = std::chrono::seconds(30));

// Starts argv with standard output and error sent to the file logPath, and
// returns its pid (-1 on failure).
pid_t Spawn(const std::vector<std::string> &argv, const Environment &env,
            const std::string &logPath);

// Waits up to bound for pid to end; its status as in Result, -1 if it did
// not end.
int WaitFor(pid_t pid, std::chrono::milliseconds bound);

// Polls condition every 20 ms until it holds or bound passes.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        struct timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return true;
}

}  // namespace testproc

#endif  // TESTS_SERVICE_PROCESS_H

// A syslog daemon's socket of a test's own, for the records that the
// platform sends where NT_SYSLOG_SOCKET says.
#ifndef TESTS_PLATFORM_LOG_LISTENER_H
#define TESTS_PLATFORM_LOG_LISTENER_H

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace platform_test {

// Bound on construction, closed on destruction.
class LogListener {
public:
    explicit LogListener(const std::string &path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        unlink(path.c_str());
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ADD_FAILURE() << "cannot bind " << path << ": " << std::strerror(errno);
        }
        // A record that never comes fails the test instead of hanging it.
        timeval wait{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~LogListener() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    LogListener(const LogListener &) = delete;
    LogListener &operator=(const LogListener &) = delete;

    // The next record, or "" when none came.
    std::string Receive() {
        char buffer[65536];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        return got < 0 ? std::string() : std::string(buffer, static_cast<size_t>(got));
    }

    // True when no record is waiting.
    bool Quiet() {
        char byte;
        return recv(fd_, &byte, 1, MSG_DONTWAIT) < 0;
    }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace platform_test

#endif  // TESTS_PLATFORM_LOG_LISTENER_H

// systemd's notification protocol; see service_notify.h.
#include "service_notify.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace snmpsvc {

bool NotifyManager(const std::string &state, std::string *error) {
    const char *socketName = std::getenv("NOTIFY_SOCKET");
    if (socketName == nullptr || socketName[0] == '\0') {
        return true;
    }
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(socketName);
    if ((socketName[0] != '/' && socketName[0] != '@') || length >= sizeof address.sun_path) {
        *error = std::string("NOTIFY_SOCKET is not a socket path: ") + socketName;
        return false;
    }
    std::memcpy(address.sun_path, socketName, length);
    if (socketName[0] == '@') {
        address.sun_path[0] = '\0';  // an abstract name
    }
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("cannot make a socket to tell the service manager: ") +
                 std::strerror(errno);
        return false;
    }
    const ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const struct sockaddr *>(&address), size);
    const int err = errno;
    close(fd);
    if (sent != static_cast<ssize_t>(state.size())) {
        *error = "cannot tell the service manager at " + std::string(socketName) + ": " +
                 std::strerror(sent < 0 ? err : EMSGSIZE);
        return false;
    }
    return true;
}

unsigned long long MonotonicMicroseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
           static_cast<unsigned long long>(now.tv_nsec) / 1000ULL;
}

}  // namespace snmpsvc

// The system log; see system_log.h.
#include "system_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include "errors.h"

namespace nt {

namespace {

std::string ConfiguredPath() {
    const char *configured = std::getenv("NT_SYSLOG_SOCKET");
    return configured != nullptr && configured[0] != '\0' ? configured : "/dev/log";
}

}  // namespace

SyslogSocket::~SyslogSocket() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

bool SyslogSocket::Connect(const std::string &path) {
    path_ = path;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        lastError_ = ERROR_INVALID_NAME;
        return false;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        lastError_ = ErrorFromErrno(errno, "socket", path_);
        return false;
    }
    if (connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        lastError_ = ErrorFromErrno(errno, "connect", path_);
        close(socket_);
        socket_ = -1;
        return false;
    }
    return true;
}

DWORD SyslogSocket::Send(const std::string &record, bool wait) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string path = ConfiguredPath();
    if (socket_ >= 0 && path != path_) {
        close(socket_);
        socket_ = -1;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (socket_ < 0 && !Connect(path)) {
            return lastError_;
        }
        if (send(socket_, record.data(), record.size(), MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT)) >=
            0) {
            return ERROR_SUCCESS;
        }
        const int error = errno;
        lastError_ = ErrorFromErrno(error, "send", path_);
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return lastError_;  // the log is full: the record is lost, the socket kept
        }
        close(socket_);  // the log daemon may have restarted: try once more
        socket_ = -1;
    }
    return lastError_;
}

std::string SyslogRecord(int severity, const std::string &tag, const std::string &text) {
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    for (char &c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return "<" + std::to_string(LOG_DAEMON | severity) + ">" + stamp + " " + tag + "[" +
           std::to_string(getpid()) + "]: " + line;
}

void WriteSystemLog(int severity, const std::string &text) {
    static SyslogSocket *log = new SyslogSocket;  // lives as long as the process
    log->Send(SyslogRecord(severity, program_invocation_short_name, text), false);
}

}  // namespace nt

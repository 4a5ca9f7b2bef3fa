// The event log, on the system log.
//
// Each reported event becomes one record on the syslog socket (/dev/log, or
// the socket that NT_SYSLOG_SOCKET names), in the format the C library's
// syslog() writes, tagged with the event source's name:
//
//     <PRI>Dec 11 11:09:16 SNMP[1234]: event 1999: text
//
// The event type sets the severity (error, warning, or info); the facility
// is daemon. Line ends in the strings are folded into spaces, since a record
// is one line. Each source keeps its own socket, so sources never share the
// process-wide state of openlog().
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include "errors.h"
#include "handles.h"
#include "nt/win32.h"

namespace nt {

namespace {

class EventSource : public KernelObject {
public:
    explicit EventSource(std::string name) : name_(std::move(name)) {}
    ~EventSource() override {
        if (socket_ >= 0) {
            close(socket_);
        }
    }

    // Sends one record; the Win32 error, or ERROR_SUCCESS.
    DWORD Send(const std::string &record) {
        std::lock_guard<std::mutex> guard(lock_);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (socket_ < 0 && !Connect()) {
                return lastError_;
            }
            if (send(socket_, record.data(), record.size(), MSG_NOSIGNAL) >= 0) {
                return ERROR_SUCCESS;
            }
            lastError_ = ErrorFromErrno(errno, "send", path_);
            close(socket_);  // the log daemon may have restarted: try once more
            socket_ = -1;
        }
        return lastError_;
    }

    const std::string &name() const { return name_; }

private:
    bool Connect() {
        const char *configured = std::getenv("NT_SYSLOG_SOCKET");
        path_ = configured != nullptr && configured[0] != '\0' ? configured : "/dev/log";
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

    std::string name_;
    std::string path_;
    std::mutex lock_;
    int socket_ = -1;
    DWORD lastError_ = ERROR_SUCCESS;
};

int Severity(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE:
        case EVENTLOG_AUDIT_FAILURE: return LOG_ERR;
        case EVENTLOG_WARNING_TYPE: return LOG_WARNING;
        default: return LOG_INFO;
    }
}

}  // namespace

}  // namespace nt

extern "C" {

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
    if (serverName != nullptr && serverName[0] != '\0') {
        SetLastError(ERROR_NOT_SUPPORTED);  // no remote event logs
        return nullptr;
    }
    if (sourceName == nullptr || sourceName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return nt::InsertHandle(std::make_shared<nt::EventSource>(sourceName));
}

BOOL ReportEventA(HANDLE eventSource, WORD type, WORD category, DWORD eventId, PSID /*user*/,
                  WORD numStrings, DWORD /*rawDataSize*/, LPCSTR *strings, LPVOID /*rawData*/) {
    auto source = nt::LookupHandleAs<nt::EventSource>(eventSource);
    if (source == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (numStrings != 0 && strings == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);

    std::string record = "<" + std::to_string(LOG_DAEMON | nt::Severity(type)) + ">" + stamp +
                         " " + source->name() + "[" + std::to_string(getpid()) +
                         "]: event " + std::to_string(eventId);
    if (category != 0) {
        record += " category " + std::to_string(category);
    }
    record += ":";
    for (WORD i = 0; i < numStrings; ++i) {
        std::string text = strings[i] != nullptr ? strings[i] : "";
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        for (char &c : text) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        record += " " + text;
    }
    const DWORD answer = source->Send(record);
    if (answer != ERROR_SUCCESS) {
        SetLastError(answer);
        return FALSE;
    }
    return TRUE;
}

BOOL DeregisterEventSource(HANDLE eventSource) {
    if (nt::LookupHandleAs<nt::EventSource>(eventSource) == nullptr ||
        !nt::RemoveHandle(eventSource)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

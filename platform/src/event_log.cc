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
// is one line (system_log.h). Each source keeps its own socket, so sources
// never share the process-wide state of openlog().
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
#include "system_log.h"

namespace nt {

namespace {

class EventSource : public KernelObject {
public:
    explicit EventSource(std::string name) : name_(std::move(name)) {}

    // Sends one record, waiting for the log as syslog() does; the Win32
    // error, or ERROR_SUCCESS.
    DWORD Send(const std::string &record) { return socket_.Send(record, true); }

    const std::string &name() const { return name_; }

private:
    std::string name_;
    SyslogSocket socket_;
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
    std::string text = "event " + std::to_string(eventId);
    if (category != 0) {
        text += " category " + std::to_string(category);
    }
    text += ":";
    for (WORD i = 0; i < numStrings; ++i) {
        std::string string = strings[i] != nullptr ? strings[i] : "";
        while (!string.empty() && (string.back() == '\n' || string.back() == '\r')) {
            string.pop_back();
        }
        text += " " + string;
    }
    const std::string record = nt::SyslogRecord(nt::Severity(type), source->name(), text);
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

// The system log: records on the syslog socket (/dev/log, or the socket
// that NT_SYSLOG_SOCKET names), in the format the C library's syslog()
// writes, "<PRI>Mmm dd hh:mm:ss TAG[pid]: text", facility daemon.
//
// The event log sends through it, and so does the device layer, which tells
// there when an adapter starts or stops failing.
#ifndef PLATFORM_SYSTEM_LOG_H
#define PLATFORM_SYSTEM_LOG_H

#include <mutex>
#include <string>

#include "nt/wintypes.h"

namespace nt {

// One connection to the log. It connects at the first record, and again
// after a send fails (the log daemon may have restarted) or when
// NT_SYSLOG_SOCKET names another socket than the one it reached. Safe to use
// from several threads.
class SyslogSocket {
public:
    SyslogSocket() = default;
    ~SyslogSocket();
    SyslogSocket(const SyslogSocket &) = delete;
    SyslogSocket &operator=(const SyslogSocket &) = delete;

    // Sends one record: ERROR_SUCCESS or the Win32 error. With wait false
    // a log that cannot take the record now loses it rather than block the
    // caller.
    DWORD Send(const std::string &record, bool wait);

private:
    bool Connect(const std::string &path);

    std::mutex lock_;
    std::string path_;  // the socket connected to
    int socket_ = -1;
    DWORD lastError_ = ERROR_SUCCESS;
};

// "<PRI>Mmm dd hh:mm:ss tag[pid]: text" for severity (LOG_ERR, ...) at
// facility daemon, line ends in text folded into spaces.
std::string SyslogRecord(int severity, const std::string &tag, const std::string &text);

// Writes one line of the platform itself, tagged with the program's name,
// without ever blocking; a line that cannot be written is lost.
void WriteSystemLog(int severity, const std::string &text);

}  // namespace nt

#endif  // PLATFORM_SYSTEM_LOG_H

// The event log: each ReportEventA is one syslog record on the socket that
// NT_SYSLOG_SOCKET names, "<PRI>Mmm dd hh:mm:ss SOURCE[pid]: event ID: text".
// The tests listen on a datagram socket of their own in a temporary folder.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "log_listener.h"
#include "temp_root.h"

namespace {

using platform_test::LogListener;
using platform_test::ScopedEnv;
using platform_test::TempDir;

class EventLogTest : public ::testing::Test {
protected:
    std::string SocketPath() const { return dir_.path() + "/log"; }

    // Registers source, reports one event of type with strings, and returns
    // ReportEventA's result.
    static BOOL Report(HANDLE source, WORD type, DWORD eventId,
                       std::initializer_list<const char *> strings) {
        LPCSTR list[8];
        WORD count = 0;
        for (const char *text : strings) {
            list[count++] = text;
        }
        return ReportEventA(source, type, 0, eventId, nullptr, count, 0, list, nullptr);
    }

    TempDir dir_;
    ScopedEnv socketEnv_{"NT_SYSLOG_SOCKET", SocketPath()};
};

// Whether record is "<priority>Mmm dd hh:mm:ss source[pid]: message", the
// syslog record of this process.
::testing::AssertionResult IsRecord(const std::string &record, int priority,
                                    const std::string &source, const std::string &message) {
    const std::string head = "<" + std::to_string(priority) + ">";
    constexpr size_t StampLength = 15;  // "Dec  1 09:05:07"
    if (record.compare(0, head.size(), head) != 0 || record.size() < head.size() + StampLength) {
        return ::testing::AssertionFailure() << "no <" << priority << "> header: " << record;
    }
    const std::string stamp = record.substr(head.size(), StampLength);
    struct tm parsed {};
    const char *end = strptime(stamp.c_str(), "%b %e %H:%M:%S", &parsed);
    if (end == nullptr || *end != '\0' || stamp[3] != ' ') {
        return ::testing::AssertionFailure() << "bad time stamp \"" << stamp << "\": " << record;
    }
    const std::string rest = " " + source + "[" + std::to_string(getpid()) + "]: " + message;
    if (record.substr(head.size() + StampLength) != rest) {
        return ::testing::AssertionFailure()
               << "record \"" << record << "\" does not end in \"" << rest << "\"";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(EventLogTest, RecordCarriesSourceEventIdAndText) {
    LogListener listener(SocketPath());
    HANDLE source = RegisterEventSourceA(nullptr, "SNMP");
    ASSERT_NE(source, nullptr);

    // The agents' diagnostic log reports its formatted message, line end
    // and all, as an information event 1999.
    ASSERT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1999,
                     {"OID append overflow; DestObjId->idLength=32512, SrcObjId->idLength=2\n"}),
              TRUE)
        << GetLastError();
    EXPECT_TRUE(IsRecord(listener.Receive(), 30, "SNMP",
                         "event 1999: OID append overflow; DestObjId->idLength=32512, "
                         "SrcObjId->idLength=2"));
    EXPECT_EQ(DeregisterEventSource(source), TRUE);
}

TEST_F(EventLogTest, TypeSetsTheSeverityAndTextsAreOneLine) {
    LogListener listener(SocketPath());
    HANDLE source = RegisterEventSourceA(nullptr, "Eth Agent");
    ASSERT_NE(source, nullptr);
    const struct {
        WORD type;
        int priority;  // facility daemon (3) * 8 + severity
        std::initializer_list<const char *> strings;
        const char *text;
    } cases[] = {
        {EVENTLOG_ERROR_TYPE, 27, {"disk\r\n"}, "disk"},
        {EVENTLOG_WARNING_TYPE, 28, {"two\nlines\n\n"}, "two lines"},
        {EVENTLOG_INFORMATION_TYPE, 30, {"first", "second\n"}, "first second"},
        {EVENTLOG_SUCCESS, 30, {"done"}, "done"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(Report(source, c.type, 7, c.strings), TRUE) << GetLastError();
        EXPECT_TRUE(IsRecord(listener.Receive(), c.priority, "Eth Agent",
                             std::string("event 7: ") + c.text));
    }
    EXPECT_TRUE(listener.Quiet()) << "one record per event";
    EXPECT_EQ(DeregisterEventSource(source), TRUE);
}

TEST_F(EventLogTest, NoListeningSocketFailsTheReport) {
    HANDLE source = RegisterEventSourceA(nullptr, "SNMP");
    ASSERT_NE(source, nullptr);

    // No socket file at all.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1999, {"lost"}), FALSE);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    // A socket file that nobody listens on any more.
    { LogListener gone(SocketPath()); }
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1999, {"lost"}), FALSE);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    // Once the log is there, the same source reports again.
    LogListener listener(SocketPath());
    EXPECT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1999, {"back"}), TRUE);
    EXPECT_NE(listener.Receive().find("event 1999: back"), std::string::npos);
    EXPECT_EQ(DeregisterEventSource(source), TRUE);
}

// A log daemon that restarts binds a new socket at the same path: a source
// that was connected to the old one reaches the new one.
TEST_F(EventLogTest, SourceFollowsARestartedLog) {
    HANDLE source = RegisterEventSourceA(nullptr, "SNMP");
    ASSERT_NE(source, nullptr);
    {
        LogListener first(SocketPath());
        ASSERT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1, {"before"}), TRUE);
        EXPECT_NE(first.Receive().find("event 1: before"), std::string::npos);
    }
    LogListener second(SocketPath());
    ASSERT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 2, {"after"}), TRUE) << GetLastError();
    EXPECT_NE(second.Receive().find("event 2: after"), std::string::npos);
    EXPECT_EQ(DeregisterEventSource(source), TRUE);
}

TEST_F(EventLogTest, BadSourcesAndHandlesAreRefused) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere", "SNMP"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    for (const char *name : {static_cast<const char *>(nullptr), ""}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(RegisterEventSourceA(nullptr, name), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }

    LogListener listener(SocketPath());
    HANDLE source = RegisterEventSourceA("", "SNMP");  // "" is the local machine
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, nullptr, nullptr),
        FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_EQ(DeregisterEventSource(source), TRUE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Report(source, EVENTLOG_INFORMATION_TYPE, 1, {"late"}), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(DeregisterEventSource(source), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(DeregisterEventSource(nullptr), FALSE);
    EXPECT_TRUE(listener.Quiet());
}

}  // namespace

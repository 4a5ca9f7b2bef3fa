// Device files: CreateFileA("\\.\ALIAS") resolves the alias to its raw
// target "\Device\X", opens $NTROOT/Device/X, and DeviceIoControl answers
// IOCTL_NDIS_QUERY_GLOBAL_STATS from it. A regular file there is a
// simulated adapter, read afresh at every query.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "log_listener.h"
#include "temp_root.h"

namespace {

using platform_test::LogListener;
using platform_test::ScopedEnv;
using platform_test::TempDir;
using platform_test::TempRoot;

constexpr DWORD CrcErrors = 0x0002020D;        // OID_GEN_RCV_CRC_ERROR
constexpr DWORD AlignmentErrors = 0x01020101;  // OID_802_3_RCV_ERROR_ALIGNMENT

// What one IOCTL_NDIS_QUERY_GLOBAL_STATS call gave.
struct Answer {
    bool ok;
    uint32_t value;
    DWORD error;     // GetLastError() after a failure, else ERROR_SUCCESS
    DWORD returned;  // *bytesReturned
};

Answer Query(HANDLE device, DWORD statistic) {
    DWORD in = statistic;
    uint32_t out = 0xDEADBEEF;
    DWORD returned = 77;
    SetLastError(ERROR_SUCCESS);
    const BOOL ok = DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &in, sizeof in, &out,
                                    sizeof out, &returned, nullptr);
    return {ok == TRUE, out, ok == TRUE ? ERROR_SUCCESS : GetLastError(), returned};
}

std::string FileText(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class DeviceFilesTest : public ::testing::Test {
protected:
    // A read that blocks would hang the test: it fails it instead.
    void SetUp() override { alarm(60); }
    void TearDown() override {
        alarm(0);
        for (HANDLE handle : handles_) {
            CloseHandle(handle);
        }
        // Each definition made here is popped once, newest first.
        for (auto it = aliases_.rbegin(); it != aliases_.rend(); ++it) {
            EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, it->c_str(), nullptr), TRUE);
        }
    }

    void Define(const std::string &alias, const std::string &target,
                DWORD flags = DDD_RAW_TARGET_PATH) {
        ASSERT_EQ(DefineDosDeviceA(flags, alias.c_str(), target.c_str()), TRUE) << alias;
        aliases_.push_back(alias);
    }

    // Opens "\\.\alias" as the agents do; the handle is closed at the end.
    HANDLE Open(const std::string &alias, DWORD disposition = OPEN_EXISTING) {
        const std::string path = "\\\\.\\" + alias;
        SetLastError(ERROR_SUCCESS);
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    disposition, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handles_.push_back(handle);
        }
        return handle;
    }

    // Defines alias for target and opens it.
    HANDLE DefineAndOpen(const std::string &alias, const std::string &target) {
        Define(alias, target);
        return Open(alias);
    }

    TempRoot root_;
    std::vector<std::string> aliases_;
    std::vector<HANDLE> handles_;
};

// ---- What a simulated adapter's file says. -----------------------------------

struct StatisticCase {
    const char *what;
    const char *file;
    DWORD statistic;
    DWORD error;  // ERROR_SUCCESS: the query answers value
    uint32_t value;
};

const StatisticCase StatisticCases[] = {
    {"decimal value", "0x0002020D 5\n", CrcErrors, ERROR_SUCCESS, 5},
    {"hexadecimal value", "0x0002020D 0x1f\n", CrcErrors, ERROR_SUCCESS, 0x1F},
    {"decimal identifier", "131597 7\n", CrcErrors, ERROR_SUCCESS, 7},
    {"upper-case 0X and digits", "0X0002020d 0XAB\n", CrcErrors, ERROR_SUCCESS, 0xAB},
    {"leading zeros", "0x2020D 007\n", CrcErrors, ERROR_SUCCESS, 7},
    {"zero", "0x0002020D 0\n", CrcErrors, ERROR_SUCCESS, 0},
    {"no final line end", "0x0002020D 9", CrcErrors, ERROR_SUCCESS, 9},
    {"tabs, blank lines and CRLF", "\r\n\n\t0x0002020D \t 9\t\r\n\n", CrcErrors, ERROR_SUCCESS, 9},
    {"lines ending in CR alone", "0x01020101 1\r0x0002020D 5\r0x01020102 2", CrcErrors,
     ERROR_SUCCESS, 5},
    {"CR alone ends a malformed line", "0x0002020D 1\r0x0002020D 2 3\r", CrcErrors,
     ERROR_INVALID_DATA, 0},
    {"comments around the line", "# adapter 1\n0x0002020D 5 # CRC errors\n#0x0002020D 6\n",
     CrcErrors, ERROR_SUCCESS, 5},
    {"comment glued to the value", "0x0002020D 5#6\n", CrcErrors, ERROR_SUCCESS, 5},
    {"commented-out line only", "# 0x0002020D 5\n", CrcErrors, ERROR_NOT_SUPPORTED, 0},
    {"largest 32-bit value", "0x0002020D 4294967295\n", CrcErrors, ERROR_SUCCESS, 0xFFFFFFFF},
    {"2^32 wraps to 0", "0x0002020D 4294967296\n", CrcErrors, ERROR_SUCCESS, 0},
    {"64-bit hexadecimal wraps", "0x0002020D 0x1234567800000005\n", CrcErrors, ERROR_SUCCESS, 5},
    {"largest 64-bit value", "0x0002020D 18446744073709551615\n", CrcErrors, ERROR_SUCCESS,
     0xFFFFFFFF},
    {"2^64 + 5 wraps to 5", "0x0002020D 18446744073709551621\n", CrcErrors, ERROR_SUCCESS, 5},
    {"96-bit hexadecimal wraps", "0x0002020D 0xFFFFFFFF0000000000000007\n", CrcErrors,
     ERROR_SUCCESS, 7},
    {"duplicate lines: the last counts", "0x0002020D 1\n0x0002020D 2\n", CrcErrors, ERROR_SUCCESS,
     2},
    {"same statistic spelt two ways: the last counts", "0x0002020D 1\n131597 3\n", CrcErrors,
     ERROR_SUCCESS, 3},
    {"good line after a malformed one counts", "0x0002020D x\n0x0002020D 3\n", CrcErrors,
     ERROR_SUCCESS, 3},
    {"malformed line after a good one counts", "0x0002020D 1\n0x0002020D 3x\n", CrcErrors,
     ERROR_INVALID_DATA, 0},
    {"value not a number", "0x0002020D twelve\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"negative value", "0x0002020D -1\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"signed value", "0x0002020D +1\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"0x without digits", "0x0002020D 0x\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"hexadecimal digit in a decimal", "0x0002020D 12a\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"missing value", "0x0002020D\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"extra word", "0x0002020D 5 6\n", CrcErrors, ERROR_INVALID_DATA, 0},
    {"malformed line of another statistic", "0x01020101 bogus\n0x0002020D 5\n", CrcErrors,
     ERROR_SUCCESS, 5},
    {"that statistic fails alone", "0x01020101 bogus\n0x0002020D 5\n", AlignmentErrors,
     ERROR_INVALID_DATA, 0},
    {"malformed identifier names nothing", "0x0002020G 5\n0x0002020D 6\n", CrcErrors, ERROR_SUCCESS,
     6},
    {"identifier beyond 32 bits is another", "0x10002020D 5\n", CrcErrors, ERROR_NOT_SUPPORTED, 0},
    {"identifier beyond 64 bits is another", "0x1000000000000000002020D 5\n", CrcErrors,
     ERROR_NOT_SUPPORTED, 0},
    {"statistic not listed", "0x01020101 5\n", CrcErrors, ERROR_NOT_SUPPORTED, 0},
    {"empty file", "", CrcErrors, ERROR_NOT_SUPPORTED, 0},
    {"comments only", "# nothing here\n\n", CrcErrors, ERROR_NOT_SUPPORTED, 0},
};

TEST_F(DeviceFilesTest, AnswersWhatTheSimulatedAdapterFileSays) {
    Define("ParserCase", "\\Device\\Sim");
    for (const StatisticCase &c : StatisticCases) {
        SCOPED_TRACE(c.what);
        root_.WriteDevice("Sim", c.file);
        HANDLE device = Open("ParserCase");
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
        const Answer answer = Query(device, c.statistic);
        if (c.error == ERROR_SUCCESS) {
            EXPECT_TRUE(answer.ok) << "error " << answer.error;
            EXPECT_EQ(answer.value, c.value);
            EXPECT_EQ(answer.returned, 4u);
        } else {
            EXPECT_FALSE(answer.ok) << "answered " << answer.value;
            EXPECT_EQ(answer.error, c.error);
            EXPECT_EQ(answer.returned, 0u);
            EXPECT_EQ(answer.value, 0xDEADBEEFu) << "output written on failure";
        }
    }
}

TEST_F(DeviceFilesTest, EveryQueryReadsTheFileAfresh) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    HANDLE device = DefineAndOpen("Fresh1", "\\Device\\Vxlnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, CrcErrors).value, 5u);

    root_.WriteDevice("Vxlnk1", "0x0002020D 6\n0x01020101 1\n");
    EXPECT_EQ(Query(device, CrcErrors).value, 6u);
    EXPECT_EQ(Query(device, AlignmentErrors).value, 1u);

    // A statistic taken out of the file stops answering.
    root_.WriteDevice("Vxlnk1", "0x01020101 1\n");
    const Answer gone = Query(device, CrcErrors);
    EXPECT_FALSE(gone.ok);
    EXPECT_EQ(gone.error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST_F(DeviceFilesTest, AdapterRemovedAfterOpenIsGone) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    HANDLE device = DefineAndOpen("Removed1", "\\Device\\Vxlnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Query(device, CrcErrors).ok);

    ASSERT_TRUE(std::filesystem::remove(root_.DeviceFolder() + "/Vxlnk1"));
    const Answer answer = Query(device, CrcErrors);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, static_cast<DWORD>(ERROR_DEV_NOT_EXIST));

    // A new adapter file under the same name answers the open handle again.
    root_.WriteDevice("Vxlnk1", "0x0002020D 8\n");
    EXPECT_EQ(Query(device, CrcErrors).value, 8u);
}

TEST_F(DeviceFilesTest, SeveralOpensOfOneAdapterAnswerAlike) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    HANDLE first = DefineAndOpen("Shared1", "\\Device\\Vxlnk1");
    HANDLE second = Open("Shared1");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    EXPECT_EQ(Query(first, CrcErrors).value, 5u);
    EXPECT_EQ(Query(second, CrcErrors).value, 5u);
}

// The agents open with CREATE_ALWAYS: a device is never created or
// truncated by the open, whatever the disposition.
TEST_F(DeviceFilesTest, OpenNeitherCreatesNorTruncates) {
    const std::string text = "0x0002020D 5\n";
    root_.WriteDevice("Vxlnk1", text);
    Define("Keep1", "\\Device\\Vxlnk1");
    for (DWORD disposition :
         {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        SCOPED_TRACE(disposition);
        EXPECT_NE(Open("Keep1", disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(FileText(root_.DeviceFolder() + "/Vxlnk1"), text);
    }

    Define("Missing1", "\\Device\\Vxlnk9");
    for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS}) {
        SCOPED_TRACE(disposition);
        EXPECT_EQ(Open("Missing1", disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_FALSE(std::filesystem::exists(root_.DeviceFolder() + "/Vxlnk9"));
    }
}

// Kernel object names are case-insensitive: the entry is found whatever the
// case of the target, and of its "\Device\" prefix.
TEST_F(DeviceFilesTest, EntryNameDifferingInCaseOpens) {
    root_.WriteDevice("VXLNK1", "0x0002020D 5\n");
    HANDLE device = DefineAndOpen("Case1", "\\device\\vxLnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(Query(device, CrcErrors).value, 5u);
}

TEST_F(DeviceFilesTest, NoRootOrNoDeviceFolderOpensNothing) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    Define("Rootless1", "\\Device\\Vxlnk1");
    ASSERT_NE(Open("Rootless1"), INVALID_HANDLE_VALUE);

    {
        ScopedEnv missingRoot("NTROOT", root_.path() + "/no-such-root");
        EXPECT_EQ(Open("Rootless1"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    {
        TempDir empty;  // a root without a Device folder
        ScopedEnv noDevices("NTROOT", empty.path());
        EXPECT_EQ(Open("Rootless1"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

// Only an entry of the Device folder itself is a device: a target that
// climbs out of the folder, names a sub-folder, or is not a raw kernel
// device path does not open, even where the file it points at exists.
TEST_F(DeviceFilesTest, TargetsOutsideTheDeviceFolderDoNotOpen) {
    const std::string adapter = "0x0002020D 5\n";
    {
        std::ofstream(root_.path() + "/x") << adapter;
        std::filesystem::create_directory(root_.DeviceFolder() + "/sub");
        std::ofstream(root_.DeviceFolder() + "/sub/x") << adapter;
        root_.WriteDevice("Vxlnk1", adapter);
    }
    const struct {
        const char *target;
        DWORD flags;
    } cases[] = {
        {"\\Device\\..\\x", DDD_RAW_TARGET_PATH},
        {"\\Device\\..", DDD_RAW_TARGET_PATH},
        {"\\Device\\.", DDD_RAW_TARGET_PATH},
        {"\\Device\\", DDD_RAW_TARGET_PATH},
        {"\\Device", DDD_RAW_TARGET_PATH},
        {"\\Device\\sub\\x", DDD_RAW_TARGET_PATH},
        {"\\Device\\sub/x", DDD_RAW_TARGET_PATH},
        {"\\Device\\../x", DDD_RAW_TARGET_PATH},
        {"\\Device\\Vxlnk1\\", DDD_RAW_TARGET_PATH},
        {"\\Devices\\Vxlnk1", DDD_RAW_TARGET_PATH},
        {"\\??\\x", DDD_RAW_TARGET_PATH},
        {"\\Device\\Vxlnk1", 0},  // not a raw target: a DOS path
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        Define("Escape1", c.target, c.flags);
        EXPECT_EQ(Open("Escape1"), INVALID_HANDLE_VALUE);
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
}

TEST_F(DeviceFilesTest, OnlyTheDeviceNamespaceOpens) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    for (const char *name : {"\\\\.\\NoSuchAlias1", "\\\\.\\", "Vxlnk1", "\\Device\\Vxlnk1"}) {
        SCOPED_TRACE(name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(DeviceFilesTest, UnreadableAdapterDoesNotOpenForReading) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    ASSERT_EQ(chmod((root_.DeviceFolder() + "/Vxlnk1").c_str(), 0), 0);
    Define("Locked1", "\\Device\\Vxlnk1");
    EXPECT_EQ(Open("Locked1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- Whatever the entry has become. -------------------------------------------

// Puts a bound socket at path; the descriptor is left open for the test.
void MakeSocket(const std::string &path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
}

// Lines of valid statistics, the one asked for last, padded to size bytes.
std::string FileOfSize(size_t size) {
    const std::string last = "0x0002020D 42\n";
    std::string text;
    while (text.size() + 14 + last.size() <= size) {
        text += "0x01020101 1\n";  // 13 bytes
    }
    text += std::string(size - text.size() - last.size() - 1, '#') + "\n" + last;
    return text;
}

// A Device entry that is, or has become, something that is no adapter's
// file fails each query at once, without blocking and without reading it
// whole; the adapter answers again once a file is back.
TEST_F(DeviceFilesTest, AnEntryThatIsNoFileFailsAtOnce) {
    const std::string entry = root_.DeviceFolder() + "/Vxlnk1";
    const std::string elsewhere = root_.path() + "/elsewhere";
    const struct {
        const char *what;
        std::function<void()> make;
        DWORD error;
    } cases[] = {
        {"named pipe", [&] { ASSERT_EQ(mkfifo(entry.c_str(), 0644), 0); }, ERROR_GEN_FAILURE},
        {"link to a named pipe",
         [&] {
             ASSERT_EQ(mkfifo(elsewhere.c_str(), 0644), 0);
             ASSERT_EQ(symlink(elsewhere.c_str(), entry.c_str()), 0);
         },
         ERROR_GEN_FAILURE},
        {"socket", [&] { MakeSocket(entry); }, ERROR_GEN_FAILURE},
        {"link to /dev/zero", [&] { ASSERT_EQ(symlink("/dev/zero", entry.c_str()), 0); },
         ERROR_GEN_FAILURE},
        {"link to /dev/null", [&] { ASSERT_EQ(symlink("/dev/null", entry.c_str()), 0); },
         ERROR_GEN_FAILURE},
        {"folder", [&] { ASSERT_TRUE(std::filesystem::create_directory(entry)); },
         ERROR_GEN_FAILURE},
        {"link to a folder",
         [&] {
             ASSERT_TRUE(std::filesystem::create_directory(elsewhere));
             ASSERT_EQ(symlink(elsewhere.c_str(), entry.c_str()), 0);
         },
         ERROR_GEN_FAILURE},
        {"one byte over 64 KiB", [&] { root_.WriteDevice("Vxlnk1", FileOfSize(65537)); },
         ERROR_GEN_FAILURE},
        {"sparse file of 1 GiB",
         [&] {
             const int fd = open(entry.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);
             close(fd);
         },
         ERROR_GEN_FAILURE},
        {"dangling link", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), entry.c_str()), 0); },
         ERROR_DEV_NOT_EXIST},
        {"link to itself", [&] { ASSERT_EQ(symlink(entry.c_str(), entry.c_str()), 0); },
         ERROR_DEV_NOT_EXIST},
        {"removed", [] {}, ERROR_DEV_NOT_EXIST},
    };
    Define("Hostile1", "\\Device\\Vxlnk1");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
        HANDLE device = Open("Hostile1");
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        ASSERT_EQ(Query(device, CrcErrors).value, 5u);

        std::filesystem::remove(entry);
        c.make();
        for (int query = 0; query < 2; ++query) {
            const Answer answer = Query(device, CrcErrors);
            EXPECT_FALSE(answer.ok) << "answered " << answer.value;
            EXPECT_EQ(answer.error, c.error);
        }
        // Opened as it is now, it fails as well, at the open or the query.
        HANDLE again = Open("Hostile1");
        if (again != INVALID_HANDLE_VALUE) {
            EXPECT_FALSE(Query(again, CrcErrors).ok);
        }

        std::filesystem::remove(entry);
        std::filesystem::remove(elsewhere);
        root_.WriteDevice("Vxlnk1", "0x0002020D 6\n");
        EXPECT_EQ(Query(device, CrcErrors).value, 6u) << "answers again";
    }
}

TEST_F(DeviceFilesTest, AFileOfExactlyTheCapIsRead) {
    const std::string text = FileOfSize(65536);
    ASSERT_EQ(text.size(), 65536u);
    root_.WriteDevice("Vxlnk1", text);
    HANDLE device = DefineAndOpen("Cap1", "\\Device\\Vxlnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, CrcErrors).value, 42u);
}

// However the file is changed, the next query reads what the entry holds
// then, never what an earlier file held.
TEST_F(DeviceFilesTest, AChangedFileIsReadAtTheNextQuery) {
    const std::string entry = root_.DeviceFolder() + "/Vxlnk1";
    const struct {
        const char *what;
        std::function<void(const std::string &)> change;
    } cases[] = {
        {"rewritten in place", [&](const std::string &text) { root_.WriteDevice("Vxlnk1", text); }},
        {"renamed over",
         [&](const std::string &text) {
             root_.WriteDevice(".Vxlnk1.new", text);
             ASSERT_EQ(rename((root_.DeviceFolder() + "/.Vxlnk1.new").c_str(), entry.c_str()), 0);
         }},
        {"removed and written anew",
         [&](const std::string &text) {
             ASSERT_EQ(unlink(entry.c_str()), 0);
             root_.WriteDevice("Vxlnk1", text);
         }},
        {"relinked to another file",
         [&](const std::string &text) {
             root_.WriteDevice("other", text);
             ASSERT_EQ(unlink(entry.c_str()), 0);
             ASSERT_EQ(symlink("other", entry.c_str()), 0);
         }},
    };
    Define("Changed1", "\\Device\\Vxlnk1");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(entry);
        root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
        HANDLE device = Open("Changed1");
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        ASSERT_EQ(Query(device, CrcErrors).value, 5u);
        // The same length, so that only the content tells them apart.
        c.change("0x0002020D 7\n");
        EXPECT_EQ(Query(device, CrcErrors).value, 7u);
        c.change("0x0002020D 8\n");
        EXPECT_EQ(Query(device, CrcErrors).value, 8u);
    }
}

// ---- Failing adapters in the system log. ----------------------------------------

class DeviceLogTest : public DeviceFilesTest {
protected:
    // The next record must be a warning (28) or notice (29) of the daemon
    // facility naming the adapter and its file, and end in tail.
    void ExpectRecord(int priority, const std::string &tail) {
        const std::string record = listener_.Receive();
        const std::string head = "<" + std::to_string(priority) + ">";
        EXPECT_EQ(record.compare(0, head.size(), head), 0) << record;
        const std::string subject =
            "]: \\Device\\Vxlnk1 (file " + root_.DeviceFolder() + "/Vxlnk1)" + tail;
        EXPECT_NE(record.find(subject), std::string::npos)
            << "record: " << record << "\nexpected to end in: " << subject;
        EXPECT_EQ(record.size(), record.find(subject) + subject.size()) << record;
    }
    void ExpectQuiet() { EXPECT_TRUE(listener_.Quiet()) << "a record more than expected"; }

    TempDir logDir_;
    ScopedEnv socketEnv_{"NT_SYSLOG_SOCKET", logDir_.path() + "/log"};
    LogListener listener_{logDir_.path() + "/log"};
};

TEST_F(DeviceLogTest, EachChangeOfAnswerIsOneLine) {
    const std::string entry = root_.DeviceFolder() + "/Vxlnk1";
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n0x01020101 1\n");
    HANDLE device = DefineAndOpen("Logged1", "\\Device\\Vxlnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Query(device, CrcErrors).ok);
    ExpectQuiet();

    ASSERT_EQ(unlink(entry.c_str()), 0);
    ASSERT_EQ(mkfifo(entry.c_str(), 0644), 0);
    for (int query = 0; query < 3; ++query) {
        EXPECT_FALSE(Query(device, CrcErrors).ok);
        EXPECT_FALSE(Query(device, AlignmentErrors).ok);
    }
    ExpectRecord(28, " stopped answering: not a regular file");
    ExpectQuiet();

    ASSERT_EQ(unlink(entry.c_str()), 0);
    EXPECT_FALSE(Query(device, CrcErrors).ok);
    EXPECT_FALSE(Query(device, CrcErrors).ok);
    ExpectRecord(28, " still fails, now: vanished");
    ExpectQuiet();

    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n0x01020101 1\n");
    EXPECT_TRUE(Query(device, CrcErrors).ok);
    EXPECT_TRUE(Query(device, AlignmentErrors).ok);
    ExpectRecord(29, " answers again");
    ExpectQuiet();

    // A malformed line fails its statistic alone, told once.
    root_.WriteDevice("Vxlnk1", "0x01020101 1\n0x0002020D five\n");
    for (int query = 0; query < 3; ++query) {
        EXPECT_FALSE(Query(device, CrcErrors).ok);
        EXPECT_TRUE(Query(device, AlignmentErrors).ok);
    }
    ExpectRecord(28, " fails statistic 0x0002020D: malformed line 2");
    ExpectQuiet();
    root_.WriteDevice("Vxlnk1", "0x01020101 1\n0x0002020D 5\n");
    EXPECT_TRUE(Query(device, CrcErrors).ok);
    EXPECT_TRUE(Query(device, CrcErrors).ok);
    ExpectRecord(29, " answers statistic 0x0002020D again");
    ExpectQuiet();

    // A statistic the file does not list is a counter the driver does not
    // keep: the query fails, and the adapter is not failing.
    root_.WriteDevice("Vxlnk1", "0x01020101 1\n");
    EXPECT_FALSE(Query(device, CrcErrors).ok);
    ExpectQuiet();

    // Several handles on one adapter share what was told.
    HANDLE second = Open("Logged1");
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    root_.WriteDevice("Vxlnk1", std::string(70000, '#'));
    EXPECT_FALSE(Query(device, AlignmentErrors).ok);
    EXPECT_FALSE(Query(second, AlignmentErrors).ok);
    ExpectRecord(28, " stopped answering: too large");
    ExpectQuiet();
}

// ---- Calls that are wrong. ------------------------------------------------------

TEST_F(DeviceFilesTest, WrongCallsFailWithTheirError) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    HANDLE device = DefineAndOpen("Wrong1", "\\Device\\Vxlnk1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    DWORD statistic = CrcErrors;
    uint32_t out = 0xDEADBEEF;
    unsigned char wide[8] = {};
    OVERLAPPED *overlapped = reinterpret_cast<OVERLAPPED *>(wide);
    const struct {
        const char *what;
        DWORD code;
        LPVOID in;
        DWORD inSize;
        LPVOID outBuffer;
        DWORD outSize;
        LPOVERLAPPED overlapped;
        DWORD error;
    } cases[] = {
        {"another control code", 0x00170006u, &statistic, 4, &out, 4, nullptr,
         ERROR_INVALID_FUNCTION},
        {"control code 0", 0, &statistic, 4, &out, 4, nullptr, ERROR_INVALID_FUNCTION},
        {"no input", IOCTL_NDIS_QUERY_GLOBAL_STATS, nullptr, 4, &out, 4, nullptr,
         ERROR_INVALID_PARAMETER},
        {"3-byte input", IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, 3, &out, 4, nullptr,
         ERROR_INVALID_PARAMETER},
        {"no output", IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, 4, nullptr, 4, nullptr,
         ERROR_INSUFFICIENT_BUFFER},
        {"3-byte output", IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, 4, &out, 3, nullptr,
         ERROR_INSUFFICIENT_BUFFER},
        {"0-byte output", IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, 4, &out, 0, nullptr,
         ERROR_INSUFFICIENT_BUFFER},
        {"overlapped", IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, 4, &out, 4, overlapped,
         ERROR_NOT_SUPPORTED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        DWORD returned = 77;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(DeviceIoControl(device, c.code, c.in, c.inSize, c.outBuffer, c.outSize, &returned,
                                  c.overlapped),
                  FALSE);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(out, 0xDEADBEEFu);
    }

    // Larger buffers are fine: 4 bytes are read and written.
    unsigned char bigIn[16] = {};
    std::memcpy(bigIn, &statistic, sizeof statistic);
    uint32_t bigOut[4] = {1, 2, 3, 4};
    DWORD returned = 0;
    EXPECT_EQ(DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, bigIn, sizeof bigIn, bigOut,
                              sizeof bigOut, &returned, nullptr),
              TRUE);
    EXPECT_EQ(bigOut[0], 5u);
    EXPECT_EQ(bigOut[1], 2u);
    EXPECT_EQ(returned, 4u);
}

TEST_F(DeviceFilesTest, BadHandlesFail) {
    root_.WriteDevice("Vxlnk1", "0x0002020D 5\n");
    Define("Bad1", "\\Device\\Vxlnk1");
    const std::string path = "\\\\.\\Bad1";
    HANDLE closed = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    ASSERT_EQ(CloseHandle(closed), TRUE);
    EXPECT_EQ(CloseHandle(closed), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE eventSource = RegisterEventSourceA(nullptr, "DeviceTest");
    ASSERT_NE(eventSource, nullptr);
    int local = 0;
    for (HANDLE handle : {closed, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
                          static_cast<HANDLE>(&local), eventSource}) {
        SCOPED_TRACE(handle);
        const Answer answer = Query(handle, CrcErrors);
        EXPECT_FALSE(answer.ok);
        EXPECT_EQ(answer.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(answer.returned, 0u);
    }
    EXPECT_EQ(DeregisterEventSource(eventSource), TRUE);
}

}  // namespace

// ntroot device link, sim, remove and list over a temporary root, with
// fixture interface folders of the sysfs shape beside it. Counters are read
// back through the platform's own calls, as an agent reads them; every
// refusal is checked to leave Device exactly as it was.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "ntroot.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kAlignment = 0x01020101, kFcs = 0x0002020D, kSingle = 0x01020102,
                kLate = 0x01020207, kMacReceive = 0x01020203;

struct Result {
    int code;
    std::string out;
    std::string err;
};

std::string Joined(const std::vector<std::string> &args) {
    std::string line;
    for (const std::string &arg : args) {
        line += (line.empty() ? "" : " ") + arg;
    }
    return line;
}

std::string Slurp(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

size_t Lines(const std::string &text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Everything about a folder's entries that a command could change: names,
// kinds, link targets, file contents and modes, inodes.
std::string Snapshot(const std::string &folder) {
    std::vector<std::string> items;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        struct stat info;
        lstat(path.c_str(), &info);
        std::string item = entry.path().filename().string() +
                           " ino=" + std::to_string(info.st_ino) +
                           " mode=" + std::to_string(info.st_mode);
        if (S_ISLNK(info.st_mode)) {
            item += " -> " + fs::read_symlink(entry.path()).string();
        } else if (S_ISREG(info.st_mode)) {
            item += " [" + Slurp(path) + "]";
        }
        items.push_back(item);
    }
    std::sort(items.begin(), items.end());
    std::string text;
    for (const std::string &item : items) {
        text += item + "\n";
    }
    return text;
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ntroot-device-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        root_ = dir_ + "/root";
        device_ = root_ + "/Device";
        net_ = dir_ + "/net";
        setenv("NTROOT", root_.c_str(), 1);
        ASSERT_EQ(Run({"init"}).code, 0);
        // eth0: an interface as the kernel shows one, full duplex.
        MakeInterface("eth0", "full\n",
                      {{"rx_crc_errors", "77\n"},
                       {"rx_frame_errors", "4294967298\n"},
                       {"tx_window_errors", "9\n"},
                       {"rx_fifo_errors", "3\n"}});
        fs::create_directories(net_ + "/bonding_masters.d");  // a folder, not an interface
    }
    void TearDown() override {
        unsetenv("NTROOT");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static Result Run(const std::vector<std::string> &args) {
        std::ostringstream out, err;
        const int code = ntroot::Run(args, out, err);
        return {code, out.str(), err.str()};
    }

    void MakeInterface(const std::string &name, const std::string &duplex,
                       const std::map<std::string, std::string> &counters) {
        const std::string folder = net_ + "/" + name;
        fs::create_directories(folder + "/statistics");
        if (!duplex.empty()) {
            std::ofstream(folder + "/duplex") << duplex;
        }
        for (const auto &counter : counters) {
            std::ofstream(folder + "/statistics/" + counter.first) << counter.second;
        }
    }

    // A statistic of \Device\name as an agent reads it: an alias, an open,
    // one query.
    static std::optional<uint32_t> Counter(const std::string &name, DWORD statistic) {
        if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, "DEVTEST", ("\\Device\\" + name).c_str())) {
            return std::nullopt;
        }
        HANDLE device = CreateFileA("\\\\.\\DEVTEST", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, "DEVTEST", nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        uint32_t value = 0;
        DWORD returned = 0;
        const BOOL answered =
            DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, sizeof statistic,
                            &value, sizeof value, &returned, nullptr);
        CloseHandle(device);
        return answered ? std::optional<uint32_t>(value) : std::nullopt;
    }

    std::string dir_, root_, device_, net_;
};

// ---- link ----------------------------------------------------------------

TEST_F(DeviceTest, LinkMakesTheNameALinkToTheInterfaceFolder) {
    Result result = Run({"device", "link", "Vxlnk1", "eth0", "--net-dir", net_});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Linked \\Device\\Vxlnk1 to interface eth0 (" + net_ + "/eth0).\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(fs::read_symlink(device_ + "/Vxlnk1").string(), net_ + "/eth0");
    EXPECT_EQ(Counter("Vxlnk1", kFcs), 77u);
    EXPECT_EQ(Counter("Vxlnk1", kAlignment), 2u);  // 2^32 + 2, as a Counter32 wraps
    EXPECT_EQ(Counter("Vxlnk1", kLate), 0u);       // full duplex

    // A path (here relative to the current folder) names a folder directly,
    // and the link holds it made absolute.
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    result = Run({"device", "link", "Vxpci_9", "net/./eth0/", "--root=" + root_});
    fs::current_path(before);
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(fs::read_symlink(device_ + "/Vxpci_9").string(), net_ + "/eth0");

    // A name no agent probes is made, with a warning.
    result = Run({"device", "link", "spare", net_ + "/eth0"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(device_ + "/spare"));
    EXPECT_EQ(Lines(result.err), 1u);
    EXPECT_NE(result.err.find("warning: no agent probes \\Device\\spare"), std::string::npos)
        << result.err;

    result = Run({"device", "list"});
    EXPECT_NE(
        result.out.find("Vxlnk1   yes     link to interface " + net_ + "/eth0, full duplex\n"),
        std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("spare    no      link to interface"), std::string::npos)
        << result.out;
}

// The refusals of the verbs that make entries: one line, the status, and
// Device as it was.
TEST_F(DeviceTest, RefusalsChangeNothing) {
    std::ofstream(device_ + "/Vxlnk1") << "# kept\n0x0002020D 5\n";
    ASSERT_EQ(Run({"device", "link", "Vxpci1", "eth0", "--net-dir", net_}).code, 0);
    std::ofstream(dir_ + "/shared") << "0x0002020D 1\n";
    fs::create_symlink(dir_ + "/shared", device_ + "/Vxpci2");
    fs::create_directory(device_ + "/Vxpci3");
    std::ofstream(device_ + "/vxlnk7") << "0x0002020D 1\n";
    std::ofstream(device_ + "/VXLNK7") << "0x0002020D 2\n";
    const std::string netDir = "--net-dir=" + net_;

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;  // part of the one line on standard error
    };
    const std::vector<Case> cases = {
        // link: the interface, the name, the arguments.
        {{"link", "Vxlnk2", "eth9", netDir}, 1, "no network interface 'eth9' in " + net_},
        {{"link", "Vxlnk2", "eth9"}, 1, "no network interface 'eth9' in /sys/class/net"},
        {{"link", "Vxlnk2", "..", netDir}, 1, "no network interface '..'"},
        {{"link", "Vxlnk2", net_ + "/bonding_masters.d"},
         1,
         net_ +
             "/bonding_masters.d is not a network interface's folder: it has no statistics folder"},
        {{"link", "Vxlnk2", dir_ + "/absent/eth0"}, 1, "no folder " + dir_ + "/absent/eth0"},
        {{"link", "Vxlnk2", dir_ + "/shared"},
         1,
         dir_ + "/shared is not a network interface's folder: it is not a folder"},
        {{"link", "Vxlnk1", "eth0", netDir},
         1,
         "\\Device\\Vxlnk1 is taken: Device/Vxlnk1 is there (simulated adapter, 1 statistic); "
         "remove it first with 'ntroot device remove Vxlnk1'"},
        {{"link", "VXPCI1", "eth0", netDir},
         1,
         "\\Device\\VXPCI1 is taken: Device/Vxpci1 (kernel device names ignore case) is there "
         "(link to interface " +
             net_ + "/eth0, full duplex)"},
        {{"link", "vxpci3", "eth0", netDir}, 1, "is taken: Device/Vxpci3"},
        {{"link", "a/b", "eth0", netDir}, 2, "'a/b' is not a device name"},
        {{"link", "..\\registry.db", "eth0", netDir}, 2, "may not hold '/' or '\\'"},
        {{"link", "..", "eth0", netDir}, 2, "'..' is not a device name"},
        {{"link", ".", "eth0", netDir}, 2, "'.' is not a device name"},
        {{"link", "", "eth0", netDir}, 2, "the device name is empty"},
        {{"link"}, 2, "no device name given"},
        {{"link", "Vxlnk2"}, 2, "no interface given"},
        {{"link", "Vxlnk2", "eth0", "eth1"}, 2, "unexpected argument 'eth1'"},
        {{"link", "Vxlnk2", "eth0", "--force"}, 2, "unknown option '--force'"},
        {{"link", "Vxlnk2", "eth0", "--net-dir"}, 2, "--net-dir needs a value"},
        // sim: the counters, all checked before anything is written.
        {{"sim", "Vxlnk1", "fcs=7", "fcs"}, 2, "'fcs' is not STAT=VALUE"},
        {{"sim", "Vxlnk1", "fcs=7", "bogus=1"}, 2, "unknown statistic 'bogus'"},
        {{"sim", "Vxlnk1", "=5"}, 2, "'=5' names no statistic"},
        {{"sim", "Vxlnk1", "0x100000000=1"}, 2, "'0x100000000' is not a statistic identifier"},
        {{"sim", "Vxlnk1", "0x2020G=1"}, 2, "'0x2020G' is not a statistic identifier"},
        {{"sim", "Vxlnk1", "fcs="}, 2, "'fcs=' gives no value"},
        {{"sim", "Vxlnk1", "fcs=-1"}, 2, "the value of 'fcs' is not a non-negative number: '-1'"},
        {{"sim", "Vxlnk1", "fcs=+1"}, 2, "is not a non-negative number"},
        {{"sim", "Vxlnk1", "fcs=1.5"}, 2, "is not a non-negative number"},
        {{"sim", "Vxlnk1", "fcs=0x"}, 2, "is not a non-negative number"},
        {{"sim", "Vxlnk1", "fcs=18446744073709551616"},
         2,
         "the value of 'fcs' is larger than 18446744073709551615"},
        {{"sim", "Vxlnk1", "fcs=0x10000000000000000"}, 2, "is larger than"},
        {{"sim", "Vxlnk1", "fcs=1", "0x0002020D=2"},
         2,
         "the statistic 0x0002020D (fcs) is given twice"},
        {{"sim", "Vxlnk5", "alignment=1", "fcs=x"}, 2, "is not a non-negative number"},
        {{"sim", "Vxpci1", "fcs=1"},
         1,
         "Device/Vxpci1 is not a simulated adapter (link to interface " + net_ + "/eth0"},
        {{"sim", "Vxpci2", "fcs=1"}, 1, "Device/Vxpci2 is a link to the file " + dir_ + "/shared"},
        {{"sim", "Vxpci3"}, 1, "Device/Vxpci3 is not a simulated adapter (folder, not a device)"},
        {{"sim", "Vxlnk7", "fcs=1"}, 1, "several entries that \\Device\\Vxlnk7 names"},
        {{"sim", "a/b"}, 2, "'a/b' is not a device name"},
        {{"sim"}, 2, "no device name given"},
        // remove.
        {{"remove", "Vxlnk9"}, 1, "no device \\Device\\Vxlnk9 in " + device_},
        {{"remove", "Vxpci3"}, 1, "Device/Vxpci3 is a folder, not a device"},
        {{"remove", "Vxlnk7"}, 1, "several entries"},
        {{"remove", "../registry.db"}, 2, "is not a device name"},
        {{"remove", ".."}, 2, "is not a device name"},
        {{"remove"}, 2, "no device name given"},
        {{"remove", "Vxlnk1", "Vxpci1"}, 2, "unexpected argument 'Vxpci1'"},
        // list.
        {{"list", "--source"}, 2, "unknown option '--source'"},
        {{"list", "--sources=yes"}, 2, "--sources takes no value"},
    };
    const std::string device = Snapshot(device_);
    const std::string net = Snapshot(net_ + "/eth0") + Snapshot(net_ + "/eth0/statistics");
    const std::string shared = Slurp(dir_ + "/shared");
    for (const Case &c : cases) {
        std::vector<std::string> args{"device"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(Joined(args));
        const Result result = Run(args);
        EXPECT_EQ(result.code, c.code);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(Lines(result.err), 1u) << result.err;
        EXPECT_EQ(result.err.rfind("ntroot", 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(Snapshot(device_), device);
    }
    EXPECT_EQ(Snapshot(net_ + "/eth0") + Snapshot(net_ + "/eth0/statistics"), net);
    EXPECT_EQ(Slurp(dir_ + "/shared"), shared);
}

TEST_F(DeviceTest, TheVerbsNeedARoot) {
    fs::remove_all(root_);
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"device", "link", "Vxlnk1", "eth0", "--net-dir", net_},
             {"device", "sim", "Vxlnk1"},
             {"device", "remove", "Vxlnk1"}}) {
        SCOPED_TRACE(Joined(args));
        const Result result = Run(args);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err, "ntroot: no NT root at " + root_ + "; run 'ntroot init'\n");
    }
    EXPECT_FALSE(fs::exists(root_));
}

// ---- sim -----------------------------------------------------------------

TEST_F(DeviceTest, ANewSimulatedAdapterListsEveryStatistic) {
    Result result = Run({"device", "sim", "Vxlnk1"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "Made simulated adapter \\Device\\Vxlnk1 with 11 statistics, all at 0.\n");
    EXPECT_EQ(result.err, "");
    for (const DWORD statistic :
         {0x01020101u, 0x0002020Du, 0x01020102u, 0x01020103u, 0x01020205u, 0x01020201u, 0x01020207u,
          0x01020202u, 0x01020204u, 0x01020206u, 0x01020203u}) {
        EXPECT_EQ(Counter("Vxlnk1", statistic), 0u) << std::hex << statistic;
    }
    struct stat info;
    ASSERT_EQ(stat((device_ + "/Vxlnk1").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0444, 0444u);  // readable by a service run as another user

    // Identifiers in hexadecimal or decimal, names in any case, values in
    // either base up to 2^64 - 1 (served modulo 2^32).
    result =
        Run({"device", "sim", "Vxpci_2", "0x0002020D=5", "16908546=0x10", "Mac-Receive=4294967301",
             "late-collisions=18446744073709551615", "0x00020101=9"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "Made simulated adapter \\Device\\Vxpci_2 with 12 statistics: 5 set, the rest at 0.\n");
    EXPECT_EQ(result.err,
              "ntroot: warning: the Ethernet statistics agent never asks statistic "
              "0x00020101\n");
    EXPECT_EQ(Counter("Vxpci_2", kFcs), 5u);
    EXPECT_EQ(Counter("Vxpci_2", kSingle), 16u);
    EXPECT_EQ(Counter("Vxpci_2", kMacReceive), 5u);
    EXPECT_EQ(Counter("Vxpci_2", kLate), 0xFFFFFFFFu);
    EXPECT_EQ(Counter("Vxpci_2", kAlignment), 0u);
    EXPECT_EQ(Counter("Vxpci_2", 0x00020101), 9u);

    result = Run({"device", "sim", "Spare1", "fcs=1"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(Counter("Spare1", kFcs), 1u);
    EXPECT_EQ(Lines(result.err), 1u);
    EXPECT_NE(result.err.find("warning: no agent probes \\Device\\Spare1"), std::string::npos);

    // Nothing but the adapters is left in Device (no temporary files).
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(device_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Spare1", "Vxlnk1", "Vxpci_2"}));
}

TEST_F(DeviceTest, ASimEditKeepsCommentsAndOtherLines) {
    const std::string path = device_ + "/Vxlnk1";
    std::ofstream(path) << "# Bench adapter: keep this comment\n"
                           "\n"
                           "0x01020101   7   # alignment, spaced as I like\n"
                           "16908546\t2\n"   // single-collisions, in decimal
                           "0x0002020D 1\n"  // fcs, an early line
                           "not a statistic line\n"
                           "0x00020101 99 # something else\n"
                           "0x0002020d oops # fcs again: the line that counts, malformed\n"
                           "0x01020203";  // identifier alone, no newline
    chmod(path.c_str(), 0640);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_EQ(Counter("Vxlnk1", kFcs), std::nullopt);  // the malformed last line counts

    const Result result = Run(
        {"device", "sim", "vxlnk1", "fcs=6", "single-collisions=0x20", "mac-receive=3", "sqe=4"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "Changed simulated adapter \\Device\\Vxlnk1: 4 counters set (1 of them on new lines).\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Slurp(path),
              "# Bench adapter: keep this comment\n"
              "\n"
              "0x01020101   7   # alignment, spaced as I like\n"
              "16908546\t32\n"
              "0x0002020D 6\n"
              "not a statistic line\n"
              "0x00020101 99 # something else\n"
              "0x0002020d 6 # fcs again: the line that counts, malformed\n"
              "0x01020203 3\n"
              "0x01020205 4            # sqe: dot3StatsSQETestErrors\n");
    EXPECT_EQ(Counter("Vxlnk1", kFcs), 6u);
    EXPECT_EQ(Counter("Vxlnk1", kAlignment), 7u);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);  // its mode kept
    EXPECT_NE(after.st_ino, before.st_ino);   // replaced whole, not rewritten in place

    // No counters: nothing to change.
    const std::string text = Slurp(path);
    const Result idle = Run({"device", "sim", "Vxlnk1"});
    EXPECT_EQ(idle.code, 0);
    EXPECT_EQ(idle.out,
              "\\Device\\Vxlnk1 is a simulated adapter already; no counters given, "
              "nothing changed.\n");
    EXPECT_EQ(Slurp(path), text);
}

// ---- remove --------------------------------------------------------------

TEST_F(DeviceTest, RemoveTakesAwayTheEntryAndNeverWhatALinkPointsTo) {
    ASSERT_EQ(Run({"device", "link", "Vxlnk1", "eth0", "--net-dir", net_}).code, 0);
    ASSERT_EQ(Run({"device", "sim", "Vxpci1", "fcs=3"}).code, 0);
    fs::create_symlink(dir_ + "/nowhere", device_ + "/Vxlnk2");
    const std::string interface = Snapshot(net_ + "/eth0") + Snapshot(net_ + "/eth0/statistics");

    struct Case {
        std::string name;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"Vxlnk1",
         "Removed \\Device\\Vxlnk1 (link to interface " + net_ + "/eth0, full duplex).\n"},
        {"VXPCI1", "Removed \\Device\\Vxpci1 (simulated adapter, 11 statistics).\n"},
        {"Vxlnk2", "Removed \\Device\\Vxlnk2 (broken link to " + dir_ + "/nowhere).\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = Run({"device", "remove", c.name});
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_TRUE(fs::is_empty(device_));
    EXPECT_EQ(Snapshot(net_ + "/eth0") + Snapshot(net_ + "/eth0/statistics"), interface);
    EXPECT_EQ(Counter("Vxlnk1", kFcs), std::nullopt);

    // The name is free again.
    EXPECT_EQ(Run({"device", "link", "Vxlnk1", "eth0", "--net-dir", net_}).code, 0);
}

// ---- list ----------------------------------------------------------------

TEST_F(DeviceTest, ListShowsEachStatisticsValueAndSource) {
    ASSERT_EQ(Run({"device", "link", "Vxlnk1", "eth0", "--net-dir", net_}).code, 0);
    MakeInterface("eth1", "half\n", {{"tx_window_errors", "12\n"}});
    ASSERT_EQ(Run({"device", "link", "Vxlnk2", "eth1", "--net-dir", net_}).code, 0);
    MakeInterface("veth0", "", {});
    ASSERT_EQ(Run({"device", "link", "Vxlnk3", "veth0", "--net-dir", net_}).code, 0);
    std::ofstream(device_ + "/Vxpci1") << "0x0002020D 5\n0x01020101 x\n";

    const Result result = Run({"device", "list", "--sources"});
    ASSERT_EQ(result.code, 0) << result.err;
    const std::vector<std::string> expected = {
        "Vxlnk1  yes     link to interface " + net_ +
            "/eth0, full duplex\n"
            "    0x01020101  alignment             dot3StatsAlignmentErrors                     2  "
            "statistics/rx_frame_errors\n"
            "    0x0002020D  fcs                   dot3StatsFCSErrors                          77  "
            "statistics/rx_crc_errors\n",
        "    0x01020207  late-collisions       dot3StatsLateCollisions                      0  "
        "statistics/tx_window_errors in half duplex, else 0\n"
        "    0x01020202  excessive-collisions  dot3StatsExcessiveCollisions                 0  "
        "statistics/tx_aborted_errors in half duplex, else 0\n"
        "    0x01020204  mac-transmit          dot3StatsInternalMacTransmitErrors       fails  "
        "statistics/tx_fifo_errors (the interface keeps no such counter)\n",
        "Vxlnk2  yes     link to interface " + net_ + "/eth1, half duplex\n",
        "    0x01020207  late-collisions       dot3StatsLateCollisions                     12  "
        "statistics/tx_window_errors in half duplex, else 0\n",
        "Vxlnk3  yes     link to interface " + net_ + "/veth0, duplex unknown\n",
        "Vxpci1  yes     simulated adapter, 1 statistic, 1 malformed line\n"
        "    0x01020101  alignment             dot3StatsAlignmentErrors                 fails  "
        "its line in the file is malformed\n"
        "    0x0002020D  fcs                   dot3StatsFCSErrors                           5\n"
        "    0x01020102  single-collisions     dot3StatsSingleCollisionFrames           fails  "
        "no line for it in the file\n",
        "4 entries, 4 of them probed by the agents.\n",
    };
    for (const std::string &part : expected) {
        EXPECT_NE(result.out.find(part), std::string::npos) << "missing:\n"
                                                            << part << "in:\n"
                                                            << result.out;
    }
    // Without --sources, one line an entry.
    EXPECT_EQ(Lines(Run({"device", "list"}).out), 7u);
}

TEST_F(DeviceTest, EveryVerbHasHelp) {
    for (const char *verb : {"link", "sim", "remove", "list"}) {
        SCOPED_TRACE(verb);
        const Result result = Run({"device", verb, "--help"});
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out.rfind(std::string("Usage: ntroot device ") + verb, 0), 0u);
        EXPECT_EQ(result.err, "");
    }
    const std::string sim = Run({"device", "sim", "-h"}).out;
    for (const char *row :
         {"  alignment             0x01020101  dot3StatsAlignmentErrors (2)\n",
          "  fcs                   0x0002020D  dot3StatsFCSErrors (3)\n",
          "  mac-receive           0x01020203  dot3StatsInternalMacReceiveErrors (16)\n"}) {
        EXPECT_NE(sim.find(row), std::string::npos) << row;
    }
    const std::string device = Run({"device", "--help"}).out;
    for (const char *verb : {"  list ", "  link ", "  sim ", "  remove "}) {
        EXPECT_NE(device.find(verb), std::string::npos) << verb;
    }
}

// The program itself: the streams and statuses a script sees.
TEST_F(DeviceTest, TheProgramReportsOnItsStreams) {
    struct Case {
        std::string args;
        int code;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"device sim Vxlnk1 fcs=12", 0,
         "Made simulated adapter \\Device\\Vxlnk1 with 11 statistics: 1 set, the rest at 0.\n", ""},
        {"device sim Vxlnk1 fcs=twelve", 2, "",
         "ntroot device sim: the value of 'fcs' is not a non-negative number: 'twelve' (see "
         "'ntroot device sim --help')\n"},
        {"device link Vxlnk1 eth0 --net-dir " + net_, 1, "",
         "ntroot: \\Device\\Vxlnk1 is taken: Device/Vxlnk1 is there (simulated adapter, 11 "
         "statistics); remove it first with 'ntroot device remove Vxlnk1'\n"},
        {"device remove Vxlnk1", 0,
         "Removed \\Device\\Vxlnk1 (simulated adapter, 11 statistics).\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = dir_ + "/out", err = dir_ + "/err";
        const int status = std::system(
            (std::string(NTROOT_PROGRAM) + " " + c.args + " >" + out + " 2>" + err).c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.code);
        EXPECT_EQ(Slurp(out), c.out);
        EXPECT_EQ(Slurp(err), c.err);
    }
}

}  // namespace

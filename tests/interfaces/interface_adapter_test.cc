// Real adapters: Linux network interfaces answering the NDIS statistics,
// over fixture folders of the sysfs shape and canned ethtool replies, and
// once over a real interface in a network namespace of the test's own.
#include <gtest/gtest.h>

#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <fcntl.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "ethtool_stats.h"
#include "extension_agent.h"
#include "../platform/log_listener.h"
#include "nt/adapter_statistics.h"
#include "nt/ntroot.h"
#include "nt/win32.h"
#include "scoped_fixtures.h"

namespace {

constexpr DWORD Alignment = 0x01020101, Fcs = 0x0002020D, Single = 0x01020102, Late = 0x01020207,
                Excessive = 0x01020202, MacTransmit = 0x01020204;

// ---- Canned netlink replies. ---------------------------------------------

void Put(std::vector<uint8_t> *message, uint16_t type, const void *payload, size_t size) {
    nlattr header{static_cast<uint16_t>(NLA_HDRLEN + size), type};
    const size_t at = message->size();
    message->resize(at + NLA_ALIGN(NLA_HDRLEN + size), 0);
    std::memcpy(message->data() + at, &header, sizeof header);
    if (size != 0) {
        std::memcpy(message->data() + at + NLA_HDRLEN, payload, size);
    }
}

void SetLength16(std::vector<uint8_t> *message, size_t at) {
    const uint16_t length = static_cast<uint16_t>(message->size() - at);
    std::memcpy(message->data() + at, &length, sizeof length);
}

// One STATS_GET reply holding an eth-mac group with the counters given, an
// unknown attribute of a newer kernel, and the acknowledgement after it.
std::vector<uint8_t> Reply(const std::map<uint16_t, uint64_t> &counters,
                           uint32_t group = ETHTOOL_STATS_ETH_MAC) {
    std::vector<uint8_t> message(NLMSG_HDRLEN + GENL_HDRLEN, 0);
    genlmsghdr generic{ETHTOOL_MSG_STATS_GET_REPLY, ETHTOOL_GENL_VERSION, 0};
    std::memcpy(message.data() + NLMSG_HDRLEN, &generic, sizeof generic);
    const uint32_t source = 0;
    Put(&message, 5 /* a newer kernel's ETHTOOL_A_STATS_SRC */, &source, sizeof source);
    const size_t grp = message.size();
    Put(&message, ETHTOOL_A_STATS_GRP | NLA_F_NESTED, nullptr, 0);
    Put(&message, ETHTOOL_A_STATS_GRP_ID, &group, sizeof group);
    for (const auto &counter : counters) {
        const size_t stat = message.size();
        Put(&message, ETHTOOL_A_STATS_GRP_STAT | NLA_F_NESTED, nullptr, 0);
        Put(&message, counter.first, &counter.second, sizeof counter.second);
        SetLength16(&message, stat);
    }
    SetLength16(&message, grp);
    nlmsghdr header{static_cast<uint32_t>(message.size()), 0x20, 0, 1, 0};
    std::memcpy(message.data(), &header, sizeof header);

    std::vector<uint8_t> ack(NLMSG_HDRLEN + sizeof(nlmsgerr), 0);
    nlmsghdr ackHeader{static_cast<uint32_t>(ack.size()), NLMSG_ERROR, 0, 1, 0};
    std::memcpy(ack.data(), &ackHeader, sizeof ackHeader);
    message.insert(message.end(), ack.begin(), ack.end());
    return message;
}

std::vector<uint8_t> ErrorReply(int error) {
    std::vector<uint8_t> message(NLMSG_HDRLEN + sizeof(nlmsgerr), 0);
    nlmsghdr header{static_cast<uint32_t>(message.size()), NLMSG_ERROR, 0, 1, 0};
    std::memcpy(message.data(), &header, sizeof header);
    const int negative = -error;
    std::memcpy(message.data() + NLMSG_HDRLEN, &negative, sizeof negative);
    return message;
}

// ---- Fixture interfaces. -------------------------------------------------

class InterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        alarm(60);  // a read that blocks fails the test instead of hanging it
        char folder[] = "/tmp/interfaces-test.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        top_ = folder;
        mkdir((top_ + "/root").c_str(), 0755);
        mkdir((top_ + "/root/Device").c_str(), 0755);
        mkdir((top_ + "/net").c_str(), 0755);
        setenv("NTROOT", (top_ + "/root").c_str(), 1);
        nt::SetEthtoolTransportForTesting(
            [this](const std::string &, std::vector<uint8_t> *reply) -> DWORD {
                ++ethtoolQueries_;
                if (!ethtool_) {
                    return ERROR_NOT_SUPPORTED;
                }
                *reply = *ethtool_;
                return ERROR_SUCCESS;
            });
    }
    void TearDown() override {
        alarm(0);
        nt::SetEthtoolTransportForTesting(nullptr);
        for (HANDLE handle : handles_) {
            CloseHandle(handle);
        }
        std::system(("rm -rf '" + top_ + "'").c_str());
        unsetenv("NTROOT");
    }

    // An interface folder eth0 with these statistics files and duplex.
    std::string MakeInterface(const std::map<std::string, std::string> &files, const char *duplex,
                              const std::string &name = "eth0") {
        const std::string folder = top_ + "/net/" + name;
        mkdir(folder.c_str(), 0755);
        mkdir((folder + "/statistics").c_str(), 0755);
        for (const auto &file : files) {
            std::ofstream(folder + "/statistics/" + file.first) << file.second << "\n";
        }
        if (duplex != nullptr) {
            std::ofstream(folder + "/duplex") << duplex << "\n";
        }
        return folder;
    }

    // Opens the folder as the adapter Vxlnk1 (a link in Device/).
    HANDLE Open(const std::string &folder) {
        const std::string link = top_ + "/root/Device/Vxlnk1";
        unlink(link.c_str());
        EXPECT_EQ(symlink(folder.c_str(), link.c_str()), 0);
        DefineDosDeviceA(DDD_RAW_TARGET_PATH, "IFTEST", "\\Device\\Vxlnk1");
        HANDLE handle = CreateFileA("\\\\.\\IFTEST", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, "IFTEST", nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handles_.push_back(handle);
        }
        return handle;
    }

    // The statistic's value, or nothing when the query fails.
    static std::optional<uint32_t> Query(HANDLE device, DWORD statistic) {
        DWORD value = 0, returned = 0;
        if (!DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, sizeof statistic,
                             &value, sizeof value, &returned, nullptr)) {
            return std::nullopt;
        }
        return value;
    }

    std::string top_;
    std::optional<std::vector<uint8_t>> ethtool_;  // the kernel's answer; none: not supported
    int ethtoolQueries_ = 0;
    std::vector<HANDLE> handles_;
};

const std::map<std::string, std::string> AllFiles = {
    {"rx_frame_errors", "1"},   {"rx_crc_errors", "2"},     {"tx_heartbeat_errors", "3"},
    {"tx_window_errors", "4"},  {"tx_aborted_errors", "5"}, {"tx_fifo_errors", "6"},
    {"tx_carrier_errors", "7"}, {"rx_fifo_errors", "8"},    {"rx_packets", "999"},
};

const std::map<uint16_t, uint64_t> AllEthMac = {
    {ETHTOOL_A_STATS_ETH_MAC_7_ALIGN_ERR, 11},  {ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, 12},
    {ETHTOOL_A_STATS_ETH_MAC_3_SINGLE_COL, 13}, {ETHTOOL_A_STATS_ETH_MAC_4_MULTI_COL, 14},
    {ETHTOOL_A_STATS_ETH_MAC_9_TX_DEFER, 15},   {ETHTOOL_A_STATS_ETH_MAC_10_LATE_COL, 16},
    {ETHTOOL_A_STATS_ETH_MAC_11_XS_COL, 17},    {ETHTOOL_A_STATS_ETH_MAC_12_TX_INT_ERR, 18},
    {ETHTOOL_A_STATS_ETH_MAC_13_CS_ERR, 19},    {ETHTOOL_A_STATS_ETH_MAC_15_RX_INT_ERR, 20},
    {ETHTOOL_A_STATS_ETH_MAC_2_TX_PKT, 999},
};

// Every column's source, by duplex and by what ethtool gives. -1: fails.
TEST_F(InterfaceTest, EachStatisticFromItsSource) {
    struct Case {
        const char *name;
        const char *duplex;
        bool ethMac;                    // the driver keeps every eth-mac counter
        std::vector<int64_t> expected;  // in kAdapterStatistics' order (columns)
    } cases[] = {
        // alignment FCS single multiple SQE deferred late excessive MACtx carrier MACrx
        {"files, half duplex", "half", false, {1, 2, -1, -1, 3, -1, 4, 5, 6, 7, 8}},
        {"files, full duplex", "full", false, {1, 2, 0, 0, 0, 0, 0, 0, 6, 0, 8}},
        {"files, unknown duplex", "unknown", false, {1, 2, 0, 0, 0, 0, 0, 0, 6, 0, 8}},
        {"files, no duplex file", nullptr, false, {1, 2, 0, 0, 0, 0, 0, 0, 6, 0, 8}},
        {"eth-mac, full duplex", "full", true, {11, 12, 13, 14, 0, 15, 16, 17, 18, 19, 20}},
        {"eth-mac, half duplex", "half", true, {11, 12, 13, 14, 3, 15, 16, 17, 18, 19, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ethtool_ = Reply(c.ethMac ? AllEthMac : std::map<uint16_t, uint64_t>{});
        HANDLE device =
            Open(MakeInterface(AllFiles, c.duplex,
                               std::string("if") + c.name[0] + std::to_string(c.expected[0]) +
                                   (c.duplex ? c.duplex : "x")));
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        for (size_t i = 0; i < nt::kAdapterStatisticCount; ++i) {
            const DWORD statistic = nt::kAdapterStatistics[i].identifier;
            const auto value = Query(device, statistic);
            if (c.expected[i] < 0) {
                EXPECT_FALSE(value) << std::hex << statistic;
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
            } else {
                ASSERT_TRUE(value) << std::hex << statistic;
                EXPECT_EQ(*value, static_cast<uint32_t>(c.expected[i])) << std::hex << statistic;
            }
        }
    }
}

TEST_F(InterfaceTest, CountersWrapAtThirtyTwoBits) {
    ethtool_ = Reply({{ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, (uint64_t{1} << 32) + 7}});
    HANDLE device = Open(MakeInterface({{"rx_frame_errors", "4294967301"}}, "full"));
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, Fcs), 7u);
    EXPECT_EQ(Query(device, Alignment), 5u);
}

TEST_F(InterfaceTest, ACounterKeepsTheSourceItHadAtOpen) {
    ethtool_ = Reply({{ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, 12}});
    HANDLE device = Open(MakeInterface(AllFiles, "full"));
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, Fcs), 12u);
    EXPECT_EQ(Query(device, Alignment), 1u);

    // The driver now gives alignment too and no longer FCS: alignment stays
    // with its file, and FCS fails rather than jump to the file.
    ethtool_ = Reply({{ETHTOOL_A_STATS_ETH_MAC_7_ALIGN_ERR, 11}});
    EXPECT_EQ(Query(device, Alignment), 1u);
    EXPECT_FALSE(Query(device, Fcs));
}

TEST_F(InterfaceTest, CountersAreReadAtEveryQuery) {
    ethtool_ = Reply({});
    const std::string folder = MakeInterface(AllFiles, "half");
    HANDLE device = Open(folder);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, Fcs), 2u);
    std::ofstream(folder + "/statistics/rx_crc_errors") << "3\n";
    EXPECT_EQ(Query(device, Fcs), 3u);
    std::ofstream(folder + "/duplex") << "full\n";
    EXPECT_EQ(Query(device, Late), 0u) << "full duplex now";
}

// The service names each request it answers: the statistics of one request
// share one check of the entry, one duplex read and one ethtool answer, and
// the next request sees every change.
TEST_F(InterfaceTest, ANamedRequestSharesItsChecksAndTheNextSeesEveryChange) {
    struct Unnamed {
        ~Unnamed() { nt::SetDeviceRequest(0); }
    } unnamed;
    ethtool_ = Reply(
        {{ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, 12}, {ETHTOOL_A_STATS_ETH_MAC_12_TX_INT_ERR, 18}});
    const std::string folder = MakeInterface(AllFiles, "half");
    HANDLE device = Open(folder);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    nt::SetDeviceRequest(1);
    int asked = ethtoolQueries_;
    EXPECT_EQ(Query(device, Fcs), 12u);
    EXPECT_EQ(Query(device, MacTransmit), 18u);
    EXPECT_EQ(Query(device, Late), 4u);
    EXPECT_EQ(ethtoolQueries_ - asked, 1) << "one ethtool answer for the request";

    ethtool_ = Reply(
        {{ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, 13}, {ETHTOOL_A_STATS_ETH_MAC_12_TX_INT_ERR, 19}});
    std::ofstream(folder + "/statistics/tx_window_errors") << "40\n";
    std::ofstream(folder + "/statistics/tx_aborted_errors") << "50\n";
    nt::SetDeviceRequest(2);
    asked = ethtoolQueries_;
    EXPECT_EQ(Query(device, Fcs), 13u);
    EXPECT_EQ(Query(device, MacTransmit), 19u);
    EXPECT_EQ(Query(device, Late), 40u);
    EXPECT_EQ(ethtoolQueries_ - asked, 1);
    std::ofstream(folder + "/duplex") << "full\n";
    nt::SetDeviceRequest(3);
    EXPECT_EQ(Query(device, Excessive), 0u) << "full duplex now";

    // No request named: everything is asked again at every query.
    nt::SetDeviceRequest(0);
    asked = ethtoolQueries_;
    EXPECT_EQ(Query(device, Fcs), 13u);
    EXPECT_EQ(Query(device, MacTransmit), 19u);
    EXPECT_EQ(ethtoolQueries_ - asked, 2);
}

TEST_F(InterfaceTest, AVanishedInterface) {
    ethtool_ = Reply({{ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, 12}});
    const std::string folder = MakeInterface(AllFiles, "full");
    HANDLE device = Open(folder);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::system(("rm -rf '" + folder + "'").c_str());
    EXPECT_FALSE(Query(device, Alignment));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    EXPECT_FALSE(Query(device, Single)) << "not 0: the interface has gone";
    ethtool_ = ErrorReply(ENODEV);
    EXPECT_FALSE(Query(device, Fcs));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));

    // A link whose interface has gone does not open.
    EXPECT_EQ(Open(folder), INVALID_HANDLE_VALUE);
}

TEST_F(InterfaceTest, AFolderThatIsNoInterfaceDoesNotOpen) {
    const std::string folder = top_ + "/net/plain";
    mkdir(folder.c_str(), 0755);
    EXPECT_EQ(Open(folder), INVALID_HANDLE_VALUE);
}

TEST_F(InterfaceTest, AMalformedCounterFileFailsThatStatisticOnly) {
    ethtool_ = Reply({});
    HANDLE device =
        Open(MakeInterface({{"rx_crc_errors", "lots"}, {"rx_frame_errors", "4"}}, "half"));
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Query(device, Fcs));
    EXPECT_EQ(Query(device, Alignment), 4u);
}

TEST_F(InterfaceTest, FixtureFoldersAreNotAskedOfTheKernel) {
    nt::SetEthtoolTransportForTesting(nullptr);
    HANDLE device = Open(MakeInterface(AllFiles, "full", "lo"));  // a name the kernel knows
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Query(device, Fcs), 2u);
}

// A counter file of a fixture folder that is not a counter's file fails
// that statistic at once; the others answer.
TEST_F(InterfaceTest, ACounterFileThatIsNoFileFailsItsStatisticAtOnce) {
    ethtool_ = Reply({});
    const std::string folder = MakeInterface(AllFiles, "full");
    const std::string file = folder + "/statistics/rx_crc_errors";
    const struct {
        const char *what;
        std::function<void()> make;
    } cases[] = {
        {"named pipe", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0644), 0); }},
        {"link to /dev/zero", [&] { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); }},
        {"folder", [&] { ASSERT_EQ(mkdir(file.c_str(), 0755), 0); }},
        {"sparse file of 1 GiB",
         [&] {
             const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);
             close(fd);
         }},
        {"65 digits", [&] { std::ofstream(file) << std::string(65, '1'); }},
    };
    HANDLE device = Open(folder);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -rf '" + file + "'").c_str());
        c.make();
        EXPECT_FALSE(Query(device, Fcs));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        EXPECT_EQ(Query(device, Alignment), 1u);
        std::system(("rm -rf '" + file + "'").c_str());
        std::ofstream(file) << "9\n";
        EXPECT_EQ(Query(device, Fcs), 9u) << "answers again";
    }
}

// However the interface is changed or replaced, the next query reads the
// interface the entry leads to then.
TEST_F(InterfaceTest, AReplacedInterfaceIsReadAtTheNextQuery) {
    ethtool_ = Reply({});
    const std::string folder = top_ + "/net/eth0";
    const std::string file = folder + "/statistics/rx_crc_errors";
    const struct {
        const char *what;
        std::function<void(const std::string &)> change;
    } cases[] = {
        {"counter rewritten in place",
         [&](const std::string &value) { std::ofstream(file) << value; }},
        {"counter renamed over",
         [&](const std::string &value) {
             std::ofstream(file + ".new") << value;
             ASSERT_EQ(rename((file + ".new").c_str(), file.c_str()), 0);
         }},
        {"folder removed and made again",
         [&](const std::string &value) {
             std::system(("rm -rf '" + folder + "'").c_str());
             MakeInterface({{"rx_crc_errors", value}}, "full");
         }},
        {"folder renamed away and another made",
         [&](const std::string &value) {
             std::system(("rm -rf '" + folder + ".old'").c_str());
             ASSERT_EQ(rename(folder.c_str(), (folder + ".old").c_str()), 0);
             MakeInterface({{"rx_crc_errors", value}}, "full");
         }},
        {"entry linked to another interface",
         [&](const std::string &value) {
             const std::string other =
                 MakeInterface({{"rx_crc_errors", value}}, "full", "eth" + value);
             const std::string link = top_ + "/root/Device/Vxlnk1";
             ASSERT_EQ(unlink(link.c_str()), 0);
             ASSERT_EQ(symlink(other.c_str(), link.c_str()), 0);
         }},
    };
    // Unnamed queries, and queries each in a request of its own, as the
    // service asks.
    struct Unnamed {
        ~Unnamed() { nt::SetDeviceRequest(0); }
    } unnamed;
    uint64_t request = 0;
    for (const bool named : {false, true}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (named ? ", named requests" : ""));
            const auto next = [&] { nt::SetDeviceRequest(named ? ++request : 0); };
            std::system(("rm -rf '" + folder + "'").c_str());
            next();
            HANDLE device = Open(MakeInterface({{"rx_crc_errors", "5"}}, "full"));
            ASSERT_NE(device, INVALID_HANDLE_VALUE);
            ASSERT_EQ(Query(device, Fcs), 5u);
            c.change("7");
            next();
            EXPECT_EQ(Query(device, Fcs), 7u);
            c.change("8");
            next();
            EXPECT_EQ(Query(device, Fcs), 8u);
        }
    }
}

TEST_F(InterfaceTest, AnInterfaceThatVanishesAndComesBackIsLoggedOnce) {
    test_support::TempDir logDir;
    test_support::ScopedEnv socketEnv("NT_SYSLOG_SOCKET", logDir.path() + "/log");
    platform_test::LogListener listener(logDir.path() + "/log");
    ethtool_ = Reply({});
    const std::string folder = MakeInterface(AllFiles, "full", "eth5");
    HANDLE device = Open(folder);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Query(device, Fcs));

    std::system(("rm -rf '" + folder + "'").c_str());
    for (int query = 0; query < 3; ++query) {
        EXPECT_FALSE(Query(device, Fcs));
        EXPECT_FALSE(Query(device, Single));
    }
    std::string record = listener.Receive();
    EXPECT_NE(record.find("]: \\Device\\Vxlnk1 (interface eth5) stopped answering: vanished"),
              std::string::npos)
        << record;
    EXPECT_TRUE(listener.Quiet());

    MakeInterface({{"rx_crc_errors", "lots"}, {"rx_frame_errors", "4"}}, "full", "eth5");
    for (int query = 0; query < 3; ++query) {
        EXPECT_FALSE(Query(device, Fcs));
        EXPECT_EQ(Query(device, Alignment), 4u);
    }
    record = listener.Receive();
    EXPECT_NE(record.find("]: \\Device\\Vxlnk1 (interface eth5) answers again"), std::string::npos)
        << record;
    record = listener.Receive();
    EXPECT_NE(record.find("]: \\Device\\Vxlnk1 (interface eth5) fails statistic 0x0002020D "
                          "(statistics/rx_crc_errors): malformed counter"),
              std::string::npos)
        << record;
    EXPECT_TRUE(listener.Quiet());
    // A counter the interface does not keep is no failure.
    EXPECT_FALSE(Query(device, MacTransmit));
    EXPECT_TRUE(listener.Quiet());
}

// ---- The messages themselves. --------------------------------------------

TEST(EthtoolMessages, MalformedAndErrorReplies) {
    nt::EthMacCounters counters;
    const std::vector<uint8_t> good = Reply(AllEthMac);
    ASSERT_EQ(nt::ParseStatsReply(good.data(), good.size(), &counters), ERROR_SUCCESS);
    EXPECT_EQ(counters.size(), AllEthMac.size());
    EXPECT_EQ(counters.at(ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR), 12u);

    const std::vector<uint8_t> otherGroup = Reply(AllEthMac, ETHTOOL_STATS_ETH_PHY);
    ASSERT_EQ(nt::ParseStatsReply(otherGroup.data(), otherGroup.size(), &counters), ERROR_SUCCESS);
    EXPECT_TRUE(counters.empty());

    for (size_t cut : {good.size() - 1, size_t{NLMSG_HDRLEN + 3}, size_t{30}}) {
        std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(cut));
        // The message header still claims the whole length.
        EXPECT_EQ(nt::ParseStatsReply(truncated.data(), truncated.size(), &counters),
                  static_cast<DWORD>(ERROR_INVALID_DATA))
            << cut;
    }
    std::vector<uint8_t> badAttribute = good;
    const uint16_t tooLong = 0xFFF0;
    std::memcpy(badAttribute.data() + NLMSG_HDRLEN + GENL_HDRLEN, &tooLong, sizeof tooLong);
    EXPECT_EQ(nt::ParseStatsReply(badAttribute.data(), badAttribute.size(), &counters),
              static_cast<DWORD>(ERROR_INVALID_DATA));

    const std::vector<uint8_t> noDevice = ErrorReply(ENODEV);
    EXPECT_EQ(nt::ParseStatsReply(noDevice.data(), noDevice.size(), &counters),
              static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
}

TEST(EthtoolMessages, TheRequestNamesTheDeviceAndTheEthMacGroupWithNestedFlags) {
    const std::vector<uint8_t> request = nt::BuildStatsRequest(0x1c, 9, "eth7");
    nlmsghdr header;
    std::memcpy(&header, request.data(), sizeof header);
    EXPECT_EQ(header.nlmsg_len, request.size());
    EXPECT_EQ(header.nlmsg_type, 0x1c);
    EXPECT_EQ(header.nlmsg_seq, 9u);
    EXPECT_TRUE(header.nlmsg_flags & NLM_F_REQUEST);
    EXPECT_FALSE(header.nlmsg_flags & NLM_F_ACK) << "the reply alone answers";
    genlmsghdr generic;
    std::memcpy(&generic, request.data() + NLMSG_HDRLEN, sizeof generic);
    EXPECT_EQ(generic.cmd, ETHTOOL_MSG_STATS_GET);

    std::map<uint16_t, std::vector<uint8_t>> top;
    for (size_t at = NLMSG_HDRLEN + GENL_HDRLEN; at < request.size();) {
        nlattr attribute;
        std::memcpy(&attribute, request.data() + at, sizeof attribute);
        EXPECT_TRUE(attribute.nla_type & NLA_F_NESTED) << "the kernel wants nests flagged";
        top[attribute.nla_type & NLA_TYPE_MASK].assign(
            request.begin() + static_cast<long>(at + NLA_HDRLEN),
            request.begin() + static_cast<long>(at + attribute.nla_len));
        at += NLA_ALIGN(attribute.nla_len);
    }
    ASSERT_EQ(top.size(), 2u);
    const std::vector<uint8_t> &name = top.at(ETHTOOL_A_STATS_HEADER);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(name.data()) + NLA_HDRLEN), "eth7");
    const std::vector<uint8_t> &groups = top.at(ETHTOOL_A_STATS_GROUPS);
    uint32_t value = 0;
    std::memcpy(&value, groups.data() + groups.size() - sizeof value, sizeof value);
    EXPECT_EQ(value, 1u << ETHTOOL_STATS_ETH_MAC);
}

TEST(EthtoolKernel, LoopbackKeepsNoEthMacCountersAndAMissingDeviceIsReported) {
    nt::EthMacCounters counters;
    const DWORD answer = nt::QueryEthMacCounters("lo", &counters);
    if (answer == ERROR_NOT_SUPPORTED) {
        GTEST_SKIP() << "this kernel has no ethtool netlink statistics";
    }
    ASSERT_EQ(answer, ERROR_SUCCESS);
    EXPECT_TRUE(counters.empty());
    EXPECT_EQ(nt::QueryEthMacCounters("nosuchif0", &counters),
              static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
}

// The open descriptors of this process.
int OpenDescriptors() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// A reply left on the socket by a request given up on is never taken for
// the answer to a later one, and queries reuse one socket.
TEST(EthtoolKernel, AStrayReplyIsNotTakenForTheAnswer) {
    nt::EthMacCounters counters;
    if (nt::QueryEthMacCounters("lo", &counters) == ERROR_NOT_SUPPORTED) {
        GTEST_SKIP() << "this kernel has no ethtool netlink statistics";
    }
    const int descriptors = OpenDescriptors();
    for (int round = 0; round < 20; ++round) {
        nt::SendStrayRequestForTesting("nosuchif0");  // its answer is an error
        EXPECT_EQ(nt::QueryEthMacCounters("lo", &counters), ERROR_SUCCESS);
        nt::SendStrayRequestForTesting("lo");
        EXPECT_EQ(nt::QueryEthMacCounters("nosuchif0", &counters),
                  static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// A child of fork asks over a socket of its own: the parent's answers stay
// the parent's.
TEST(EthtoolKernel, AForkedChildHasItsOwnSocket) {
    nt::EthMacCounters counters;
    if (nt::QueryEthMacCounters("lo", &counters) == ERROR_NOT_SUPPORTED) {
        GTEST_SKIP() << "this kernel has no ethtool netlink statistics";
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 200; ++i) {
            if (nt::QueryEthMacCounters("nosuchif0", &counters) != ERROR_DEV_NOT_EXIST) {
                _exit(1);
            }
        }
        _exit(0);
    }
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(nt::QueryEthMacCounters("lo", &counters), ERROR_SUCCESS) << i;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---- A real interface, walked through the built agent. -------------------

// In a child with a network and mount namespace of its own: a veth pair,
// sysfs mounted for that namespace, veth0 linked as Vxlnk1, and the built
// ETHSTAT.DLL walked. Exit 0: the walk gave both the rows; 77: no
// namespace could be made here.
int WalkRealInterfaceInNamespace(const std::string &root) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        return 77;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        return 77;
    }
    if (std::system("ip link add veth0 type veth peer name veth1 >/dev/null 2>&1 && "
                    "ip link set veth0 up && ip link set veth1 up") != 0) {
        return 77;
    }
    const std::string link = root + "/Device/Vxlnk1";
    if (symlink("/sys/class/net/veth0", link.c_str()) != 0) {
        return 2;
    }
    setenv("NTROOT", root.c_str(), 1);
    std::string error;
    auto agent = snmphost::ExtensionAgent::Load(AGENT_DIR "/ETHSTAT.DLL", &error);
    if (agent == nullptr || !agent->Init()) {
        std::fprintf(stderr, "cannot load or initialise ETHSTAT.DLL: %s\n", error.c_str());
        return 3;
    }
    snmphost::Binding binding{agent->view(), {}};
    int objects = 0;
    for (;;) {
        if (agent->QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding).errorStatus != 0) {
            return 4;
        }
        if (binding.name.size() != 12) {
            break;
        }
        ++objects;
    }
    std::fprintf(stderr, "walked %d objects of veth0\n", objects);
    return objects == 13 ? 0 : 5;
}

TEST_F(InterfaceTest, ARealInterfaceWalkedThroughTheBuiltAgent) {
    nt::SetEthtoolTransportForTesting(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(WalkRealInterfaceInNamespace(top_ + "/root"));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot make a network namespace with a veth pair here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// In a child with namespaces of its own, as above: Vxlnk1 links veth0,
// which is deleted and made again, then renamed away and made again, under
// an open handle. Exit 0: the handle failed while veth0 was gone and
// answered from each new veth0; 77: no namespace here.
int FollowARecreatedInterface(const std::string &root) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0 ||
        std::system("ip link add veth0 type veth peer name veth1 >/dev/null 2>&1") != 0) {
        return 77;
    }
    if (symlink("/sys/class/net/veth0", (root + "/Device/Vxlnk1").c_str()) != 0) {
        return 2;
    }
    setenv("NTROOT", root.c_str(), 1);
    DefineDosDeviceA(DDD_RAW_TARGET_PATH, "VETH", "\\Device\\Vxlnk1");
    HANDLE device = CreateFileA("\\\\.\\VETH", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return 3;
    }
    auto ifindex = [] {
        std::ifstream file("/sys/class/net/veth0/ifindex");
        int index = 0;
        file >> index;
        return index;
    };
    auto answers = [&] {
        DWORD statistic = Fcs, value = 0, returned = 0;
        return DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic, sizeof statistic,
                               &value, sizeof value, &returned, nullptr) == TRUE;
    };
    if (!answers()) {
        return 4;
    }
    const int first = ifindex();
    std::system("ip link del veth0");
    if (answers() || GetLastError() != ERROR_DEV_NOT_EXIST) {
        return 5;
    }
    std::system("ip link add veth0 type veth peer name veth1");
    if (!answers() || ifindex() == first) {
        return 6;
    }
    std::system("ip link set veth0 name vethold && ip link add veth0 type veth peer name veth2");
    if (!answers()) {
        return 7;
    }
    // Deleting the renamed one leaves the handle on the new veth0.
    std::system("ip link del vethold");
    return answers() ? 0 : 8;
}

TEST_F(InterfaceTest, ARealInterfaceDeletedAndMadeAgainIsFollowed) {
    nt::SetEthtoolTransportForTesting(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(FollowARecreatedInterface(top_ + "/root"));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot make a network namespace with a veth pair here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

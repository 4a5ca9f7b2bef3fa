// Real adapters over Linux network interfaces; see interface_adapter.h.
#include "interface_adapter.h"

#include <linux/ethtool_netlink.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "errors.h"
#include "ethtool_stats.h"
#include "simulated_adapter.h"

namespace nt {

namespace {

constexpr int NoAttribute = -1;

struct StatisticSource {
    DWORD statistic;
    int ethMac;          // ETHTOOL_A_STATS_ETH_MAC_* or NoAttribute
    const char *file;    // in statistics/, or null
    bool halfDuplexOnly; // never increments in full duplex
};

// The NDIS statistics the Ethernet statistics agent asks, and where each
// comes from on Linux.
const StatisticSource Sources[] = {
    {0x01020101, ETHTOOL_A_STATS_ETH_MAC_7_ALIGN_ERR, "rx_frame_errors", false},
    {0x0002020D, ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, "rx_crc_errors", false},
    {0x01020102, ETHTOOL_A_STATS_ETH_MAC_3_SINGLE_COL, nullptr, true},
    {0x01020103, ETHTOOL_A_STATS_ETH_MAC_4_MULTI_COL, nullptr, true},
    {0x01020205, NoAttribute, "tx_heartbeat_errors", true},
    {0x01020201, ETHTOOL_A_STATS_ETH_MAC_9_TX_DEFER, nullptr, true},
    {0x01020207, ETHTOOL_A_STATS_ETH_MAC_10_LATE_COL, "tx_window_errors", true},
    {0x01020202, ETHTOOL_A_STATS_ETH_MAC_11_XS_COL, "tx_aborted_errors", true},
    {0x01020204, ETHTOOL_A_STATS_ETH_MAC_12_TX_INT_ERR, "tx_fifo_errors", false},
    {0x01020206, ETHTOOL_A_STATS_ETH_MAC_13_CS_ERR, "tx_carrier_errors", true},
    {0x01020203, ETHTOOL_A_STATS_ETH_MAC_15_RX_INT_ERR, "rx_fifo_errors", false},
};

const StatisticSource *FindSource(DWORD statistic) {
    for (const StatisticSource &source : Sources) {
        if (source.statistic == statistic) {
            return &source;
        }
    }
    return nullptr;
}

std::string Basename(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Reads a small sysfs file; ERROR_SUCCESS with its text.
DWORD ReadSmallFile(const std::string &path, std::string *text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return ErrorFromErrno(errno, "open", path);
    }
    char buffer[64];  // a counter, or a duplex word
    ssize_t got;
    do {
        got = read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    const int readError = errno;
    close(fd);
    if (got < 0) {
        return ErrorFromErrno(readError, "read", path);  // EINVAL: duplex of a link that is down
    }
    text->assign(buffer, static_cast<size_t>(got));
    return ERROR_SUCCESS;
}

class InterfaceAdapterDevice : public AdapterDevice {
public:
    InterfaceAdapterDevice(std::string folder, bool askEthtool)
        : folder_(std::move(folder)), ifname_(Basename(folder_)), askEthtool_(askEthtool) {
        // Which statistics eth-mac gives is settled now, once, so that a
        // counter keeps its source for as long as the adapter is open.
        EthMacCounters counters;
        if (askEthtool_ && QueryEthMacCounters(ifname_, &counters) == ERROR_SUCCESS) {
            for (const auto &counter : counters) {
                fromEthMac_.insert(counter.first);
            }
        }
    }

    DWORD QueryStatistic(DWORD statistic, uint32_t *value) override {
        const StatisticSource *source = FindSource(statistic);
        if (source == nullptr) {
            return ERROR_NOT_SUPPORTED;
        }
        if (source->ethMac != NoAttribute && fromEthMac_.count(static_cast<uint16_t>(source->ethMac))) {
            EthMacCounters counters;
            const DWORD answer = QueryEthMacCounters(ifname_, &counters);
            if (answer != ERROR_SUCCESS) {
                return answer;
            }
            auto found = counters.find(static_cast<uint16_t>(source->ethMac));
            if (found == counters.end()) {
                return ERROR_NOT_SUPPORTED;
            }
            *value = static_cast<uint32_t>(found->second);
            return ERROR_SUCCESS;
        }
        if (!IsFolder(folder_ + "/statistics")) {
            return ERROR_DEV_NOT_EXIST;  // the interface has gone
        }
        if (source->halfDuplexOnly && !HalfDuplex()) {
            *value = 0;
            return ERROR_SUCCESS;
        }
        if (source->file == nullptr) {
            return ERROR_NOT_SUPPORTED;
        }
        return ReadCounterFile(folder_ + "/statistics/" + source->file, value);
    }

    std::string Describe(DWORD statistic) {
        const StatisticSource *source = FindSource(statistic);
        if (source == nullptr) {
            return "none";
        }
        if (source->ethMac != NoAttribute && fromEthMac_.count(static_cast<uint16_t>(source->ethMac))) {
            return "eth-mac";
        }
        std::string file = source->file != nullptr ? std::string("statistics/") + source->file : "";
        if (source->halfDuplexOnly) {
            return (file.empty() ? "none" : file) + " in half duplex, else 0";
        }
        return file.empty() ? "none" : file;
    }

private:
    bool HalfDuplex() const {
        std::string text;
        if (ReadSmallFile(folder_ + "/duplex", &text) != ERROR_SUCCESS) {
            return false;  // unreadable (a link that is down, or none): not half
        }
        return text.compare(0, 4, "half") == 0;
    }

    static DWORD ReadCounterFile(const std::string &path, uint32_t *value) {
        std::string text;
        const DWORD answer = ReadSmallFile(path, &text);
        if (answer != ERROR_SUCCESS) {
            return answer == ERROR_FILE_NOT_FOUND ? ERROR_NOT_SUPPORTED : answer;
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        uint64_t number = 0;
        if (!ParseStatisticNumber(text, &number)) {
            Trace("%s: not a counter: \"%s\"", path.c_str(), text.c_str());
            return ERROR_INVALID_DATA;
        }
        *value = static_cast<uint32_t>(number);  // modulo 2^32, as a Counter32 wraps
        return ERROR_SUCCESS;
    }

    std::string folder_;
    std::string ifname_;
    bool askEthtool_;
    std::set<uint16_t> fromEthMac_;
};

bool AskEthtool(const std::string &folder) {
    // Only a folder of the kernel's names an interface ethtool knows; other
    // folders of the same shape (fixtures) have their files only.
    return EthtoolTransportReplaced() || folder.compare(0, 5, "/sys/") == 0;
}

}  // namespace

std::shared_ptr<AdapterDevice> OpenInterfaceAdapter(const std::string &folder, DWORD *error) {
    if (!IsFolder(folder + "/statistics")) {
        *error = ERROR_NOT_SUPPORTED;
        Trace("%s: not a network interface folder (no statistics/)", folder.c_str());
        return nullptr;
    }
    return std::make_shared<InterfaceAdapterDevice>(folder, AskEthtool(folder));
}

std::string DescribeInterfaceSource(const std::string &folder, DWORD statistic) {
    DWORD error = ERROR_SUCCESS;
    auto device = OpenInterfaceAdapter(folder, &error);
    if (device == nullptr) {
        return "none";
    }
    return static_cast<InterfaceAdapterDevice &>(*device).Describe(statistic);
}

}  // namespace nt

// The NDIS statistics the Ethernet statistics agent asks an adapter for: one
// table for everyone who names them (the agent's columns, the device
// backends that answer them, ntroot's command line and files, the tests).
//
// The agent serves each statistic in one column of dot3StatsTable (RFC
// 1643); a walk passes over a statistic its adapter does not answer, so a
// simulated adapter that lists all 11 shows a whole row.
// On Linux, an interface's counter comes from the ethtool eth-mac attribute
// when the driver keeps it, else from the interface's statistics/ file.
//
// The table and its look-ups are constexpr or inline: a user needs no
// library for them.
#ifndef NT_ADAPTER_STATISTICS_H
#define NT_ADAPTER_STATISTICS_H

#include <linux/ethtool_netlink.h>
#include <strings.h>

#include <cstddef>

#include <string>

#include "nt/ntroot.h"
#include "nt/wintypes.h"

namespace nt {

// ethMac of a statistic no ethtool eth-mac attribute counts.
constexpr int kNoEthMacAttribute = -1;

struct AdapterStatistic {
    DWORD identifier;        // the NDIS statistic identifier
    const char *name;        // the short name, as typed on ntroot's command line
    unsigned column;         // the dot3StatsEntry column it feeds
    const char *columnName;  // that column's object, dot3Stats...
    int ethMac;              // ETHTOOL_A_STATS_ETH_MAC_*, or kNoEthMacAttribute
    const char *file;        // its file in an interface's statistics/, or null
    bool halfDuplexOnly;     // never increments in full duplex
};

constexpr size_t kAdapterStatisticCount = 11;

// The 11 statistics, in the order of their columns.
inline constexpr AdapterStatistic kAdapterStatistics[kAdapterStatisticCount] = {
    {0x01020101, "alignment", 2, "dot3StatsAlignmentErrors", ETHTOOL_A_STATS_ETH_MAC_7_ALIGN_ERR,
     "rx_frame_errors", false},
    {0x0002020D, "fcs", 3, "dot3StatsFCSErrors", ETHTOOL_A_STATS_ETH_MAC_6_FCS_ERR, "rx_crc_errors",
     false},
    {0x01020102, "single-collisions", 4, "dot3StatsSingleCollisionFrames",
     ETHTOOL_A_STATS_ETH_MAC_3_SINGLE_COL, nullptr, true},
    {0x01020103, "multiple-collisions", 5, "dot3StatsMultipleCollisionFrames",
     ETHTOOL_A_STATS_ETH_MAC_4_MULTI_COL, nullptr, true},
    {0x01020205, "sqe", 6, "dot3StatsSQETestErrors", kNoEthMacAttribute, "tx_heartbeat_errors",
     true},
    {0x01020201, "deferred", 7, "dot3StatsDeferredTransmissions",
     ETHTOOL_A_STATS_ETH_MAC_9_TX_DEFER, nullptr, true},
    {0x01020207, "late-collisions", 8, "dot3StatsLateCollisions",
     ETHTOOL_A_STATS_ETH_MAC_10_LATE_COL, "tx_window_errors", true},
    {0x01020202, "excessive-collisions", 9, "dot3StatsExcessiveCollisions",
     ETHTOOL_A_STATS_ETH_MAC_11_XS_COL, "tx_aborted_errors", true},
    {0x01020204, "mac-transmit", 10, "dot3StatsInternalMacTransmitErrors",
     ETHTOOL_A_STATS_ETH_MAC_12_TX_INT_ERR, "tx_fifo_errors", false},
    {0x01020206, "carrier-sense", 11, "dot3StatsCarrierSenseErrors",
     ETHTOOL_A_STATS_ETH_MAC_13_CS_ERR, "tx_carrier_errors", true},
    {0x01020203, "mac-receive", 16, "dot3StatsInternalMacReceiveErrors",
     ETHTOOL_A_STATS_ETH_MAC_15_RX_INT_ERR, "rx_fifo_errors", false},
};

// The statistic of that identifier; null when the agent never asks it.
constexpr const AdapterStatistic *FindAdapterStatistic(DWORD identifier) {
    for (const AdapterStatistic &statistic : kAdapterStatistics) {
        if (statistic.identifier == identifier) {
            return &statistic;
        }
    }
    return nullptr;
}

// The statistic of that short name, in any case; null when there is none.
inline const AdapterStatistic *FindAdapterStatisticByName(const char *name) {
    for (const AdapterStatistic &statistic : kAdapterStatistics) {
        if (strcasecmp(statistic.name, name) == 0) {
            return &statistic;
        }
    }
    return nullptr;
}

// Where an interface's statistic comes from, for tools and tests: the
// interface folder (of the shape of /sys/class/net/IF) and the statistic give
// "eth-mac", a statistics/ file name, "0 (full duplex)" style text, or
// "none". In the platform library.
NT_EXPORT std::string DescribeInterfaceSource(const std::string &folder, DWORD statistic);

}  // namespace nt

#endif  // NT_ADAPTER_STATISTICS_H

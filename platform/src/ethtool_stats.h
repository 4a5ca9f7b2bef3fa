// The IEEE 802.3 MAC counters a driver keeps, from ethtool over generic
// netlink (ETHTOOL_MSG_STATS_GET, group eth-mac).
//
// Asking needs no privilege. A driver that keeps none of these counters
// still answers, with an empty group; a counter a driver does not keep is
// left out of the reply. The transport (the kernel, or canned replies in
// tests) is separate from building and reading the messages, so both can be
// tested without a driver that keeps the counters.
//
// The kernel is asked over one generic netlink socket per process, opened
// at the first query and kept (a child of fork opens its own). A request
// asks for no acknowledgement: the reply, or an error, ends the exchange.
// Messages that do not answer the request just sent (a late reply to one
// that timed out) are told by their sequence number and passed over, and
// only the kernel's messages are read.
#ifndef PLATFORM_ETHTOOL_STATS_H
#define PLATFORM_ETHTOOL_STATS_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "nt/ntroot.h"
#include "nt/wintypes.h"

namespace nt {

// Counters by their ETHTOOL_A_STATS_ETH_MAC_* attribute.
using EthMacCounters = std::map<uint16_t, uint64_t>;

// The same, as the query path keeps them, without allocating: attribute n
// is present when bit n of present is set.
struct EthMacValues {
    static constexpr unsigned Slots = 64;
    uint64_t present = 0;
    uint64_t value[Slots] = {};
    bool Has(unsigned attribute) const {
        return attribute < Slots && ((present >> attribute) & 1) != 0;
    }
};

// The request for ifname's eth-mac group, as sent to the ethtool family.
NT_EXPORT std::vector<uint8_t> BuildStatsRequest(uint16_t family, uint32_t sequence,
                                                 const std::string &ifname);

// Reads the messages the kernel answered with: ERROR_SUCCESS and the
// eth-mac counters; the Win32 error for an error message (ENODEV becomes
// ERROR_DEV_NOT_EXIST); ERROR_INVALID_DATA for a malformed reply. Unknown
// attributes are passed over.
NT_EXPORT DWORD ParseStatsReply(const uint8_t *data, size_t size, EthMacCounters *counters);
DWORD ParseStatsReply(const uint8_t *data, size_t size, EthMacValues *values);

// Sends the query for ifname and returns the reply's bytes: ERROR_SUCCESS,
// or the Win32 error of the transport.
using EthtoolTransport =
    std::function<DWORD(const std::string &ifname, std::vector<uint8_t> *reply)>;

// ifname's eth-mac counters, through the transport.
NT_EXPORT DWORD QueryEthMacCounters(const std::string &ifname, EthMacCounters *counters);
DWORD QueryEthMacValues(const std::string &ifname, EthMacValues *values);

// Sends the kernel a stats request whose reply nobody reads, as a query
// that timed out leaves behind; the next query must not take that reply
// for its own.
NT_EXPORT void SendStrayRequestForTesting(const std::string &ifname);

// Replaces the kernel by canned replies (an empty transport restores it).
// While replaced, every interface folder is asked, not only those in /sys.
NT_EXPORT void SetEthtoolTransportForTesting(EthtoolTransport transport);
NT_EXPORT bool EthtoolTransportReplaced();

}  // namespace nt

#endif  // PLATFORM_ETHTOOL_STATS_H

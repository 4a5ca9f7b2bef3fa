// ethtool's eth-mac statistics over generic netlink; see ethtool_stats.h.
#include "ethtool_stats.h"

#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "errors.h"

namespace nt {

namespace {

// Appends one attribute (header, payload, padding to 4 bytes).
void PutAttribute(std::vector<uint8_t> *message, uint16_t type, const void *payload,
                  size_t size) {
    nlattr header{static_cast<uint16_t>(NLA_HDRLEN + size), type};
    const size_t at = message->size();
    message->resize(at + NLA_ALIGN(NLA_HDRLEN + size), 0);
    std::memcpy(message->data() + at, &header, sizeof header);
    if (size != 0) {
        std::memcpy(message->data() + at + NLA_HDRLEN, payload, size);
    }
}

// Opens a nested attribute; returns where its header is, for CloseNest.
size_t OpenNest(std::vector<uint8_t> *message, uint16_t type) {
    const size_t at = message->size();
    PutAttribute(message, static_cast<uint16_t>(type | NLA_F_NESTED), nullptr, 0);
    return at;
}

void CloseNest(std::vector<uint8_t> *message, size_t at) {
    const uint16_t length = static_cast<uint16_t>(message->size() - at);
    std::memcpy(message->data() + at, &length, sizeof length);
}

std::vector<uint8_t> StartMessage(uint16_t family, uint32_t sequence, uint8_t command,
                                  uint8_t version) {
    std::vector<uint8_t> message(NLMSG_HDRLEN + GENL_HDRLEN, 0);
    nlmsghdr header{};
    header.nlmsg_type = family;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    header.nlmsg_seq = sequence;
    std::memcpy(message.data(), &header, sizeof header);
    genlmsghdr generic{command, version, 0};
    std::memcpy(message.data() + NLMSG_HDRLEN, &generic, sizeof generic);
    return message;
}

void FinishMessage(std::vector<uint8_t> *message) {
    const uint32_t length = static_cast<uint32_t>(message->size());
    std::memcpy(message->data(), &length, sizeof length);
}

// Calls visit(type, payload, size) for each attribute of a run of them;
// false when one is malformed.
template <class Visit>
bool ForEachAttribute(const uint8_t *data, size_t size, Visit visit) {
    while (size >= NLA_HDRLEN) {
        nlattr header;
        std::memcpy(&header, data, sizeof header);
        if (header.nla_len < NLA_HDRLEN || header.nla_len > size) {
            return false;
        }
        if (!visit(static_cast<uint16_t>(header.nla_type & NLA_TYPE_MASK), data + NLA_HDRLEN,
                   size_t{header.nla_len} - NLA_HDRLEN)) {
            return false;
        }
        const size_t step = NLA_ALIGN(header.nla_len);
        if (step >= size) {
            return true;
        }
        data += step;
        size -= step;
    }
    return size == 0;
}

// One eth-mac group: its counters, when its id says it is that group.
bool ParseGroup(const uint8_t *data, size_t size, EthMacCounters *counters) {
    uint32_t id = UINT32_MAX;
    EthMacCounters found;
    const bool ok = ForEachAttribute(data, size, [&](uint16_t type, const uint8_t *payload,
                                                     size_t length) {
        if (type == ETHTOOL_A_STATS_GRP_ID) {
            if (length < sizeof id) {
                return false;
            }
            std::memcpy(&id, payload, sizeof id);
        } else if (type == ETHTOOL_A_STATS_GRP_STAT) {
            return ForEachAttribute(payload, length, [&](uint16_t counter, const uint8_t *value,
                                                         size_t valueLength) {
                if (valueLength < sizeof(uint64_t)) {
                    return false;
                }
                uint64_t number;
                std::memcpy(&number, value, sizeof number);  // may be unaligned
                found[counter] = number;
                return true;
            });
        }
        return true;
    });
    if (ok && id == ETHTOOL_STATS_ETH_MAC) {
        counters->insert(found.begin(), found.end());
    }
    return ok;
}

class KernelTransport {
public:
    DWORD Query(const std::string &ifname, std::vector<uint8_t> *reply) {
        const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
        if (fd < 0) {
            return ErrorFromErrno(errno, "socket", "netlink");
        }
        timeval timeout{1, 0};  // the kernel answers at once; never hang on it
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        DWORD answer = Family(fd);
        if (answer == ERROR_SUCCESS) {
            answer = Exchange(fd, BuildStatsRequest(family_, NextSequence(), ifname), reply);
        }
        close(fd);
        return answer;
    }

private:
    uint32_t NextSequence() { return ++sequence_; }

    // The ethtool family's id, asked of the controller once per process.
    DWORD Family(int fd) {
        std::lock_guard<std::mutex> guard(lock_);
        if (family_ != 0) {
            return ERROR_SUCCESS;
        }
        std::vector<uint8_t> request = StartMessage(GENL_ID_CTRL, NextSequence(),
                                                    CTRL_CMD_GETFAMILY, 1);
        PutAttribute(&request, CTRL_ATTR_FAMILY_NAME, ETHTOOL_GENL_NAME,
                     sizeof ETHTOOL_GENL_NAME);
        FinishMessage(&request);
        std::vector<uint8_t> reply;
        const DWORD answer = Exchange(fd, request, &reply);
        if (answer != ERROR_SUCCESS) {
            return answer;
        }
        uint16_t family = 0;
        for (size_t at = 0; at + NLMSG_HDRLEN + GENL_HDRLEN <= reply.size();) {
            nlmsghdr header;
            std::memcpy(&header, reply.data() + at, sizeof header);
            if (header.nlmsg_len < NLMSG_HDRLEN || at + header.nlmsg_len > reply.size()) {
                break;
            }
            if (header.nlmsg_type == GENL_ID_CTRL &&
                header.nlmsg_len >= NLMSG_HDRLEN + GENL_HDRLEN) {
                ForEachAttribute(reply.data() + at + NLMSG_HDRLEN + GENL_HDRLEN,
                                 header.nlmsg_len - NLMSG_HDRLEN - GENL_HDRLEN,
                                 [&](uint16_t type, const uint8_t *payload, size_t length) {
                                     if (type == CTRL_ATTR_FAMILY_ID && length >= 2) {
                                         std::memcpy(&family, payload, sizeof family);
                                     }
                                     return true;
                                 });
            }
            at += NLMSG_ALIGN(header.nlmsg_len);
        }
        if (family == 0) {
            return ERROR_NOT_SUPPORTED;  // a kernel without ethtool netlink
        }
        family_ = family;
        return ERROR_SUCCESS;
    }

    // Sends one request and gathers the messages up to its acknowledgement
    // or error.
    static DWORD Exchange(int fd, const std::vector<uint8_t> &request,
                          std::vector<uint8_t> *reply) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&kernel),
                   sizeof kernel) < 0) {
            return ErrorFromErrno(errno, "sendto", "netlink");
        }
        reply->clear();
        uint8_t buffer[16384];
        for (int messages = 0; messages < 64; ++messages) {
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return ErrorFromErrno(errno, "recv", "netlink");
            }
            reply->insert(reply->end(), buffer, buffer + got);
            // Done at an error message (an acknowledgement is one with 0).
            for (size_t at = 0; at + NLMSG_HDRLEN <= static_cast<size_t>(got);) {
                nlmsghdr header;
                std::memcpy(&header, buffer + at, sizeof header);
                if (header.nlmsg_len < NLMSG_HDRLEN) {
                    return ERROR_INVALID_DATA;
                }
                if (header.nlmsg_type == NLMSG_ERROR || header.nlmsg_type == NLMSG_DONE) {
                    return ERROR_SUCCESS;
                }
                at += NLMSG_ALIGN(header.nlmsg_len);
            }
        }
        return ERROR_INVALID_DATA;
    }

    std::mutex lock_;
    uint16_t family_ = 0;
    std::atomic<uint32_t> sequence_{0};
};

std::mutex TransportLock;
EthtoolTransport &ReplacedTransport() {
    static EthtoolTransport *transport = new EthtoolTransport;
    return *transport;
}

}  // namespace

std::vector<uint8_t> BuildStatsRequest(uint16_t family, uint32_t sequence,
                                       const std::string &ifname) {
    std::vector<uint8_t> message =
        StartMessage(family, sequence, ETHTOOL_MSG_STATS_GET, ETHTOOL_GENL_VERSION);
    const size_t header = OpenNest(&message, ETHTOOL_A_STATS_HEADER);
    PutAttribute(&message, ETHTOOL_A_HEADER_DEV_NAME, ifname.c_str(), ifname.size() + 1);
    CloseNest(&message, header);
    // The groups wanted, as a compact bitset: eth-mac alone.
    const size_t groups = OpenNest(&message, ETHTOOL_A_STATS_GROUPS);
    PutAttribute(&message, ETHTOOL_A_BITSET_NOMASK, nullptr, 0);
    const uint32_t bits = __ETHTOOL_STATS_CNT;
    PutAttribute(&message, ETHTOOL_A_BITSET_SIZE, &bits, sizeof bits);
    const uint32_t wanted = 1u << ETHTOOL_STATS_ETH_MAC;
    PutAttribute(&message, ETHTOOL_A_BITSET_VALUE, &wanted, sizeof wanted);
    CloseNest(&message, groups);
    FinishMessage(&message);
    return message;
}

DWORD ParseStatsReply(const uint8_t *data, size_t size, EthMacCounters *counters) {
    EthMacCounters found;
    size_t at = 0;
    while (at + NLMSG_HDRLEN <= size) {
        nlmsghdr header;
        std::memcpy(&header, data + at, sizeof header);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > size - at) {
            return ERROR_INVALID_DATA;
        }
        const uint8_t *body = data + at + NLMSG_HDRLEN;
        const size_t bodySize = header.nlmsg_len - NLMSG_HDRLEN;
        if (header.nlmsg_type == NLMSG_ERROR) {
            int error = 0;
            if (bodySize < sizeof error) {
                return ERROR_INVALID_DATA;
            }
            std::memcpy(&error, body, sizeof error);
            if (error != 0) {
                // The kernel sends a negated errno; a number that is none
                // (positive, or too large to negate) is a protocol error.
                return ErrorFromErrno(error < 0 && error != INT_MIN ? -error : EPROTO,
                                      "ETHTOOL_MSG_STATS_GET", "netlink");
            }
            break;  // the acknowledgement ends the answer
        }
        if (header.nlmsg_type == NLMSG_DONE) {
            break;
        }
        if (header.nlmsg_type != NLMSG_NOOP && bodySize >= GENL_HDRLEN) {
            genlmsghdr generic;
            std::memcpy(&generic, body, sizeof generic);
            if (generic.cmd == ETHTOOL_MSG_STATS_GET_REPLY &&
                !ForEachAttribute(body + GENL_HDRLEN, bodySize - GENL_HDRLEN,
                                  [&](uint16_t type, const uint8_t *payload, size_t length) {
                                      return type != ETHTOOL_A_STATS_GRP ||
                                             ParseGroup(payload, length, &found);
                                  })) {
                return ERROR_INVALID_DATA;
            }
        }
        at += NLMSG_ALIGN(header.nlmsg_len);
    }
    *counters = std::move(found);
    return ERROR_SUCCESS;
}

DWORD QueryEthMacCounters(const std::string &ifname, EthMacCounters *counters) {
    static KernelTransport *kernel = new KernelTransport;  // lives as long as the process
    std::vector<uint8_t> reply;
    DWORD answer;
    {
        EthtoolTransport replaced;
        {
            std::lock_guard<std::mutex> guard(TransportLock);
            replaced = ReplacedTransport();
        }
        answer = replaced ? replaced(ifname, &reply) : kernel->Query(ifname, &reply);
    }
    if (answer != ERROR_SUCCESS) {
        return answer;
    }
    return ParseStatsReply(reply.data(), reply.size(), counters);
}

void SetEthtoolTransportForTesting(EthtoolTransport transport) {
    std::lock_guard<std::mutex> guard(TransportLock);
    ReplacedTransport() = std::move(transport);
}

bool EthtoolTransportReplaced() {
    std::lock_guard<std::mutex> guard(TransportLock);
    return static_cast<bool>(ReplacedTransport());
}

}  // namespace nt

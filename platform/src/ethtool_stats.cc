// ethtool's eth-mac statistics over generic netlink; see ethtool_stats.h.
#include "ethtool_stats.h"

#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <pthread.h>
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

// Writes one netlink message into a caller's buffer; ok() is false once
// anything did not fit.
class MessageWriter {
public:
    MessageWriter(uint8_t *data, size_t capacity) : data_(data), capacity_(capacity) {}

    void Start(uint16_t type, uint32_t sequence, uint8_t command, uint8_t version) {
        size_ = 0;
        if (!Grow(NLMSG_HDRLEN + GENL_HDRLEN)) {
            return;
        }
        std::memset(data_, 0, NLMSG_HDRLEN + GENL_HDRLEN);
        nlmsghdr header{};
        header.nlmsg_type = type;
        // No NLM_F_ACK: the reply (or an error) is the whole answer.
        header.nlmsg_flags = NLM_F_REQUEST;
        header.nlmsg_seq = sequence;
        std::memcpy(data_, &header, sizeof header);
        genlmsghdr generic{command, version, 0};
        std::memcpy(data_ + NLMSG_HDRLEN, &generic, sizeof generic);
    }

    // Appends one attribute (header, payload, padding to 4 bytes).
    void Put(uint16_t type, const void *payload, size_t size) {
        const size_t at = size_;
        if (NLA_HDRLEN + size > UINT16_MAX || !Grow(NLA_ALIGN(NLA_HDRLEN + size))) {
            return;
        }
        std::memset(data_ + at, 0, size_ - at);
        nlattr header{static_cast<uint16_t>(NLA_HDRLEN + size), type};
        std::memcpy(data_ + at, &header, sizeof header);
        if (size != 0) {
            std::memcpy(data_ + at + NLA_HDRLEN, payload, size);
        }
    }

    // Opens a nested attribute; returns where its header is, for CloseNest.
    size_t OpenNest(uint16_t type) {
        const size_t at = size_;
        Put(static_cast<uint16_t>(type | NLA_F_NESTED), nullptr, 0);
        return at;
    }

    void CloseNest(size_t at) {
        if (ok_) {
            const uint16_t length = static_cast<uint16_t>(size_ - at);
            std::memcpy(data_ + at, &length, sizeof length);
        }
    }

    // The message's length, written into its header; 0 when it did not fit.
    size_t Finish() {
        if (!ok_) {
            return 0;
        }
        const uint32_t length = static_cast<uint32_t>(size_);
        std::memcpy(data_, &length, sizeof length);
        return size_;
    }

private:
    bool Grow(size_t by) {
        if (!ok_ || capacity_ - size_ < by) {
            ok_ = false;
            return false;
        }
        size_ += by;
        return true;
    }

    uint8_t *data_;
    size_t capacity_;
    size_t size_ = 0;
    bool ok_ = true;
};

size_t WriteStatsRequest(uint8_t *data, size_t capacity, uint16_t family, uint32_t sequence,
                         const std::string &ifname) {
    MessageWriter message(data, capacity);
    message.Start(family, sequence, ETHTOOL_MSG_STATS_GET, ETHTOOL_GENL_VERSION);
    const size_t header = message.OpenNest(ETHTOOL_A_STATS_HEADER);
    message.Put(ETHTOOL_A_HEADER_DEV_NAME, ifname.c_str(), ifname.size() + 1);
    message.CloseNest(header);
    // The groups wanted, as a compact bitset: eth-mac alone.
    const size_t groups = message.OpenNest(ETHTOOL_A_STATS_GROUPS);
    message.Put(ETHTOOL_A_BITSET_NOMASK, nullptr, 0);
    const uint32_t bits = __ETHTOOL_STATS_CNT;
    message.Put(ETHTOOL_A_BITSET_SIZE, &bits, sizeof bits);
    const uint32_t wanted = 1u << ETHTOOL_STATS_ETH_MAC;
    message.Put(ETHTOOL_A_BITSET_VALUE, &wanted, sizeof wanted);
    message.CloseNest(groups);
    return message.Finish();
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
bool ParseGroup(const uint8_t *data, size_t size, EthMacValues *values) {
    uint32_t id = UINT32_MAX;
    EthMacValues found;
    const bool ok =
        ForEachAttribute(data, size, [&](uint16_t type, const uint8_t *payload, size_t length) {
            if (type == ETHTOOL_A_STATS_GRP_ID) {
                if (length < sizeof id) {
                    return false;
                }
                std::memcpy(&id, payload, sizeof id);
            } else if (type == ETHTOOL_A_STATS_GRP_STAT) {
                return ForEachAttribute(
                    payload, length,
                    [&](uint16_t counter, const uint8_t *value, size_t valueLength) {
                        if (valueLength < sizeof(uint64_t)) {
                            return false;
                        }
                        if (counter < EthMacValues::Slots) {  // a newer kernel's counters pass by
                            std::memcpy(&found.value[counter], value,
                                        sizeof(uint64_t));  // may be unaligned
                            found.present |= uint64_t{1} << counter;
                        }
                        return true;
                    });
            }
            return true;
        });
    if (ok && id == ETHTOOL_STATS_ETH_MAC) {
        for (unsigned i = 0; i < EthMacValues::Slots; ++i) {
            if (found.Has(i)) {
                values->value[i] = found.value[i];
            }
        }
        values->present |= found.present;
    }
    return ok;
}

// What one message of a stats answer says.
enum class Step { kMore, kDone };

// Reads one message of the answer to a stats request into *values:
// ERROR_SUCCESS with whether the answer is complete, or the error.
DWORD ParseStatsMessage(const nlmsghdr &header, const uint8_t *body, size_t bodySize,
                        EthMacValues *values, Step *step) {
    *step = Step::kMore;
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
        *step = Step::kDone;  // an acknowledgement ends the answer
        return ERROR_SUCCESS;
    }
    if (header.nlmsg_type == NLMSG_DONE) {
        *step = Step::kDone;
        return ERROR_SUCCESS;
    }
    if (header.nlmsg_type != NLMSG_NOOP && bodySize >= GENL_HDRLEN) {
        genlmsghdr generic;
        std::memcpy(&generic, body, sizeof generic);
        if (generic.cmd == ETHTOOL_MSG_STATS_GET_REPLY) {
            if (!ForEachAttribute(body + GENL_HDRLEN, bodySize - GENL_HDRLEN,
                                  [&](uint16_t type, const uint8_t *payload, size_t length) {
                                      return type != ETHTOOL_A_STATS_GRP ||
                                             ParseGroup(payload, length, values);
                                  })) {
                return ERROR_INVALID_DATA;
            }
            *step = Step::kDone;  // a single reply answers a request for one device
        }
    }
    return ERROR_SUCCESS;
}

// The kernel's side: one socket for the process, kept open.
class KernelChannel {
public:
    KernelChannel() {
        // A child of fork shares the socket's file with its parent, and
        // the replies to one would reach the other: the child opens its own.
        pthread_atfork([] { Instance().lock_.lock(); }, [] { Instance().lock_.unlock(); },
                       [] {
                           KernelChannel &channel = Instance();
                           if (channel.fd_ >= 0) {
                               close(channel.fd_);
                               channel.fd_ = -1;
                           }
                           channel.lock_.unlock();
                       });
    }

    static KernelChannel &Instance() {
        static KernelChannel *channel = new KernelChannel;  // lives as long as the process
        return *channel;
    }

    DWORD Query(const std::string &ifname, EthMacValues *values) {
        std::lock_guard<std::mutex> guard(lock_);
        DWORD answer = Ready();
        if (answer != ERROR_SUCCESS) {
            return answer;
        }
        uint8_t request[512];
        const uint32_t sequence = ++sequence_;
        const size_t size = WriteStatsRequest(request, sizeof request, family_, sequence, ifname);
        if (size == 0) {
            return ERROR_INVALID_NAME;
        }
        *values = EthMacValues{};
        return Exchange(
            request, size, sequence,
            [&](const nlmsghdr &header, const uint8_t *body, size_t bodySize, Step *step) {
                return ParseStatsMessage(header, body, bodySize, values, step);
            });
    }

    void SendStray(const std::string &ifname) {
        std::lock_guard<std::mutex> guard(lock_);
        if (Ready() != ERROR_SUCCESS) {
            return;
        }
        uint8_t request[512];
        const size_t size =
            WriteStatsRequest(request, sizeof request, family_, ++sequence_, ifname);
        if (size != 0 && Send(request, size) == ERROR_SUCCESS) {
            stale_ = true;
        }
    }

private:
    // Opens the socket and learns the ethtool family's id, once.
    DWORD Ready() {
        if (fd_ < 0) {
            fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
            if (fd_ < 0) {
                return ErrorFromErrno(errno, "socket", "netlink");
            }
            timeval timeout{1, 0};  // the kernel answers at once; never hang on it
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            stale_ = false;
        }
        if (family_ != 0) {
            return ERROR_SUCCESS;
        }
        uint8_t request[128];
        MessageWriter message(request, sizeof request);
        const uint32_t sequence = ++sequence_;
        message.Start(GENL_ID_CTRL, sequence, CTRL_CMD_GETFAMILY, 1);
        message.Put(CTRL_ATTR_FAMILY_NAME, ETHTOOL_GENL_NAME, sizeof ETHTOOL_GENL_NAME);
        uint16_t family = 0;
        const DWORD answer = Exchange(
            request, message.Finish(), sequence,
            [&](const nlmsghdr &header, const uint8_t *body, size_t bodySize, Step *step) {
                *step = Step::kDone;
                if (header.nlmsg_type == NLMSG_ERROR) {
                    int error = 0;
                    if (bodySize >= sizeof error) {
                        std::memcpy(&error, body, sizeof error);
                    }
                    return error == 0 ? ERROR_SUCCESS
                                      : ErrorFromErrno(-error, "CTRL_CMD_GETFAMILY", "netlink");
                }
                if (header.nlmsg_type != GENL_ID_CTRL || bodySize < GENL_HDRLEN) {
                    *step = Step::kMore;
                    return static_cast<DWORD>(ERROR_SUCCESS);
                }
                ForEachAttribute(body + GENL_HDRLEN, bodySize - GENL_HDRLEN,
                                 [&](uint16_t type, const uint8_t *payload, size_t length) {
                                     if (type == CTRL_ATTR_FAMILY_ID && length >= 2) {
                                         std::memcpy(&family, payload, sizeof family);
                                     }
                                     return true;
                                 });
                return static_cast<DWORD>(ERROR_SUCCESS);
            });
        if (answer != ERROR_SUCCESS) {
            return answer == ERROR_FILE_NOT_FOUND ? ERROR_NOT_SUPPORTED : answer;
        }
        if (family == 0) {
            return ERROR_NOT_SUPPORTED;  // a kernel without ethtool netlink
        }
        family_ = family;
        return ERROR_SUCCESS;
    }

    DWORD Send(const uint8_t *request, size_t size) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        while (sendto(fd_, request, size, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) <
               0) {
            if (errno != EINTR) {
                return ErrorFromErrno(errno, "sendto", "netlink");
            }
        }
        return ERROR_SUCCESS;
    }

    // Takes whatever waits on the socket: replies to requests given up on.
    void Drain() {
        uint8_t buffer[256];
        while (recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC) >= 0 || errno == EINTR) {
        }
        stale_ = false;
    }

    // Sends one request and hands each message that answers it (the
    // kernel's, with its sequence number) to handle, until handle says the
    // answer is complete or fails.
    template <class Handle>
    DWORD Exchange(const uint8_t *request, size_t size, uint32_t sequence, Handle handle) {
        if (stale_) {
            Drain();
        }
        DWORD answer = Send(request, size);
        if (answer != ERROR_SUCCESS) {
            return answer;
        }
        alignas(nlmsghdr) uint8_t buffer[8192];
        for (int datagrams = 0; datagrams < 64;) {
            sockaddr_nl from{};
            socklen_t fromSize = sizeof from;
            const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC,
                                         reinterpret_cast<sockaddr *>(&from), &fromSize);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // A timeout, or messages lost (ENOBUFS): the answer may
                // still come, after the next request went out.
                stale_ = true;
                return ErrorFromErrno(errno, "recv", "netlink");
            }
            ++datagrams;
            if (from.nl_pid != 0) {
                continue;  // not the kernel's
            }
            const size_t length =
                static_cast<size_t>(got) < sizeof buffer ? static_cast<size_t>(got) : sizeof buffer;
            for (size_t at = 0; at + NLMSG_HDRLEN <= length;) {
                nlmsghdr header;
                std::memcpy(&header, buffer + at, sizeof header);
                if (header.nlmsg_len < NLMSG_HDRLEN) {
                    break;
                }
                if (header.nlmsg_seq == sequence) {
                    if (header.nlmsg_len > length - at) {
                        return ERROR_INVALID_DATA;  // cut short
                    }
                    Step step = Step::kMore;
                    answer = handle(header, buffer + at + NLMSG_HDRLEN,
                                    header.nlmsg_len - NLMSG_HDRLEN, &step);
                    if (answer != ERROR_SUCCESS || step == Step::kDone) {
                        return answer;
                    }
                }
                at += NLMSG_ALIGN(header.nlmsg_len);
            }
        }
        stale_ = true;
        return ERROR_INVALID_DATA;
    }

    std::mutex lock_;
    int fd_ = -1;
    uint16_t family_ = 0;
    uint32_t sequence_ = 0;
    bool stale_ = false;  // a reply not read may wait on the socket
};

std::mutex TransportLock;
std::atomic<bool> TransportIsReplaced{false};
EthtoolTransport &ReplacedTransport() {
    static EthtoolTransport *transport = new EthtoolTransport;
    return *transport;
}

}  // namespace

std::vector<uint8_t> BuildStatsRequest(uint16_t family, uint32_t sequence,
                                       const std::string &ifname) {
    std::vector<uint8_t> message(128 + NLA_ALIGN(ifname.size() + 1));
    message.resize(WriteStatsRequest(message.data(), message.size(), family, sequence, ifname));
    return message;
}

DWORD ParseStatsReply(const uint8_t *data, size_t size, EthMacValues *values) {
    EthMacValues found;
    size_t at = 0;
    while (at + NLMSG_HDRLEN <= size) {
        nlmsghdr header;
        std::memcpy(&header, data + at, sizeof header);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > size - at) {
            return ERROR_INVALID_DATA;
        }
        Step step = Step::kMore;
        const DWORD answer = ParseStatsMessage(header, data + at + NLMSG_HDRLEN,
                                               header.nlmsg_len - NLMSG_HDRLEN, &found, &step);
        if (answer != ERROR_SUCCESS) {
            return answer;
        }
        if (header.nlmsg_type == NLMSG_ERROR || header.nlmsg_type == NLMSG_DONE) {
            break;
        }
        at += NLMSG_ALIGN(header.nlmsg_len);
    }
    *values = found;
    return ERROR_SUCCESS;
}

namespace {

// The map form of the counters, for callers outside the read path.
EthMacCounters ToCounters(const EthMacValues &values) {
    EthMacCounters counters;
    for (unsigned i = 0; i < EthMacValues::Slots; ++i) {
        if (values.Has(i)) {
            counters[static_cast<uint16_t>(i)] = values.value[i];
        }
    }
    return counters;
}

}  // namespace

DWORD ParseStatsReply(const uint8_t *data, size_t size, EthMacCounters *counters) {
    EthMacValues values;
    const DWORD answer = ParseStatsReply(data, size, &values);
    if (answer != ERROR_SUCCESS) {
        return answer;
    }
    *counters = ToCounters(values);
    return ERROR_SUCCESS;
}

DWORD QueryEthMacValues(const std::string &ifname, EthMacValues *values) {
    if (TransportIsReplaced.load(std::memory_order_acquire)) {
        EthtoolTransport replaced;
        {
            std::lock_guard<std::mutex> guard(TransportLock);
            replaced = ReplacedTransport();
        }
        if (replaced) {
            std::vector<uint8_t> reply;
            const DWORD answer = replaced(ifname, &reply);
            if (answer != ERROR_SUCCESS) {
                return answer;
            }
            return ParseStatsReply(reply.data(), reply.size(), values);
        }
    }
    return KernelChannel::Instance().Query(ifname, values);
}

DWORD QueryEthMacCounters(const std::string &ifname, EthMacCounters *counters) {
    EthMacValues values;
    const DWORD answer = QueryEthMacValues(ifname, &values);
    if (answer != ERROR_SUCCESS) {
        return answer;
    }
    *counters = ToCounters(values);
    return ERROR_SUCCESS;
}

void SendStrayRequestForTesting(const std::string &ifname) {
    KernelChannel::Instance().SendStray(ifname);
}

void SetEthtoolTransportForTesting(EthtoolTransport transport) {
    std::lock_guard<std::mutex> guard(TransportLock);
    TransportIsReplaced.store(static_cast<bool>(transport), std::memory_order_release);
    ReplacedTransport() = std::move(transport);
}

bool EthtoolTransportReplaced() {
    std::lock_guard<std::mutex> guard(TransportLock);
    return static_cast<bool>(ReplacedTransport());
}

}  // namespace nt

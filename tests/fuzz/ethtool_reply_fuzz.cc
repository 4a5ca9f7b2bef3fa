// Fuzz target of the ethtool netlink statistics reply parser.
//
// Input: the kernel's answer, as bytes. Contract:
//  - any bytes parse without fault, to ERROR_SUCCESS, ERROR_INVALID_DATA or
//    the Win32 error of an error message; the counters are written only on
//    success;
//  - a well-formed reply carrying counters made from the input reads back
//    exactly those counters (of the attributes the parser has slots for), whatever the input's own
//    bytes add after its acknowledgement (the answer ends there);
//  - an error message with any error number is an error, never success.
#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>

#include <cstring>
#include <vector>

#include "ethtool_stats.h"
#include "fuzz_support.h"
#include "nt/win32.h"

namespace {

const char Target[] = "ethtool reply";

void Put(std::vector<uint8_t> *message, const void *data, size_t size) {
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    message->insert(message->end(), bytes, bytes + size);
}

void Align(std::vector<uint8_t> *message) { message->resize(NLMSG_ALIGN(message->size())); }

void PutAttribute(std::vector<uint8_t> *message, uint16_t type, const void *data, size_t size) {
    const nlattr header{static_cast<uint16_t>(NLA_HDRLEN + size), type};
    Put(message, &header, sizeof header);
    Put(message, data, size);
    Align(message);
}

size_t OpenNest(std::vector<uint8_t> *message, uint16_t type) {
    const size_t at = message->size();
    PutAttribute(message, type | NLA_F_NESTED, nullptr, 0);
    return at;
}

void CloseNest(std::vector<uint8_t> *message, size_t at) {
    const uint16_t length = static_cast<uint16_t>(message->size() - at);
    std::memcpy(message->data() + at, &length, sizeof length);
}

void PutHeader(std::vector<uint8_t> *message, uint16_t type, uint8_t command) {
    const nlmsghdr header{0, type, 0, 1, 0};
    Put(message, &header, sizeof header);
    if (type != NLMSG_ERROR && type != NLMSG_DONE) {
        const genlmsghdr generic{command, ETHTOOL_GENL_VERSION, 0};
        Put(message, &generic, sizeof generic);
    }
}

void FinishMessage(std::vector<uint8_t> *message, size_t at) {
    const uint32_t length = static_cast<uint32_t>(message->size() - at);
    std::memcpy(message->data() + at, &length, sizeof length);
    Align(message);
}

// A reply to ETHTOOL_MSG_STATS_GET with one eth-mac group of counters,
// acknowledged.
std::vector<uint8_t> Reply(const nt::EthMacCounters &counters) {
    std::vector<uint8_t> message;
    PutHeader(&message, 20, ETHTOOL_MSG_STATS_GET_REPLY);
    const size_t group = OpenNest(&message, ETHTOOL_A_STATS_GRP);
    const uint32_t id = ETHTOOL_STATS_ETH_MAC;
    PutAttribute(&message, ETHTOOL_A_STATS_GRP_ID, &id, sizeof id);
    const size_t stat = OpenNest(&message, ETHTOOL_A_STATS_GRP_STAT);
    for (const auto &counter : counters) {
        PutAttribute(&message, counter.first, &counter.second, sizeof counter.second);
    }
    CloseNest(&message, stat);
    CloseNest(&message, group);
    FinishMessage(&message, 0);
    const size_t ack = message.size();
    PutHeader(&message, NLMSG_ERROR, 0);
    const int noError = 0;
    Put(&message, &noError, sizeof noError);
    FinishMessage(&message, ack);
    return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const nt::EthMacCounters untouched{{0xFFFF, 1}};
    nt::EthMacCounters counters = untouched;
    const DWORD answer = nt::ParseStatsReply(data, size, &counters);
    if (answer != ERROR_SUCCESS && counters != untouched) {
        fuzz::Violation(Target, "counters written on a failure");
    }

    fuzz::Bytes input(data, size);
    nt::EthMacCounters wanted;
    for (int i = input.Byte() % 16; i > 0; --i) {
        // The parser keeps the counters it has slots for; others are
        // attributes of newer kernels, and read as absent.
        const uint16_t attribute = input.Number<uint16_t>() % nt::EthMacValues::Slots;
        wanted[attribute] = input.Number<uint64_t>();
    }
    std::vector<uint8_t> reply = Reply(wanted);
    const std::string rest = input.Rest();
    reply.insert(reply.end(), rest.begin(), rest.end());
    if (nt::ParseStatsReply(reply.data(), reply.size(), &counters) != ERROR_SUCCESS ||
        counters != wanted) {
        fuzz::Violation(Target, "a well-formed reply does not read back");
    }

    // The kernel's error message: its number from the input.
    std::vector<uint8_t> error;
    PutHeader(&error, NLMSG_ERROR, 0);
    int number = static_cast<int>(fuzz::Bytes(data, size).Number<uint32_t>());
    number = number == 0 ? -1 : number;
    Put(&error, &number, sizeof number);
    FinishMessage(&error, 0);
    counters = untouched;
    if (nt::ParseStatsReply(error.data(), error.size(), &counters) == ERROR_SUCCESS ||
        counters != untouched) {
        fuzz::Violation(Target, "an error message read as success");
    }
    return 0;
}

std::string GenerateFuzzInput(std::mt19937 &random) {
    // Well-formed replies, then cut, patched and run together.
    std::string input;
    const int messages = 1 + static_cast<int>(random() % 3);
    for (int m = 0; m < messages; ++m) {
        nt::EthMacCounters counters;
        for (int i = static_cast<int>(random() % 6); i > 0; --i) {
            counters[static_cast<uint16_t>(random() % 20)] = uint64_t{random()} << 32 | random();
        }
        const std::vector<uint8_t> reply = Reply(counters);
        input.append(reply.begin(), reply.end());
    }
    const int patches = static_cast<int>(random() % 4);
    for (int i = 0; i < patches && !input.empty(); ++i) {
        input[random() % input.size()] = static_cast<char>(random() % 256);
    }
    if (random() % 3 == 0) {
        input.resize(random() % (input.size() + 1));
    }
    return input;
}

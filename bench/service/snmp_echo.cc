// snmp_echo: the floor under any SNMP agent on this machine. It answers
// every SNMPv1/v2c request datagram at once with the request itself,
// turned into a response (the PDU's tag becomes GetResponse): one receive
// and one send, no parsing beyond the message header, no access check.
// snmp_load against it measures what the client, the kernel and one UDP
// round trip cost by themselves.
//
//   snmp_echo PORT      (listens on 127.0.0.1:PORT until killed)
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Skips one BER tag and length at data[*at]; false when malformed.
bool SkipHeader(const unsigned char *data, size_t size, size_t *at, size_t *length) {
    if (*at + 2 > size) {
        return false;
    }
    ++*at;  // tag
    size_t first = data[(*at)++];
    if (first < 0x80) {
        *length = first;
        return true;
    }
    first &= 0x7F;
    if (first == 0 || first > 2 || *at + first > size) {
        return false;
    }
    *length = 0;
    while (first-- > 0) {
        *length = (*length << 8) | data[(*at)++];
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("Usage: snmp_echo PORT\n", stderr);
        return 2;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock < 0 ||
        bind(sock, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        std::perror("snmp_echo: bind");
        return 1;
    }
    unsigned char data[65536];
    for (;;) {
        struct sockaddr_in from;
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(sock, data, sizeof data, 0,
                                     reinterpret_cast<struct sockaddr *>(&from), &fromLength);
        if (got <= 0) {
            continue;
        }
        const size_t size = static_cast<size_t>(got);
        // Message SEQUENCE { version INTEGER, community OCTET STRING, PDU }.
        size_t at = 0;
        size_t length = 0;
        if (!SkipHeader(data, size, &at, &length) || !SkipHeader(data, size, &at, &length)) {
            continue;
        }
        at += length;  // version
        if (!SkipHeader(data, size, &at, &length)) {
            continue;
        }
        at += length;  // community
        if (at >= size) {
            continue;
        }
        data[at] = 0xA2;  // GetResponse
        sendto(sock, data, size, 0, reinterpret_cast<struct sockaddr *>(&from), fromLength);
    }
}

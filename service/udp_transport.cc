// Lean receive and send for the engine's IPv4 UDP sockets; see
// udp_transport.h.
#include "udp_transport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/snmpUDPBaseDomain.h>

// The library's list of open sessions (snmp_api.c); its entry type is
// declared in snmp_api.h.
extern "C" struct session_list *Sessions;

namespace snmpsvc {

namespace {

// The address each trimmed socket is bound to, asked once.
struct Bound {
    int sock;
    struct sockaddr_in local;
};
constexpr int MaxBound = 16;
Bound g_bound[MaxBound];
int g_boundCount = 0;

const Bound *BoundOf(int sock) {
    for (int i = 0; i < g_boundCount; ++i) {
        if (g_bound[i].sock == sock) {
            return &g_bound[i];
        }
    }
    return nullptr;
}

// As the library's receive: the sender, the datagram's destination address
// (with the socket's port) and its interface, in an address pair that the
// library frees; without the getsockname.
int Receive(netsnmp_transport *t, void *buf, int size, void **opaque, int *olength) {
    const Bound *bound = t != nullptr ? BoundOf(t->sock) : nullptr;
    if (bound == nullptr) {
        return netsnmp_udpbase_recv(t, buf, size, opaque, olength);
    }
    auto *pair =
        static_cast<netsnmp_indexed_addr_pair *>(std::calloc(1, sizeof(netsnmp_indexed_addr_pair)));
    if (pair == nullptr) {
        *opaque = nullptr;
        *olength = 0;
        return -1;
    }
    struct iovec iov = {buf, static_cast<size_t>(size)};
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(struct in_pktinfo))];
    struct msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_name = &pair->remote_addr;
    message.msg_namelen = sizeof pair->remote_addr;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = recvmsg(t->sock, &message, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got >= 0) {
        pair->local_addr.sin = bound->local;
        for (struct cmsghdr *cm = CMSG_FIRSTHDR(&message); cm != nullptr;
             cm = CMSG_NXTHDR(&message, cm)) {
            if (cm->cmsg_level == SOL_IP && cm->cmsg_type == IP_PKTINFO) {
                struct in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(cm), sizeof info);
                pair->local_addr.sin.sin_addr = info.ipi_addr;
                pair->if_index = info.ipi_ifindex;
            }
        }
    }
    *opaque = pair;
    *olength = sizeof(netsnmp_indexed_addr_pair);
    return static_cast<int>(got);
}

ssize_t SendMessage(int sock, struct msghdr *message) {
    ssize_t sent;
    do {
        sent = sendmsg(sock, message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

// As the library's send to an address pair of ours: from the address the
// request came to; when the kernel refuses that source (a broadcast
// address), through the interface it came in on; else as the kernel
// chooses. Without the getsockopt.
int Send(netsnmp_transport *t, const void *buf, int size, void **opaque, int *olength) {
    const Bound *bound = t != nullptr ? BoundOf(t->sock) : nullptr;
    if (bound == nullptr || opaque == nullptr || *opaque == nullptr || olength == nullptr ||
        *olength != static_cast<int>(sizeof(netsnmp_indexed_addr_pair))) {
        return netsnmp_udpbase_send(t, buf, size, opaque, olength);
    }
    auto *pair = static_cast<netsnmp_indexed_addr_pair *>(*opaque);
    if (pair->remote_addr.sa.sa_family != AF_INET) {
        return netsnmp_udpbase_send(t, buf, size, opaque, olength);
    }
    struct iovec iov = {const_cast<void *>(buf), static_cast<size_t>(size)};
    struct msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_name = &pair->remote_addr.sin;
    message.msg_namelen = sizeof(struct sockaddr_in);
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    if (pair->local_addr.sin.sin_addr.s_addr != INADDR_ANY) {
        alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(struct in_pktinfo))];
        std::memset(control, 0, sizeof control);
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        struct cmsghdr *cm = CMSG_FIRSTHDR(&message);
        cm->cmsg_level = SOL_IP;
        cm->cmsg_type = IP_PKTINFO;
        cm->cmsg_len = CMSG_LEN(sizeof(struct in_pktinfo));
        struct in_pktinfo info;
        std::memset(&info, 0, sizeof info);
        info.ipi_spec_dst = pair->local_addr.sin.sin_addr;
        std::memcpy(CMSG_DATA(cm), &info, sizeof info);
        ssize_t sent = SendMessage(t->sock, &message);
        if (sent >= 0 || errno != EINVAL) {
            return static_cast<int>(sent);
        }
        info.ipi_spec_dst.s_addr = INADDR_ANY;
        info.ipi_ifindex = pair->if_index;
        std::memcpy(CMSG_DATA(cm), &info, sizeof info);
        sent = SendMessage(t->sock, &message);
        if (sent >= 0 || errno != EINVAL) {
            return static_cast<int>(sent);
        }
        message.msg_control = nullptr;
        message.msg_controllen = 0;
    }
    return static_cast<int>(SendMessage(t->sock, &message));
}

// Whether t is the library's IPv4 UDP transport on a socket bound to an
// IPv4 address and to no device; *local is that address.
bool Trimmable(const netsnmp_transport *t, struct sockaddr_in *local) {
    const bool library =
        t != nullptr && t->f_recv == netsnmp_udpbase_recv && t->f_send == netsnmp_udpbase_send;
    const bool ours = t != nullptr && t->f_recv == Receive && t->f_send == Send;
    if (t == nullptr || t->sock < 0 || !(library || ours) ||
        (t->flags & NETSNMP_TRANSPORT_FLAG_STREAM) != 0) {
        return false;
    }
    struct sockaddr_storage address;
    socklen_t length = sizeof address;
    if (getsockname(t->sock, reinterpret_cast<struct sockaddr *>(&address), &length) != 0 ||
        address.ss_family != AF_INET || length != sizeof(struct sockaddr_in)) {
        return false;
    }
    char device[IFNAMSIZ];
    socklen_t deviceLength = sizeof device;
    if (getsockopt(t->sock, SOL_SOCKET, SO_BINDTODEVICE, device, &deviceLength) != 0 ||
        deviceLength != 0) {
        return false;
    }
    std::memcpy(local, &address, sizeof *local);
    return true;
}

}  // namespace

int TrimUdpTransports() {
    // Asked afresh from the open sessions: a socket closed since may have
    // left its descriptor to another.
    g_boundCount = 0;
    int trimmed = 0;
    for (struct session_list *entry = Sessions; entry != nullptr; entry = entry->next) {
        netsnmp_transport *t = entry->transport;
        struct sockaddr_in local;
        if (g_boundCount == MaxBound || BoundOf(t != nullptr ? t->sock : -1) != nullptr ||
            !Trimmable(t, &local)) {
            continue;
        }
        g_bound[g_boundCount++] = {t->sock, local};
        t->f_recv = Receive;
        t->f_send = Send;
        ++trimmed;
    }
    return trimmed;
}

}  // namespace snmpsvc

// The engine's UDP listening sockets, read and written with fewer system
// calls.
//
// Net-SNMP's IPv4 UDP transport asks the kernel for the socket's own
// address (getsockname) after every datagram it receives, only to learn its
// port, and whether the socket is bound to a device (getsockopt
// SO_BINDTODEVICE) before every datagram it sends. Neither can change once
// the socket is bound, so TrimUdpTransports asks both once per socket and
// gives each listening IPv4 UDP transport a receive and a send that do the
// rest exactly as the library's do: recvmsg with the datagram's destination
// address and interface (IP_PKTINFO), which the response then goes out
// from, with the library's fallbacks when that source cannot be used.
//
// A transport that is not the library's plain IPv4 UDP one (IPv6, TCP,
// DTLS, AgentX), or a socket bound to a device, is left as it is.
#ifndef SERVICE_UDP_TRANSPORT_H
#define SERVICE_UDP_TRANSPORT_H

namespace snmpsvc {

// Trims every listening IPv4 UDP transport of the engine's open sessions;
// call after the listener is open, and again whenever it is reopened.
// The number of transports trimmed.
int TrimUdpTransports();

}  // namespace snmpsvc

#endif  // SERVICE_UDP_TRANSPORT_H

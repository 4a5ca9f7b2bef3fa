// A real adapter: a Linux network interface answering the NDIS statistics.
//
// A Device entry that is a symbolic link to an interface's folder
// (/sys/class/net/eth0, or any folder of the same shape) opens as an
// adapter. Each statistic is answered at the moment it is asked, from the
// best source the interface has: ethtool's IEEE 802.3 MAC counters (eth-mac)
// where the driver keeps them, else the interface's statistics/ files. The
// source of each statistic is chosen when the adapter opens and kept, so a
// counter never jumps between sources. Counters are 64-bit in Linux and are
// taken modulo 2^32, as a Counter32 wraps.
//
// The collision, deferral, carrier-sense, late, excessive and SQE counters
// never increment in full-duplex mode (RFC 3635): while the link is not
// known to be half duplex, those answer 0 unless eth-mac gives them. On a
// half-duplex link a statistic with no source fails its query.
//
// The statistics files (and duplex) are kept open once read and read again
// with pread at offset 0, for which the kernel makes the value anew. At
// every query a stat of the Device entry tells whether it still leads to
// the same interface folder; when the interface was deleted and made again,
// renamed, or the entry changed, the files are opened afresh where it leads
// now (a read that fails with ENODEV does the same). Files are opened
// without blocking and only regular ones are read, a counter at most
// CounterFileCap bytes: a fixture folder holding a pipe or a device node
// fails that statistic's query at once.
#ifndef PLATFORM_INTERFACE_ADAPTER_H
#define PLATFORM_INTERFACE_ADAPTER_H

#include <memory>
#include <string>

#include "adapter_device.h"
#include "nt/adapter_statistics.h"
#include "nt/ntroot.h"

namespace nt {

// Opens the interface whose folder is folder (a resolved path), reached
// through the Device entry entry, for the kernel device name (\Device\Vxlnk1).
// Null with *error when it is not an interface folder.
std::shared_ptr<AdapterDevice> OpenInterfaceAdapter(const std::string &entry,
                                                    const std::string &folder,
                                                    const std::string &name, DWORD *error);

// DescribeInterfaceSource, for tools: nt/adapter_statistics.h.

}  // namespace nt

#endif  // PLATFORM_INTERFACE_ADAPTER_H

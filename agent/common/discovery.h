// Adapter discovery: which of the maker's adapters this machine has.
//
// Discovery probes a fixed list of 27 kernel device names of the maker's
// adapter drivers, once, at initialisation. For each name it defines a DOS
// device alias ("SNMPAdapter1" onward) that points at the kernel device and
// opens the device through that alias; every device that opens becomes the
// next row of the agent's table, in the order of the list. The handles and
// the aliases of the adapters found stay as they are while the agent is
// loaded. All of this state is the agent library's own: each agent in a host
// probes by itself.
#ifndef AGENT_COMMON_DISCOVERY_H
#define AGENT_COMMON_DISCOVERY_H

#include "nt/win32.h"

constexpr UINT AdapterTableSize = 16;
constexpr UINT DeviceNameCount = 27;

struct AdapterSlot {
    HANDLE handle;   // the device opened for this adapter
    char alias[13];  // the alias it was opened under, NUL-terminated
};

// The names probed, in order, ended by a null entry.
extern const char *const DeviceNameTable[DeviceNameCount + 1];

// Index of the next name to probe; only increases.
extern UINT ProbePosition;

// The alias under which the next adapter is opened, and the path that opens
// it; their last characters (the suffix) advance together, by character
// code, as adapters are found: '1' .. '9', ':', ';' .. '@'.
extern char AdapterAlias[13];
extern char AdapterPath[17];
constexpr size_t AdapterAliasSuffix = 11;
constexpr size_t AdapterPathSuffix = 15;

// Slot k - 1 belongs to row k; slots 0 .. AdapterCount - 1 are filled.
extern AdapterSlot AdapterTable[AdapterTableSize];
extern UINT AdapterCount;

// Probes the names from ProbePosition on. 0 when at least one adapter is
// open afterwards, 1 when none is. A device that opens when the table is
// full is closed again, its alias removed, and the probe ends there.
UINT DiscoverAdapters();

#endif  // AGENT_COMMON_DISCOVERY_H

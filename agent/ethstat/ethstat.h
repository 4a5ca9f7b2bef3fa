// The Ethernet-like statistics agent (dot3StatsTable, 1.3.6.1.2.1.10.7.2.1):
// one row per adapter found, every counter read from the adapter's driver
// with the NDIS global-statistics query at the moment it is asked for.
#ifndef AGENT_ETHSTAT_ETHSTAT_H
#define AGENT_ETHSTAT_ETHSTAT_H

#include "nt/snmpext.h"

// NDIS statistics behind the counter columns.
constexpr DWORD OID_GEN_RCV_CRC_ERROR = 0x0002020D;
constexpr DWORD OID_802_3_RCV_ERROR_ALIGNMENT = 0x01020101;
constexpr DWORD OID_802_3_XMIT_ONE_COLLISION = 0x01020102;
constexpr DWORD OID_802_3_XMIT_MORE_COLLISIONS = 0x01020103;
constexpr DWORD OID_802_3_XMIT_DEFERRED = 0x01020201;
constexpr DWORD OID_802_3_XMIT_MAX_COLLISIONS = 0x01020202;
constexpr DWORD OID_802_3_RCV_OVERRUN = 0x01020203;
constexpr DWORD OID_802_3_XMIT_UNDERRUN = 0x01020204;
constexpr DWORD OID_802_3_XMIT_HEARTBEAT_FAILURE = 0x01020205;
constexpr DWORD OID_802_3_XMIT_TIMES_CRS_LOST = 0x01020206;
constexpr DWORD OID_802_3_XMIT_LATE_COLLISIONS = 0x01020207;

// Asks the driver behind device for one statistic. TRUE with *value, or
// FALSE when the driver does not answer.
BOOL QueryAdapterStatistic(HANDLE device, DWORD statistic, DWORD *value);

#endif  // AGENT_ETHSTAT_ETHSTAT_H

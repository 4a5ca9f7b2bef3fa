// The Ethernet-like statistics agent's hooks; see ethstat.h.
//
// Columns 1 to 11, 13 and 16 of dot3StatsEntry are served: the index, the
// constant dot3StatsFrameTooLongs (0, no driver keeps it) and eleven
// counters, each tied to one NDIS statistic. Nothing is cached, so a full
// walk costs eleven driver queries a row. A query the driver does not answer
// makes the cell noSuchName: a GET of it fails, and a GETNEXT walk passes
// over it to the next cell that answers.
#include "ethstat.h"

#include "common/agent.h"
#include "common/discovery.h"
#include "common/table.h"
#include "nt/adapter_statistics.h"
#include "nt/win32.h"

namespace {

UINT ViewArcs[10] = {1, 3, 6, 1, 2, 1, 10, 7, 2, 1};

constexpr UINT IndexColumn = 1;
constexpr UINT FrameTooLongsColumn = 13;
constexpr UINT Columns[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16};

// The NDIS statistic of each counter column, indexed by column; 0 where the
// column has none.
constexpr DWORD ColumnStatistic[17] = {
    0,
    0,
    OID_802_3_RCV_ERROR_ALIGNMENT,
    OID_GEN_RCV_CRC_ERROR,
    OID_802_3_XMIT_ONE_COLLISION,
    OID_802_3_XMIT_MORE_COLLISIONS,
    OID_802_3_XMIT_HEARTBEAT_FAILURE,
    OID_802_3_XMIT_DEFERRED,
    OID_802_3_XMIT_LATE_COLLISIONS,
    OID_802_3_XMIT_MAX_COLLISIONS,
    OID_802_3_XMIT_UNDERRUN,
    OID_802_3_XMIT_TIMES_CRS_LOST,
    0,
    0,
    0,
    0,
    OID_802_3_RCV_OVERRUN,
};

// The column table above is the agent's own; it must say what the shared
// table of statistics says, column for column.
constexpr bool ColumnsAgreeWithStatistics() {
    size_t counters = 0;
    for (DWORD statistic : ColumnStatistic) {
        counters += statistic != 0 ? 1 : 0;
    }
    if (counters != nt::kAdapterStatisticCount) {
        return false;
    }
    for (const nt::AdapterStatistic &entry : nt::kAdapterStatistics) {
        if (entry.column >= sizeof ColumnStatistic / sizeof ColumnStatistic[0] ||
            ColumnStatistic[entry.column] != entry.identifier) {
            return false;
        }
    }
    return true;
}
static_assert(ColumnsAgreeWithStatistics(), "ColumnStatistic disagrees with kAdapterStatistics");

}  // namespace

const AsnObjectIdentifier AgentView = {10, ViewArcs};

BOOL QueryAdapterStatistic(HANDLE device, DWORD statistic, DWORD *value) {
    DWORD in = statistic;
    DWORD out = 0;
    DWORD returned = 0;
    if ((DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &in, sizeof in, &out, sizeof out,
                         &returned, nullptr) &
         0xFF) != TRUE) {
        return FALSE;
    }
    *value = out;
    return TRUE;
}

int AgentInit() { return InitAgentTable(Columns, sizeof Columns / sizeof Columns[0]); }

AsnInteger AgentColumnValue(RFC1157VarBind *binding, UINT column, UINT instance) {
    if (instance == 0 || instance > AdapterCount) {
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    AsnAny &value = binding->value;
    if (column == IndexColumn) {
        value.asnType = ASN_INTEGER;
        value.asnValue.number = static_cast<AsnInteger>(instance);
        return SNMP_ERRORSTATUS_NOERROR;
    }
    if (column == FrameTooLongsColumn) {
        value.asnType = ASN_RFC1155_COUNTER;
        value.asnValue.counter = 0;
        return SNMP_ERRORSTATUS_NOERROR;
    }
    if (column >= sizeof ColumnStatistic / sizeof ColumnStatistic[0] ||
        ColumnStatistic[column] == 0) {
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    value.asnType = ASN_RFC1155_COUNTER;
    DWORD counter = 0;
    if (!QueryAdapterStatistic(AdapterTable[instance - 1].handle, ColumnStatistic[column],
                               &counter)) {
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    value.asnValue.counter = counter;
    return SNMP_ERRORSTATUS_NOERROR;
}

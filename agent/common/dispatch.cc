// The exported entry points and the per-binding request dispatch.
//
// A GET is answered from arcs 11 and 12 of a 12-arc name; a GETNEXT walks
// the table from arcs 11 and 12 (missing arcs count as 0) and puts the next
// object's name into the binding. A cell whose value cannot be read (its
// driver does not answer) is passed over: the GETNEXT goes on, in the same
// order, to the next cell that answers, so one failing counter hides
// nothing after it. A GETNEXT that runs off the table is answered with
// noError and the end-of-view name, AgentView with its last arc plus 1, so
// the host moves on. Every other request type is refused with genErr, and
// so is a binding whose name could not be allocated. Names handed to the
// host are new identifiers on the global heap (see nt/snmpext.h); the
// dispatch releases every identifier it made and did not hand over, and
// never the name the host passed in.
#include "agent.h"
#include "discovery.h"
#include "snmp.h"
#include "table.h"

namespace {

constexpr UINT TableNameLength = 12;
constexpr UINT ColumnArc = 10;    // index of arc 11
constexpr UINT InstanceArc = 11;  // index of arc 12

UINT RowSuffixArcs[2] = {0, 0};
const AsnObjectIdentifier RowSuffix = {2, RowSuffixArcs};

// The name of (column, instance), as a new identifier in *name. FALSE when
// an allocation failed; nothing is then allocated and *name is untouched.
BOOL BuildRowName(AsnObjectIdentifier *name, UINT column, UINT instance) {
    AsnObjectIdentifier working = {0, nullptr};
    if (!OidCopy(&working, &AgentView)) {
        return FALSE;
    }
    if (!OidAppend(&working, &RowSuffix)) {
        GlobalFree(working.ids);
        return FALSE;
    }
    working.ids[ColumnArc] = column;
    working.ids[InstanceArc] = instance;
    AsnObjectIdentifier copy = {0, nullptr};
    const BOOL copied = OidCopy(&copy, &working);
    GlobalFree(working.ids);
    if (!copied) {
        return FALSE;
    }
    *name = copy;
    return TRUE;
}

// The end-of-view name, as a new identifier in *name, or FALSE with *name
// untouched.
BOOL BuildEndOfViewName(AsnObjectIdentifier *name) {
    AsnObjectIdentifier copy = {0, nullptr};
    if (!OidCopy(&copy, &AgentView)) {
        return FALSE;
    }
    ++copy.ids[copy.idLength - 1];
    *name = copy;
    return TRUE;
}

}  // namespace

AsnInteger QueryBinding(RFC1157VarBind *binding, BYTE requestType) {
    const AsnObjectIdentifier &name = binding->name;
    UINT column = name.idLength > ColumnArc ? name.ids[ColumnArc] : 0;
    UINT instance = name.idLength > InstanceArc ? name.ids[InstanceArc] : 0;

    switch (requestType) {
        case ASN_RFC1157_GETREQUEST:
            if (name.idLength != TableNameLength) {
                return SNMP_ERRORSTATUS_NOSUCHNAME;
            }
            return AgentColumnValue(binding, column, instance);
        case ASN_RFC1157_GETNEXTREQUEST: {
            // Each cell tried gets its name in the binding before its value
            // is asked for. A cell that does not answer gives the binding's
            // value back as it came and its name back to the heap when the
            // next one replaces it; the caller's own name is never released.
            UINT *const callersArcs = name.ids;
            const AsnAny valueAsItCame = binding->value;
            for (;;) {
                if (TableNext(&column, &instance) != SNMP_ERRORSTATUS_NOERROR) {
                    return SNMP_ERRORSTATUS_NOSUCHNAME;
                }
                UINT *const storedArcs = binding->name.ids;
                if (!BuildRowName(&binding->name, column, instance)) {
                    return SNMP_ERRORSTATUS_GENERR;
                }
                if (storedArcs != callersArcs) {
                    GlobalFree(storedArcs);
                }
                const AsnInteger status = AgentColumnValue(binding, column, instance);
                if (status != SNMP_ERRORSTATUS_NOSUCHNAME) {
                    return status;
                }
                binding->value = valueAsItCame;
            }
        }
        default: return SNMP_ERRORSTATUS_GENERR;
    }
}

extern "C" {

__attribute__((visibility("default"))) BOOL SnmpExtensionInit(DWORD /*timeZeroReference*/,
                                                              HANDLE *trapEvent,
                                                              AsnObjectIdentifier *view) {
    if (AgentInit() == 0) {
        // The host learns why from the thread's last-error code: no adapter
        // answered discovery, or there was no memory for the column list.
        SetLastError(AdapterCount == 0 ? ERROR_DEV_NOT_EXIST : ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *view = AgentView;
    *trapEvent = nullptr;
    return TRUE;
}

__attribute__((visibility("default"))) BOOL SnmpExtensionQuery(BYTE requestType,
                                                               RFC1157VarBindList *bindings,
                                                               AsnInteger *errorStatus,
                                                               AsnInteger *errorIndex) {
    for (UINT i = 0; i < bindings->len; ++i) {
        RFC1157VarBind *binding = &bindings->list[i];
        UINT *const callersArcs = binding->name.ids;
        AsnInteger status = QueryBinding(binding, requestType);
        if (status == SNMP_ERRORSTATUS_NOSUCHNAME && requestType == ASN_RFC1157_GETNEXTREQUEST) {
            // Past the end of the table: answer with the first name after it.
            // A name the dispatch stored a moment ago is replaced, so it goes
            // back to the heap; the caller's own name stays the caller's.
            UINT *const storedArcs = binding->name.ids;
            if (BuildEndOfViewName(&binding->name)) {
                if (storedArcs != callersArcs) {
                    GlobalFree(storedArcs);
                }
                status = SNMP_ERRORSTATUS_NOERROR;
            } else {
                status = SNMP_ERRORSTATUS_GENERR;
            }
        }
        *errorStatus = status;
        if (status != SNMP_ERRORSTATUS_NOERROR) {
            *errorIndex = static_cast<AsnInteger>(i + 1);
            return TRUE;
        }
    }
    return TRUE;
}

__attribute__((visibility("default"))) BOOL SnmpExtensionTrap(AsnObjectIdentifier * /*enterprise*/,
                                                              AsnInteger * /*genericTrap*/,
                                                              AsnInteger * /*specificTrap*/,
                                                              AsnTimeticks * /*timeStamp*/,
                                                              RFC1157VarBindList * /*bindings*/) {
    return FALSE;
}

}  // extern "C"

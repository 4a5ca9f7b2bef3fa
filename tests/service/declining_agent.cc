// DECLINE.DLL: an extension agent that declines to serve without saying
// why (SnmpExtensionInit returns FALSE and sets no last-error code), for
// the service's tests.
#include "nt/snmpext.h"

#define AGENT_EXPORT extern "C" __attribute__((visibility("default")))

AGENT_EXPORT BOOL SnmpExtensionInit(DWORD, HANDLE *, AsnObjectIdentifier *) { return FALSE; }

AGENT_EXPORT BOOL SnmpExtensionQuery(BYTE, RFC1157VarBindList *, AsnInteger *, AsnInteger *) {
    return FALSE;
}

AGENT_EXPORT BOOL SnmpExtensionTrap(AsnObjectIdentifier *, AsnInteger *, AsnInteger *,
                                    AsnTimeticks *, RFC1157VarBindList *) {
    return FALSE;
}

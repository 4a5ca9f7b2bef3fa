/*
 * The extension-agent interface: the records a host and an SNMP extension
 * agent exchange, and the three entry points every agent library exports.
 *
 * This layout is the contract between a host (our service, or any other
 * program that loads an agent library) and the agents, so it is plain C
 * with natural alignment. On x86-64 an AsnObjectIdentifier is 16 bytes, an
 * AsnAny 24 and an RFC1157VarBind 40; a test pins these sizes.
 *
 * Ownership of what crosses the interface
 * ---------------------------------------
 * The binding list belongs to the host, and so does every binding's name as
 * the host passes it in. SnmpExtensionQuery answers in place:
 *
 *  - Names. An agent may replace a binding's name by a new identifier. The
 *    new identifier's arcs lie in one block of the platform's global heap
 *    (GlobalAlloc) and become the host's with the response: after the call
 *    the host compares each binding's `ids` with the pointer it passed in,
 *    and a different pointer is a name the agent handed over, which the
 *    host releases with GlobalFree(name.ids) when it is done with it. The
 *    name the host passed in is never released or changed by the agent; it
 *    stays the host's to release, whether or not it was replaced. The agent
 *    keeps no reference to any name after the call returns.
 *
 *  - Values. An agent writes a binding's value record in place (the type
 *    tag and one member of the union). Integers and counters live in the
 *    record itself. Octet strings and object identifiers that an agent
 *    returns refer to constant data of the agent library (an octet string's
 *    `dynamic` flag is FALSE): the host must neither release nor change
 *    them, and they stay valid for as long as the library stays loaded.
 *    A value record that the host filled before the call may be overwritten
 *    without being released, so a host passes values that own nothing
 *    (ASN_NULL is customary for GET and GETNEXT).
 *
 *  - The view. The supported view that SnmpExtensionInit returns points at
 *    the agent's static arcs; the host copies it if it needs it beyond the
 *    library's life, and never releases it.
 *
 * Agents take no locks: a host calls an agent from one thread at a time,
 * and calls SnmpExtensionInit once, before any query.
 */
#ifndef NT_SNMPEXT_H
#define NT_SNMPEXT_H

#include "nt/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t AsnInteger;
typedef uint32_t AsnUnsigned32;
typedef uint32_t AsnCounter;
typedef uint32_t AsnGauge;
typedef uint32_t AsnTimeticks;
typedef uint64_t AsnCounter64;

typedef struct AsnOctetString {
    BYTE *stream; /* the string's bytes */
    UINT length;  /* number of bytes; no terminating NUL is counted */
    BOOL dynamic; /* FALSE: the bytes are not the receiver's to release */
} AsnOctetString;

typedef struct AsnObjectIdentifier {
    UINT idLength; /* number of arcs */
    UINT *ids;     /* idLength arcs of 32 bits */
} AsnObjectIdentifier;

typedef struct AsnAny {
    BYTE asnType; /* one of the ASN_ tags below */
    union {
        AsnInteger number;
        AsnUnsigned32 unsigned32;
        AsnCounter64 counter64;
        AsnOctetString string;
        AsnObjectIdentifier object;
        AsnOctetString address;
        AsnCounter counter;
        AsnGauge gauge;
        AsnTimeticks ticks;
        AsnOctetString arbitrary;
    } asnValue;
} AsnAny;

typedef struct RFC1157VarBind {
    AsnObjectIdentifier name;
    AsnAny value;
} RFC1157VarBind;

typedef struct RFC1157VarBindList {
    RFC1157VarBind *list;
    UINT len;
} RFC1157VarBindList;

/* Value type tags. */
#define ASN_INTEGER 0x02
#define ASN_OCTETSTRING 0x04
#define ASN_NULL 0x05
#define ASN_OBJECTIDENTIFIER 0x06
#define ASN_RFC1155_IPADDRESS 0x40
#define ASN_RFC1155_COUNTER 0x41
#define ASN_RFC1155_GAUGE 0x42
#define ASN_RFC1155_TIMETICKS 0x43
#define ASN_RFC1155_OPAQUE 0x44
#define ASN_COUNTER64 0x46

/* Request types. */
#define ASN_RFC1157_GETREQUEST 0xA0
#define ASN_RFC1157_GETNEXTREQUEST 0xA1
#define ASN_RFC1157_GETRESPONSE 0xA2
#define ASN_RFC1157_SETREQUEST 0xA3
#define ASN_RFC1157_TRAP 0xA4

/* Error statuses of a response. */
#define SNMP_ERRORSTATUS_NOERROR 0
#define SNMP_ERRORSTATUS_TOOBIG 1
#define SNMP_ERRORSTATUS_NOSUCHNAME 2
#define SNMP_ERRORSTATUS_BADVALUE 3
#define SNMP_ERRORSTATUS_READONLY 4
#define SNMP_ERRORSTATUS_GENERR 5

/*
 * The entry points an agent library exports, as a host looks them up.
 *
 * SnmpExtensionInit: called once. TRUE with the agent's view in *view and
 * the agent's trap event (or NULL) in *trapEvent; FALSE when the agent
 * cannot serve, with neither written. The time origin is not used. A host
 * clears the thread's last-error code before the call: after FALSE it may
 * say why (ERROR_DEV_NOT_EXIST: the agent found no device to serve;
 * ERROR_NOT_ENOUGH_MEMORY: it ran out of memory; 0: it did not say).
 *
 * SnmpExtensionQuery: answers every binding of one GET or GETNEXT in place
 * (see above). Returns TRUE; *errorStatus tells how the request went and,
 * when it is not noError, *errorIndex is the 1-based binding that failed.
 *
 * SnmpExtensionTrap: FALSE when the agent has no trap to report.
 */
typedef BOOL (*PFNSNMPEXTENSIONINIT)(DWORD timeZeroReference, HANDLE *trapEvent,
                                     AsnObjectIdentifier *view);
typedef BOOL (*PFNSNMPEXTENSIONQUERY)(BYTE requestType, RFC1157VarBindList *bindings,
                                      AsnInteger *errorStatus, AsnInteger *errorIndex);
typedef BOOL (*PFNSNMPEXTENSIONTRAP)(AsnObjectIdentifier *enterprise, AsnInteger *genericTrap,
                                     AsnInteger *specificTrap, AsnTimeticks *timeStamp,
                                     RFC1157VarBindList *bindings);

#ifdef __cplusplus
}
#endif

#endif /* NT_SNMPEXT_H */

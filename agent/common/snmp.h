// Object-identifier utilities and the diagnostic log of the agents.
//
// OidCopy and OidAppend build the names an agent puts into its responses.
// Their arc storage comes from the platform's global heap, because a host
// releases the names it receives with GlobalFree; neither operation ever
// releases an identifier's storage. Both return TRUE or FALSE and, on
// failure, set the thread's last-error code.
//
// AgentLog is the agents' printf-style diagnostic log: a message passes when
// its level is at most LogLevel and then goes to each target in LogTargets,
// in the order file, event log, console. The settings are fixed when the
// agent is built; the shipped ones (level 1, event log only) let the only
// message the agents log (level 2) through to nowhere.
#ifndef AGENT_COMMON_SNMP_H
#define AGENT_COMMON_SNMP_H

#include <cstdio>

#include "nt/snmpext.h"
#include "nt/win32.h"

// The longest identifier OidAppend builds, in arcs.
constexpr UINT OidArcLimit = 32512;

// Sets *destination to a new identifier holding a copy of source's arcs.
// What destination->ids addressed before is not released. On an allocation
// failure: FALSE, last error ERROR_INVALID_FUNCTION, destination->ids NULL
// and destination->idLength as it was.
BOOL OidCopy(AsnObjectIdentifier *destination, const AsnObjectIdentifier *source);

// Appends source's arcs to destination, growing destination's block (or
// making one when destination->ids is NULL). FALSE with ERROR_INVALID_ACCESS
// when the result would exceed OidArcLimit, or ERROR_INVALID_FUNCTION when
// the allocation fails; destination is then unchanged.
BOOL OidAppend(AsnObjectIdentifier *destination, const AsnObjectIdentifier *source);

// Log targets, bits of LogTargets.
constexpr int LOG_TO_CONSOLE = 1;
constexpr int LOG_TO_FILE = 2;
constexpr int LOG_TO_EVENTLOG = 4;

constexpr DWORD AgentLogEventId = 1999;
constexpr const char *AgentLogFileName = "snmpdbg.log";
constexpr const char *AgentLogEventSource = "SNMP";
constexpr size_t AgentLogBufferSize = 256;

extern int LogLevel;           // threshold; shipped 1
extern int LogTargets;         // shipped LOG_TO_EVENTLOG
extern std::FILE *LogFile;     // opened at the first message to the file
extern HANDLE LogEventSource;  // registered at the first event

// Formats the message into a buffer of AgentLogBufferSize bytes (a longer
// message is cut at 255 characters) and writes it to the targets.
void AgentLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

#endif  // AGENT_COMMON_SNMP_H

// How one request binding reaches one extension agent, and what its answer
// becomes.
//
// The SNMP engine holds names with 64-bit arcs; an agent takes 32-bit arcs
// and reads only arcs 11 and 12 of a name, trusting the host to send it
// names that concern its view. These functions sit between the two, one
// binding at a time, and keep the agents' answers honest:
//
//  - GET: a name with an arc above 2^32-1 cannot be any agent's object and
//    is noSuchInstance without asking the agent. The agent's noSuchName is
//    noSuchInstance; any other failure is genErr.
//  - GETNEXT: a name before the view is asked as the view itself (the
//    agent's first object follows). A name inside the view with an arc
//    above 2^32-1 lies after every 32-bit name below its 32-bit prefix, so
//    the agent is asked for what follows the largest 32-bit name there.
//    An answer counts only when it lies inside the view and after the name
//    asked; anything else (the agent's end-of-view name, noSuchName, a name
//    that goes backwards) is "nothing more here", so the walk goes on into
//    the next view.
//  - SET: the value goes to the agent as it came; the agent's statuses
//    become SNMPv2 errors that the engine maps back for SNMPv1.
//
// Every name an agent hands back is released by snmphost::ExtensionAgent.
// Names are compared and converted in fixed arrays on the stack: routing a
// binding allocates nothing of its own.
#ifndef SERVICE_AGENT_ROUTER_H
#define SERVICE_AGENT_ROUTER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "extension_agent.h"

namespace snmpsvc {

// A name as the SNMP engine holds it.
using WideOid = std::vector<uint64_t>;

// The longest name the engine sends or takes (Net-SNMP's MAX_OID_LEN).
constexpr size_t MaxNameLength = 128;

struct Reply {
    enum Kind {
        Answer,          // name (GETNEXT) and value hold the object
        NoSuchInstance,  // GET: the agent has no such object
        NothingHere,     // GETNEXT: nothing after the name in this view
        Error,           // error holds an SNMPv2 error status
    };
    Kind kind = NothingHere;
    int error = 0;
    size_t nameLength = 0;         // Answer: the object's name is
    uint64_t name[MaxNameLength];  // name[0..nameLength)
    snmphost::Value value;
};

// SNMPv2 error statuses used in replies (the engine's numbering).
constexpr int ErrorTooBig = 1;
constexpr int ErrorGenErr = 5;
constexpr int ErrorWrongValue = 10;
constexpr int ErrorNotWritable = 17;

// Compares two names arc by arc, a proper prefix first: <0, 0 or >0.
int CompareNames(const uint64_t *a, size_t aLength, const uint64_t *b, size_t bLength);

Reply GetFromAgent(snmphost::ExtensionAgent &agent, const uint64_t *name, size_t length);
Reply GetNextFromAgent(snmphost::ExtensionAgent &agent, const uint64_t *name, size_t length);
Reply SetInAgent(snmphost::ExtensionAgent &agent, const uint64_t *name, size_t length,
                 const snmphost::Value &value);

}  // namespace snmpsvc

#endif  // SERVICE_AGENT_ROUTER_H

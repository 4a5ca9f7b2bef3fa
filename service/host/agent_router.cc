// Routing one binding to one extension agent; see agent_router.h.
#include "agent_router.h"

#include <algorithm>
#include <cstdint>

namespace snmpsvc {

namespace {

using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;

// Each GETNEXT step moves strictly forward, so a walk always ends; this
// bounds how many names below one 32-bit prefix are skipped while looking
// for the first one after a name with a 64-bit arc.
constexpr int MaxGetNextSteps = 64;

// Compares two names of any arc widths arc by arc, a proper prefix first.
template <typename A, typename B>
int CompareArcs(const A *a, size_t aLength, const B *b, size_t bLength) {
    const size_t common = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < common; ++i) {
        if (static_cast<uint64_t>(a[i]) != static_cast<uint64_t>(b[i])) {
            return static_cast<uint64_t>(a[i]) < static_cast<uint64_t>(b[i]) ? -1 : 1;
        }
    }
    if (aLength == bLength) {
        return 0;
    }
    return aLength < bLength ? -1 : 1;
}

// The arcs before the first one above 2^32-1 (all of them when none is).
size_t NarrowPrefixLength(const uint64_t *name, size_t length) {
    size_t i = 0;
    while (i < length && name[i] <= UINT32_MAX) {
        ++i;
    }
    return i;
}

// Copies the first `length` arcs of name, each at most 2^32-1, into arcs.
void Narrow(const uint64_t *name, size_t length, UINT *arcs) {
    for (size_t i = 0; i < length; ++i) {
        arcs[i] = static_cast<UINT>(name[i]);
    }
}

void Widen(const UINT *arcs, size_t length, Reply *reply) {
    for (size_t i = 0; i < length; ++i) {
        reply->name[i] = arcs[i];
    }
    reply->nameLength = length;
}

template <typename Arc>
bool InView(const Oid &view, const Arc *name, size_t length) {
    if (length < view.size()) {
        return false;
    }
    for (size_t i = 0; i < view.size(); ++i) {
        if (static_cast<uint64_t>(name[i]) != view[i]) {
            return false;
        }
    }
    return true;
}

// Whether the engine can send a value of this kind.
bool Servable(const snmphost::Value &value) {
    switch (value.type) {
        case ASN_INTEGER:
        case ASN_OCTETSTRING:
        case ASN_OBJECTIDENTIFIER:
        case ASN_RFC1155_COUNTER:
        case ASN_RFC1155_GAUGE:
        case ASN_RFC1155_TIMETICKS:
        case ASN_RFC1155_OPAQUE:
        case ASN_COUNTER64: return true;
        case ASN_RFC1155_IPADDRESS: return value.bytes.size() == 4;
        default: return false;
    }
}

Reply ErrorReply(int error) {
    Reply reply;
    reply.kind = Reply::Error;
    reply.error = error;
    return reply;
}

Reply KindReply(Reply::Kind kind) {
    Reply reply;
    reply.kind = kind;
    return reply;
}

}  // namespace

int CompareNames(const uint64_t *a, size_t aLength, const uint64_t *b, size_t bLength) {
    return CompareArcs(a, aLength, b, bLength);
}

Reply GetFromAgent(ExtensionAgent &agent, const uint64_t *name, size_t length) {
    if (!InView(agent.view(), name, length) || length > MaxNameLength ||
        NarrowPrefixLength(name, length) != length) {
        return KindReply(Reply::NoSuchInstance);
    }
    UINT arcs[MaxNameLength];
    Narrow(name, length, arcs);
    UINT count = static_cast<UINT>(length);
    Reply reply;
    const snmphost::QueryResult result =
        agent.QueryName(ASN_RFC1157_GETREQUEST, arcs, &count, MaxNameLength, &reply.value);
    if (result.errorStatus == SNMP_ERRORSTATUS_NOSUCHNAME) {
        return KindReply(Reply::NoSuchInstance);
    }
    if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR || !Servable(reply.value)) {
        return ErrorReply(ErrorGenErr);
    }
    reply.kind = Reply::Answer;
    std::copy(name, name + length, reply.name);
    reply.nameLength = length;
    return reply;
}

Reply GetNextFromAgent(ExtensionAgent &agent, const uint64_t *name, size_t length) {
    const Oid &view = agent.view();
    if (length > MaxNameLength || view.size() > MaxNameLength) {
        return ErrorReply(ErrorGenErr);  // no name of the engine is this long
    }
    UINT start[MaxNameLength];
    size_t startLength = 0;
    if (InView(view, name, length)) {
        const size_t narrow = NarrowPrefixLength(name, length);
        Narrow(name, narrow, start);
        startLength = narrow;
        if (narrow < length) {
            // Every 32-bit name below the prefix lies before the name asked.
            start[startLength++] = UINT32_MAX;
        }
    } else if (CompareArcs(name, length, view.data(), view.size()) < 0) {
        std::copy(view.begin(), view.end(), start);
        startLength = view.size();
    } else {
        return KindReply(Reply::NothingHere);
    }

    Reply reply;
    UINT asked[MaxNameLength];
    for (int step = 0; step < MaxGetNextSteps; ++step) {
        std::copy(start, start + startLength, asked);
        const size_t askedLength = startLength;
        UINT count = static_cast<UINT>(startLength);
        const snmphost::QueryResult result =
            agent.QueryName(ASN_RFC1157_GETNEXTREQUEST, start, &count, MaxNameLength, &reply.value);
        if (result.errorStatus == SNMP_ERRORSTATUS_NOSUCHNAME) {
            return KindReply(Reply::NothingHere);
        }
        if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR) {
            return ErrorReply(ErrorGenErr);
        }
        startLength = count;  // the agent's answer, in place of the name asked
        if (!InView(view, start, startLength) ||
            CompareArcs(start, startLength, asked, askedLength) <= 0) {
            return KindReply(Reply::NothingHere);
        }
        if (CompareArcs(start, startLength, name, length) > 0) {
            if (!Servable(reply.value)) {
                return ErrorReply(ErrorGenErr);
            }
            reply.kind = Reply::Answer;
            Widen(start, startLength, &reply);
            return reply;
        }
        // Still below the 64-bit name: step on from the answer.
    }
    return KindReply(Reply::NothingHere);
}

Reply SetInAgent(ExtensionAgent &agent, const uint64_t *name, size_t length,
                 const snmphost::Value &value) {
    if (!InView(agent.view(), name, length) || length > MaxNameLength ||
        NarrowPrefixLength(name, length) != length) {
        return ErrorReply(ErrorNotWritable);
    }
    Binding binding;
    binding.name.assign(name, name + length);
    binding.value = value;
    const snmphost::QueryResult result = agent.QueryOne(ASN_RFC1157_SETREQUEST, &binding);
    switch (result.errorStatus) {
        case SNMP_ERRORSTATUS_NOERROR: {
            Reply reply;
            reply.kind = Reply::Answer;
            std::copy(name, name + length, reply.name);
            reply.nameLength = length;
            reply.value = value;
            return reply;
        }
        case SNMP_ERRORSTATUS_TOOBIG: return ErrorReply(ErrorTooBig);
        case SNMP_ERRORSTATUS_NOSUCHNAME:
        case SNMP_ERRORSTATUS_READONLY: return ErrorReply(ErrorNotWritable);
        case SNMP_ERRORSTATUS_BADVALUE: return ErrorReply(ErrorWrongValue);
        default: return ErrorReply(ErrorGenErr);
    }
}

}  // namespace snmpsvc

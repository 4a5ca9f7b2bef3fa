// Routing one binding to one extension agent; see agent_router.h.
#include "agent_router.h"

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

WideOid Widen(const Oid &oid) { return WideOid(oid.begin(), oid.end()); }

// The arcs before the first one above 2^32-1 (all of them when none is).
size_t NarrowPrefixLength(const uint64_t *name, size_t length) {
    size_t i = 0;
    while (i < length && name[i] <= UINT32_MAX) {
        ++i;
    }
    return i;
}

Oid Narrow(const uint64_t *name, size_t length) {
    Oid oid(length);
    for (size_t i = 0; i < length; ++i) {
        oid[i] = static_cast<uint32_t>(name[i]);
    }
    return oid;
}

bool InView(const Oid &view, const uint64_t *name, size_t length) {
    if (length < view.size()) {
        return false;
    }
    for (size_t i = 0; i < view.size(); ++i) {
        if (name[i] != view[i]) {
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
    const size_t common = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (aLength == bLength) {
        return 0;
    }
    return aLength < bLength ? -1 : 1;
}

Reply GetFromAgent(ExtensionAgent &agent, const uint64_t *name, size_t length) {
    if (!InView(agent.view(), name, length) || NarrowPrefixLength(name, length) != length) {
        return KindReply(Reply::NoSuchInstance);
    }
    Binding binding;
    binding.name = Narrow(name, length);
    const snmphost::QueryResult result = agent.QueryOne(ASN_RFC1157_GETREQUEST, &binding);
    if (result.errorStatus == SNMP_ERRORSTATUS_NOSUCHNAME) {
        return KindReply(Reply::NoSuchInstance);
    }
    if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR || !Servable(binding.value)) {
        return ErrorReply(ErrorGenErr);
    }
    Reply reply;
    reply.kind = Reply::Answer;
    reply.name.assign(name, name + length);
    reply.value = std::move(binding.value);
    return reply;
}

Reply GetNextFromAgent(ExtensionAgent &agent, const uint64_t *name, size_t length) {
    const Oid &view = agent.view();
    const WideOid wideView = Widen(view);
    Oid start;
    if (InView(view, name, length)) {
        const size_t narrow = NarrowPrefixLength(name, length);
        start = Narrow(name, narrow);
        if (narrow < length) {
            // Every 32-bit name below the prefix lies before the name asked.
            start.push_back(UINT32_MAX);
        }
    } else if (CompareNames(name, length, wideView.data(), wideView.size()) < 0) {
        start = view;
    } else {
        return KindReply(Reply::NothingHere);
    }

    for (int step = 0; step < MaxGetNextSteps; ++step) {
        Binding binding;
        binding.name = start;
        const snmphost::QueryResult result = agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
        if (result.errorStatus == SNMP_ERRORSTATUS_NOSUCHNAME) {
            return KindReply(Reply::NothingHere);
        }
        if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR) {
            return ErrorReply(ErrorGenErr);
        }
        const WideOid answer = Widen(binding.name);
        const WideOid asked = Widen(start);
        if (!InView(view, answer.data(), answer.size()) ||
            CompareNames(answer.data(), answer.size(), asked.data(), asked.size()) <= 0) {
            return KindReply(Reply::NothingHere);
        }
        if (CompareNames(answer.data(), answer.size(), name, length) > 0) {
            if (!Servable(binding.value)) {
                return ErrorReply(ErrorGenErr);
            }
            Reply reply;
            reply.kind = Reply::Answer;
            reply.name = answer;
            reply.value = std::move(binding.value);
            return reply;
        }
        start = binding.name;  // still below the 64-bit name: step on
    }
    return KindReply(Reply::NothingHere);
}

Reply SetInAgent(ExtensionAgent &agent, const uint64_t *name, size_t length,
                 const snmphost::Value &value) {
    if (!InView(agent.view(), name, length) || NarrowPrefixLength(name, length) != length) {
        return ErrorReply(ErrorNotWritable);
    }
    Binding binding;
    binding.name = Narrow(name, length);
    binding.value = value;
    const snmphost::QueryResult result = agent.QueryOne(ASN_RFC1157_SETREQUEST, &binding);
    switch (result.errorStatus) {
        case SNMP_ERRORSTATUS_NOERROR: {
            Reply reply;
            reply.kind = Reply::Answer;
            reply.name.assign(name, name + length);
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

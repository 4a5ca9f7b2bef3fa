// The Net-SNMP handler that serves one extension agent's view.
//
// The engine calls the handler with the bindings that fall to the view:
// for GET those inside it, for GETNEXT (and GETBULK, which the engine's
// bulk-to-next helper turns into GETNEXTs) those whose next object may lie
// in it, for SET those inside it once access control has let the request
// through. Each binding goes to the agent on its own (agent_router.h); an
// answer is written into the binding, "nothing more here" leaves a GETNEXT
// binding untouched so that the engine asks the next view, and failures
// become request errors, which the engine maps for SNMPv1 (noSuchInstance
// to noSuchName, notWritable to noSuchName, wrongValue to badValue).
//
// The engine answers a GET or GETNEXT whose response outgrows a UDP
// datagram with nothing at all (sendto fails, and every binding is logged).
// So once the handler has answered its bindings it weighs the response, and
// one that cannot be sent becomes tooBig, which goes out with the request's
// own bindings, as small as the request that arrived. GETBULK responses are
// trimmed by the engine itself.
#include <algorithm>
#include <type_traits>
#include <vector>

#include "agent_router.h"
#include "agentx_rows.h"
#include "snmp_engine.h"
#include "nt/ntroot.h"

// The extension-agent interface and Net-SNMP both name some ASN.1 tags;
// keep ours under other names and let Net-SNMP's stand. The values are the
// tags of the wire, so they agree (checked below).
namespace {
constexpr BYTE ExtInteger = ASN_INTEGER;
constexpr BYTE ExtNull = ASN_NULL;
constexpr BYTE ExtCounter64 = ASN_COUNTER64;
}  // namespace
#undef ASN_INTEGER
#undef ASN_NULL
#undef ASN_COUNTER64

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

namespace snmpsvc {

static_assert(ExtInteger == ASN_INTEGER && ExtNull == ASN_NULL && ExtCounter64 == ASN_COUNTER64 &&
                  ASN_OCTETSTRING == ASN_OCTET_STR && ASN_OBJECTIDENTIFIER == ASN_OBJECT_ID &&
                  ASN_RFC1155_IPADDRESS == ASN_IPADDRESS && ASN_RFC1155_COUNTER == ASN_COUNTER &&
                  ASN_RFC1155_GAUGE == ASN_GAUGE && ASN_RFC1155_TIMETICKS == ASN_TIMETICKS &&
                  ASN_RFC1155_OPAQUE == ASN_OPAQUE,
              "the interface's type tags are the wire's");

static_assert(std::is_same<oid, uint64_t>::value, "the engine's arcs are 64-bit");
static_assert(MaxNameLength == MAX_OID_LEN, "the router takes the engine's longest names");
static_assert(ErrorTooBig == SNMP_ERR_TOOBIG && ErrorGenErr == SNMP_ERR_GENERR &&
                  ErrorWrongValue == SNMP_ERR_WRONGVALUE &&
                  ErrorNotWritable == SNMP_ERR_NOTWRITABLE,
              "router errors use the engine's numbering");

namespace {

using snmphost::ExtensionAgent;
using snmphost::Value;

// Writes value into var; false when it cannot be sent.
bool SetVarValue(netsnmp_variable_list *var, const Value &value) {
    switch (value.type) {
        case ASN_INTEGER:
            return snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(value.number)) ==
                   0;
        case ASN_RFC1155_COUNTER:
        case ASN_RFC1155_GAUGE:
        case ASN_RFC1155_TIMETICKS:
            return snmp_set_var_typed_integer(
                       var, value.type, static_cast<long>(static_cast<uint32_t>(value.number))) ==
                   0;
        case ASN_COUNTER64: {
            const uint64_t number = static_cast<uint64_t>(value.number);
            struct counter64 wide;
            wide.high = number >> 32;
            wide.low = number & 0xFFFFFFFFu;
            return snmp_set_var_typed_value(var, ASN_COUNTER64, &wide, sizeof wide) == 0;
        }
        case ASN_OCTETSTRING:
        case ASN_RFC1155_IPADDRESS:
        case ASN_RFC1155_OPAQUE:
            return snmp_set_var_typed_value(var, value.type, value.bytes.data(),
                                            value.bytes.size()) == 0;
        case ASN_OBJECTIDENTIFIER: {
            // An empty identifier goes out as 0.0, the null identifier.
            if (value.object.size() > MAX_OID_LEN) {
                return false;
            }
            oid arcs[MAX_OID_LEN] = {0, 0};
            std::copy(value.object.begin(), value.object.end(), arcs);
            const size_t count = value.object.empty() ? 2 : value.object.size();
            return snmp_set_var_typed_value(var, ASN_OBJECT_ID, arcs, count * sizeof(oid)) == 0;
        }
        default: return false;
    }
}

// The value a SET carries, as an agent takes it; false for a type an agent
// cannot be given.
bool ValueOfVar(const netsnmp_variable_list *var, Value *value) {
    value->type = var->type;
    switch (var->type) {
        case ASN_INTEGER: value->number = *var->val.integer; return true;
        case ASN_COUNTER:
        case ASN_GAUGE:
        case ASN_TIMETICKS: value->number = static_cast<uint32_t>(*var->val.integer); return true;
        case ASN_COUNTER64:
            value->number = static_cast<int64_t>((var->val.counter64->high << 32) |
                                                 (var->val.counter64->low & 0xFFFFFFFFu));
            return true;
        case ASN_OCTET_STR:
        case ASN_IPADDRESS:
        case ASN_OPAQUE:
            value->bytes.assign(reinterpret_cast<const char *>(var->val.string), var->val_len);
            return true;
        case ASN_OBJECT_ID: {
            const size_t count = var->val_len / sizeof(oid);
            value->object.clear();
            for (size_t i = 0; i < count; ++i) {
                if (var->val.objid[i] > UINT32_MAX) {
                    return false;
                }
                value->object.push_back(static_cast<uint32_t>(var->val.objid[i]));
            }
            return true;
        }
        default: return false;
    }
}

// The encoded size of a length field for content of `length` bytes, with
// its tag.
size_t HeaderSize(size_t length) {
    return 1 + (length < 0x80 ? 1 : length < 0x100 ? 2 : length < 0x10000 ? 3 : 4);
}

size_t SubidentifierSize(oid arc) {
    size_t size = 1;
    while (arc >= 0x80) {
        arc >>= 7;
        ++size;
    }
    return size;
}

size_t ObjectIdentifierSize(const oid *arcs, size_t count) {
    size_t content = count >= 2 ? SubidentifierSize(arcs[0] * 40 + arcs[1]) : 1;
    for (size_t i = 2; i < count; ++i) {
        content += SubidentifierSize(arcs[i]);
    }
    return HeaderSize(content) + content;
}

// An upper bound of the encoded size of one binding of a response.
size_t BindingSize(const netsnmp_variable_list *var) {
    size_t value = 2;  // NULL and the exceptions
    switch (var->type) {
        case ASN_OBJECT_ID:
            value = ObjectIdentifierSize(var->val.objid, var->val_len / sizeof(oid));
            break;
        case ASN_INTEGER:
        case ASN_COUNTER:
        case ASN_GAUGE:
        case ASN_TIMETICKS: value = 2 + 5; break;
        case ASN_COUNTER64: value = 2 + 9; break;
        case ASN_NULL: break;
        default:
            if (var->val_len > 0) {
                value = HeaderSize(var->val_len) + var->val_len;
            }
            break;
    }
    const size_t content = ObjectIdentifierSize(var->name, var->name_length) + value;
    return HeaderSize(content) + content;
}

// Whether the response to pdu, as it stands, can go out in one datagram.
bool ResponseFits(const netsnmp_pdu *pdu) {
    // IPv4 and IPv6 UDP carry at most this many bytes in one datagram;
    // other transports (TCP) take what the request's limit allows.
    constexpr size_t DatagramLimit = 65507;
    size_t limit = pdu->msgMaxSize > 0 ? static_cast<size_t>(pdu->msgMaxSize) : SIZE_MAX;
    static const oid UdpIpv6Domain[] = {1, 3, 6, 1, 2, 1, 100, 1, 2};  // RFC 3419
    const bool udp = netsnmp_oid_equals(pdu->tDomain, pdu->tDomainLen, netsnmpUDPDomain,
                                        netsnmpUDPDomain_len) == 0 ||
                     netsnmp_oid_equals(pdu->tDomain, pdu->tDomainLen, UdpIpv6Domain,
                                        sizeof UdpIpv6Domain / sizeof UdpIpv6Domain[0]) == 0;
    if (udp && limit > DatagramLimit) {
        limit = DatagramLimit;
    }
    // Message, version, community, PDU, request id, error status and index,
    // binding list: at most this much around the bindings.
    size_t size = 64 + pdu->community_len;
    for (const netsnmp_variable_list *var = pdu->variables; var != nullptr;
         var = var->next_variable) {
        size += BindingSize(var);
        if (size > limit) {
            return false;
        }
    }
    return true;
}

void AnswerGet(netsnmp_agent_request_info *reqinfo, netsnmp_request_info *request,
               const Reply &reply) {
    switch (reply.kind) {
        case Reply::Answer:
            if (!SetVarValue(request->requestvb, reply.value)) {
                netsnmp_set_request_error(reqinfo, request, SNMP_ERR_GENERR);
            }
            break;
        case Reply::NoSuchInstance:
        case Reply::NothingHere:
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            break;
        case Reply::Error: netsnmp_set_request_error(reqinfo, request, reply.error); break;
    }
}

void AnswerGetNext(netsnmp_agent_request_info *reqinfo, netsnmp_request_info *request,
                   const Reply &reply) {
    switch (reply.kind) {
        case Reply::Answer:
            if (reply.nameLength > MAX_OID_LEN ||
                snmp_set_var_objid(request->requestvb, reply.name, reply.nameLength) != 0 ||
                !SetVarValue(request->requestvb, reply.value)) {
                netsnmp_set_request_error(reqinfo, request, SNMP_ERR_GENERR);
            }
            break;
        case Reply::NothingHere:
        case Reply::NoSuchInstance: break;  // untouched: the engine asks the next view
        case Reply::Error: netsnmp_set_request_error(reqinfo, request, reply.error); break;
    }
}

// Names the request being answered to the adapters while the handler runs,
// so that the statistics one request asks of an adapter share its checks
// (see SetDeviceRequest). The library gives every PDU it parses a
// transaction id of its own, and all the passes over one PDU (a GETBULK's
// repetitions, several views) carry it.
class DeviceRequest {
public:
    explicit DeviceRequest(const netsnmp_agent_request_info *reqinfo) {
        static long current = 0;
        static bool haveCurrent = false;
        static uint64_t id = 0;
        const bool known = reqinfo->asp != nullptr && reqinfo->asp->pdu != nullptr;
        if (!known || !haveCurrent || reqinfo->asp->pdu->transid != current) {
            ++id;  // without an id to tell it by, a request of its own
            haveCurrent = known;
            current = known ? reqinfo->asp->pdu->transid : 0;
        }
        nt::SetDeviceRequest(id);
    }
    ~DeviceRequest() { nt::SetDeviceRequest(0); }
    DeviceRequest(const DeviceRequest &) = delete;
    DeviceRequest &operator=(const DeviceRequest &) = delete;
};

int HandleView(netsnmp_mib_handler *handler, netsnmp_handler_registration * /*registration*/,
               netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests) {
    ExtensionAgent &agent = *static_cast<ExtensionAgent *>(handler->myvoid);
    const DeviceRequest named(reqinfo);
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next) {
        if (request->processed) {
            continue;
        }
        netsnmp_variable_list *var = request->requestvb;
        switch (reqinfo->mode) {
            case MODE_GET:
                AnswerGet(reqinfo, request, GetFromAgent(agent, var->name, var->name_length));
                break;
            case MODE_GETNEXT:
                AnswerGetNext(reqinfo, request,
                              GetNextFromAgent(agent, var->name, var->name_length));
                break;
            case MODE_SET_RESERVE1: {
                Value value;
                if (!ValueOfVar(var, &value)) {
                    netsnmp_set_request_error(reqinfo, request, SNMP_ERR_WRONGTYPE);
                }
                break;
            }
            case MODE_SET_ACTION: {
                // The agent's one call: it sets, or refuses, at once.
                Value value;
                ValueOfVar(var, &value);
                const Reply reply = SetInAgent(agent, var->name, var->name_length, value);
                if (reply.kind == Reply::Error) {
                    netsnmp_set_request_error(reqinfo, request, reply.error);
                }
                break;
            }
            default: break;  // RESERVE2, COMMIT, FREE, UNDO: nothing to do or undo
        }
    }
    if ((reqinfo->mode == MODE_GET || reqinfo->mode == MODE_GETNEXT) && reqinfo->asp != nullptr &&
        reqinfo->asp->pdu != nullptr && reqinfo->asp->pdu->command != SNMP_MSG_GETBULK &&
        !ResponseFits(reqinfo->asp->pdu)) {
        netsnmp_set_request_error(reqinfo, requests, SNMP_ERR_TOOBIG);
    }
    return SNMP_ERR_NOERROR;
}

}  // namespace

bool RegisterAgentView(ExtensionAgent *agent, const std::string &name, std::string *error) {
    const snmphost::Oid &view = agent->view();
    if (view.empty() || view.size() > MAX_OID_LEN) {
        *error = "its view has " + std::to_string(view.size()) + " arcs";
        return false;
    }
    const std::vector<oid> root(view.begin(), view.end());
    netsnmp_handler_registration *registration = netsnmp_create_handler_registration(
        name.c_str(), HandleView, root.data(), root.size(), HANDLER_CAN_RWRITE);
    if (registration == nullptr) {
        *error = "out of memory";
        return false;
    }
    registration->handler->myvoid = agent;
    const int rc = netsnmp_register_handler(registration);  // frees it on failure
    if (rc != MIB_REGISTERED_OK) {
        *error = rc == MIB_DUPLICATE_REGISTRATION
                     ? "its view " + snmphost::OidText(view) + " is served by another agent"
                     : "its view " + snmphost::OidText(view) + " cannot be registered (error " +
                           std::to_string(rc) + ")";
        return false;
    }
    return true;
}

bool RegisterAgentRange(ExtensionAgent *agent, const std::string &name, const snmphost::Oid &start,
                        int rangeArc, uint32_t rangeUpper, std::string *error) {
    if (start.empty() || start.size() > MAX_OID_LEN) {
        *error = "a name of " + std::to_string(start.size()) + " arcs cannot be registered";
        return false;
    }
    const std::vector<oid> root(start.begin(), start.end());
    netsnmp_handler_registration *registration = netsnmp_create_handler_registration(
        name.c_str(), HandleView, root.data(), root.size(), HANDLER_CAN_RWRITE);
    if (registration == nullptr) {
        *error = "out of memory";
        return false;
    }
    registration->handler->myvoid = agent;
    if (rangeArc > 0 && static_cast<size_t>(rangeArc) <= start.size() &&
        rangeUpper > start[static_cast<size_t>(rangeArc) - 1]) {
        registration->range_subid = rangeArc;
        registration->range_ubound = rangeUpper;
    }
    const int rc = netsnmp_register_handler(registration);  // frees it on failure
    if (rc != MIB_REGISTERED_OK) {
        *error = snmphost::OidText(start) +
                 (rc == MIB_DUPLICATE_REGISTRATION
                      ? std::string(" is served already")
                      : " cannot be registered (error " + std::to_string(rc) + ")");
        return false;
    }
    return true;
}

}  // namespace snmpsvc

// Fuzz target of the service's request path: bindings of any name and value
// type, routed as the service routes them (agent_router.h) to the real
// ETHSTAT.DLL and HOSTDEV.DLL, loaded over a temporary NT root with three
// simulated adapters (one healthy, one keeping few statistics, one with a
// malformed line).
//
// Input: a run of requests; each is a byte for the kind and agent, then a
// name (mostly inside or near a view, now and then with arcs past 32 bits)
// and, for a SET, a value of any type. Contract:
//  - GET answers the name asked, inside the view, or noSuchInstance;
//  - a GETNEXT answer lies inside the view and strictly after the name
//    asked (else nothing more is here), and a GET of it answers with the
//    same type and value;
//  - a SET of these read-only tables never succeeds;
//  - a request of several bindings of any types to an agent directly ends
//    with an error index inside the request;
//  - nothing crashes; every name an agent hands back is released (the
//    sanitizer builds check for leaks).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "agent_router.h"
#include "extension_agent.h"
#include "fuzz_support.h"

namespace {

using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;
using snmphost::Value;
using snmpsvc::Reply;
using snmpsvc::WideOid;

const char Target[] = "agent requests";

struct Agents {
    std::string root;
    std::unique_ptr<ExtensionAgent> agents[2];
};

void RemoveRoot(Agents *state) {
    std::error_code ignored;
    std::filesystem::remove_all(state->root, ignored);
}

Agents &Loaded() {
    static Agents *state = [] {
        auto *made = new Agents;
        char folder[] = "/tmp/agent-requests-fuzz.XXXXXX";
        if (mkdtemp(folder) == nullptr || mkdir((std::string(folder) + "/Device").c_str(), 0755)) {
            fuzz::Violation(Target, "cannot make a temporary NT root");
        }
        made->root = folder;
        const std::string device = made->root + "/Device/";
        std::ofstream(device + "Vxlnk1")
            << "0x0002020D 5\n0x01020101 0x10\n0x01020102 3\n0x01020103 4\n0x01020205 6\n"
               "0x01020201 7\n0x01020207 8\n0x01020202 9\n0x01020204 10\n0x01020206 11\n"
               "0x01020203 4294967298\n";
        std::ofstream(device + "Vxpci_3") << "0x0002020D 50\n0x01020101 1\n";
        std::ofstream(device + "Vxlnk2") << "0x0002020D 7\n0x01020101 12z\n";
        setenv("NTROOT", made->root.c_str(), 1);
        const char *const libraries[] = {AGENT_DIR "/ETHSTAT.DLL", AGENT_DIR "/HOSTDEV.DLL"};
        for (int i = 0; i < 2; ++i) {
            std::string error;
            made->agents[i] = ExtensionAgent::Load(libraries[i], &error);
            if (!made->agents[i] || !made->agents[i]->Init()) {
                fuzz::Violation(Target, std::string("cannot load ") + libraries[i] + ": " + error);
            }
        }
        static Agents *forExit = made;
        std::atexit([] { RemoveRoot(forExit); });
        return made;
    }();
    return *state;
}

bool InView(const Oid &view, const WideOid &name) {
    return name.size() >= view.size() && std::equal(view.begin(), view.end(), name.begin());
}

bool SameValue(const Value &a, const Value &b) {
    return a.type == b.type && a.number == b.number && a.bytes == b.bytes && a.object == b.object;
}

std::string Text(const WideOid &name) {
    std::string text;
    for (uint64_t arc : name) {
        text += (text.empty() ? "" : ".") + std::to_string(arc);
    }
    return text;
}

// A name: the view or a neighbour of it, then arcs mostly small (the
// tables' columns and rows), some at the 32-bit edge or past it.
WideOid Name(fuzz::Bytes &input, const Oid &view) {
    const uint8_t shape = input.Byte();
    WideOid name(view.begin(), view.end());
    if (shape % 8 == 0) {
        name.resize(input.Byte() % (view.size() + 1));  // a prefix of the view
    } else if (shape % 8 == 1 && !name.empty()) {
        name[input.Byte() % name.size()] += static_cast<int8_t>(input.Byte());  // beside it
    }
    for (int arcs = (shape >> 3) % 6; arcs > 0; --arcs) {
        const uint8_t kind = input.Byte();
        switch (kind % 8) {
            case 0: name.push_back(UINT32_MAX - kind / 8); break;
            case 1: name.push_back(uint64_t{UINT32_MAX} + 1 + kind / 8); break;
            case 2: name.push_back(input.Number<uint64_t>()); break;
            default: name.push_back(input.Byte() % 24); break;
        }
    }
    return name;
}

Value AnyValue(fuzz::Bytes &input) {
    static const uint8_t Types[] = {
        ASN_INTEGER,           ASN_OCTETSTRING,     ASN_NULL,          ASN_OBJECTIDENTIFIER,
        ASN_RFC1155_IPADDRESS, ASN_RFC1155_COUNTER, ASN_RFC1155_GAUGE, ASN_RFC1155_TIMETICKS,
        ASN_RFC1155_OPAQUE,    ASN_COUNTER64};
    Value value;
    const uint8_t type = input.Byte();
    value.type = type < 0xF0 ? Types[type % sizeof Types] : input.Byte();
    value.number = input.Number<int64_t>();
    value.bytes = input.Text(64);
    for (int arcs = input.Byte() % 12; arcs > 0; --arcs) {
        value.object.push_back(input.Number<uint32_t>());
    }
    return value;
}

Oid Narrow(const WideOid &name) {
    Oid oid;
    for (uint64_t arc : name) {
        oid.push_back(static_cast<uint32_t>(arc));
    }
    return oid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Agents &state = Loaded();
    fuzz::Bytes input(data, size);
    for (int request = 0; request < 16 && !input.empty(); ++request) {
        const uint8_t kind = input.Byte();
        ExtensionAgent &agent = *state.agents[kind & 1];
        const Oid &view = agent.view();
        const WideOid name = Name(input, view);
        switch ((kind >> 1) % 4) {
            case 0: {
                const Reply reply = snmpsvc::GetFromAgent(agent, name.data(), name.size());
                const WideOid answered(reply.name, reply.name + reply.nameLength);
                if (reply.kind == Reply::Answer && (answered != name || !InView(view, name))) {
                    fuzz::Violation(Target, "GET " + Text(name) + " answered another name");
                }
                if (reply.kind == Reply::NothingHere ||
                    (reply.kind == Reply::Error && reply.error != snmpsvc::ErrorGenErr)) {
                    fuzz::Violation(Target, "GET " + Text(name) + " gave a GETNEXT or SET answer");
                }
                break;
            }
            case 1:
            case 2: {
                const Reply reply = snmpsvc::GetNextFromAgent(agent, name.data(), name.size());
                if (reply.kind == Reply::NoSuchInstance) {
                    fuzz::Violation(Target, "GETNEXT " + Text(name) + " gave a GET answer");
                }
                if (reply.kind != Reply::Answer) {
                    break;
                }
                const WideOid answered(reply.name, reply.name + reply.nameLength);
                if (!InView(view, answered) ||
                    snmpsvc::CompareNames(answered.data(), answered.size(), name.data(),
                                          name.size()) <= 0) {
                    fuzz::Violation(Target, "GETNEXT " + Text(name) + " answered " +
                                                Text(answered) + ", not after it in the view");
                }
                const Reply again = snmpsvc::GetFromAgent(agent, answered.data(), answered.size());
                if (again.kind != Reply::Answer || !SameValue(again.value, reply.value)) {
                    fuzz::Violation(Target, "GETNEXT " + Text(name) + " answered " +
                                                Text(answered) + ", which GET answers otherwise");
                }
                break;
            }
            default: {
                if (kind & 0x80) {
                    const Reply reply =
                        snmpsvc::SetInAgent(agent, name.data(), name.size(), AnyValue(input));
                    if (reply.kind != Reply::Error) {
                        fuzz::Violation(Target, "SET " + Text(name) + " of a read-only table");
                    }
                    break;
                }
                // Several bindings straight to the agent, values of any type.
                static const BYTE Requests[] = {ASN_RFC1157_GETREQUEST, ASN_RFC1157_GETNEXTREQUEST,
                                                ASN_RFC1157_SETREQUEST, ASN_RFC1157_TRAP};
                const BYTE requestType = Requests[(kind >> 3) % 4];
                std::vector<Binding> bindings(1 + (kind >> 5) % 3);
                bindings[0].name = Narrow(name);
                for (size_t i = 1; i < bindings.size(); ++i) {
                    bindings[i].name = Narrow(Name(input, view));
                }
                if (requestType == ASN_RFC1157_SETREQUEST) {
                    for (Binding &binding : bindings) {
                        binding.value = AnyValue(input);
                    }
                }
                const snmphost::QueryResult result = agent.Query(requestType, &bindings);
                if (result.errorIndex < 0 ||
                    static_cast<size_t>(result.errorIndex) > bindings.size() ||
                    (result.errorStatus == SNMP_ERRORSTATUS_NOERROR && result.errorIndex != 0)) {
                    fuzz::Violation(Target, "error index " + std::to_string(result.errorIndex) +
                                                " with status " +
                                                std::to_string(result.errorStatus));
                }
                if (requestType == ASN_RFC1157_SETREQUEST &&
                    result.errorStatus == SNMP_ERRORSTATUS_NOERROR) {
                    fuzz::Violation(Target, "a SET of a read-only table succeeded");
                }
                break;
            }
        }
    }
    return 0;
}

std::string GenerateFuzzInput(std::mt19937 &random) {
    std::string input;
    const size_t bytes = 4 + random() % 96;
    for (size_t i = 0; i < bytes; ++i) {
        // Small numbers most of the time: arcs of the tables' names.
        input += static_cast<char>(random() % 3 == 0 ? random() % 256 : random() % 24);
    }
    return input;
}

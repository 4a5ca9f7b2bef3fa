// One extension agent library loaded into this process: the host's side of
// the extension-agent interface (nt/snmpext.h).
//
// Load() opens the library with RTLD_NOW | RTLD_LOCAL and finds its three
// entry points; Init() calls SnmpExtensionInit once and keeps the view it
// returns; Query() runs one request over bindings held in plain C++ values.
// Query() owns the convention for names: it passes each name in a buffer of
// its own, and releases with GlobalFree every name the agent hands back in
// its place, after copying it out. A SET passes each binding's value to the
// agent (a record that refers to the binding's own storage and owns
// nothing); every other request passes ASN_NULL values. An agent is used
// from one thread at a time. The library stays loaded as long as the
// object lives.
#ifndef SERVICE_EXTENSION_AGENT_H
#define SERVICE_EXTENSION_AGENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nt/snmpext.h"

namespace snmphost {

using Oid = std::vector<uint32_t>;

// A value as an agent answers it. Strings and identifiers are copied out of
// the agent's memory.
struct Value {
    BYTE type = ASN_NULL;
    int64_t number = 0;  // INTEGER (signed), Counter, Gauge, TimeTicks, Counter64
    std::string bytes;   // OCTET STRING, IpAddress, Opaque
    Oid object;          // OBJECT IDENTIFIER
};

struct Binding {
    Oid name;
    Value value;
};

struct QueryResult {
    AsnInteger errorStatus = SNMP_ERRORSTATUS_NOERROR;
    AsnInteger errorIndex = 0;  // 1-based; 0 when no binding failed
};

class ExtensionAgent {
public:
    // The library at path, or null with *error, "PATH: reason", saying why
    // in one of these: "library not found", "cannot read the library: ...",
    // "not a library (a folder | not a regular file | no ELF header)",
    // "cannot be loaded: <the loader's reason>", "entry points missing: ...".
    static std::unique_ptr<ExtensionAgent> Load(const std::string &path, std::string *error);
    ~ExtensionAgent();
    ExtensionAgent(const ExtensionAgent &) = delete;
    ExtensionAgent &operator=(const ExtensionAgent &) = delete;

    // Calls SnmpExtensionInit; false when the agent declines to serve, with
    // *why (when given) from the last-error code the agent left: "no adapter
    // found" (ERROR_DEV_NOT_EXIST), "initialisation failed: out of memory",
    // "initialisation failed" (no code) or "initialisation failed (error N)".
    bool Init(std::string *why = nullptr);
    const Oid &view() const { return view_; }
    const std::string &path() const { return path_; }

    // One request of requestType over bindings, answered in place.
    QueryResult Query(BYTE requestType, std::vector<Binding> *bindings);

    // The same for one binding of a GET or GETNEXT, without the vector.
    QueryResult QueryOne(BYTE requestType, Binding *binding);

    // One GET or GETNEXT of the name in the caller's buffer name[0..*length),
    // which has room for capacity arcs, without allocating: a name the
    // agent hands back is copied into the buffer and released; one longer
    // than capacity fails the query with genErr. *value is the answer.
    QueryResult QueryName(BYTE requestType, UINT *name, UINT *length, UINT capacity, Value *value);

private:
    ExtensionAgent(std::string path, void *library);
    QueryResult Run(BYTE requestType, Binding *bindings, size_t count);

    std::string path_;
    [[maybe_unused]] void *library_;  // never closed
    PFNSNMPEXTENSIONINIT init_ = nullptr;
    PFNSNMPEXTENSIONQUERY query_ = nullptr;
    PFNSNMPEXTENSIONTRAP trap_ = nullptr;
    Oid view_;
};

// Dotted text of an identifier, "1.3.6.1".
std::string OidText(const Oid &oid);

// Parses dotted text ("1.3.6.1" or ".1.3.6.1"); false on anything else.
bool ParseOid(const std::string &text, Oid *oid);

// The value as a person reads it, in the manner of snmpwalk:
// "INTEGER: 2", "Counter32: 5", "STRING: \"text\"", "OID: 1.3.6".
std::string ValueText(const Value &value);

}  // namespace snmphost

#endif  // SERVICE_EXTENSION_AGENT_H

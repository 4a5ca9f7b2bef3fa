// FAKEAGENT.DLL; see fake_agent.h.
#include "fake_agent.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "nt/snmpext.h"
#include "nt/win32.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Name = std::vector<UINT>;

struct Object {
    Name name;
    AsnInteger value;
};

Name g_view = {1, 3, 6, 1, 4, 1, 32473, 99};
std::vector<Object> g_objects;
bool g_failInit = false;
AsnInteger g_forcedStatus = -1;
Name g_forcedName;
BYTE g_forcedType = 0;

uint32_t g_calls = 0;
BYTE g_lastRequest = 0;
Name g_lastName;
BYTE g_lastValueType = ASN_NULL;
int64_t g_lastValue = 0;

// A new identifier on the global heap holding name.
bool HandOver(const Name &name, AsnObjectIdentifier *out) {
    auto *arcs = static_cast<UINT *>(GlobalAlloc(GPTR, (name.size() + 1) * sizeof(UINT)));
    if (arcs == nullptr) {
        return false;
    }
    std::copy(name.begin(), name.end(), arcs);
    out->idLength = static_cast<UINT>(name.size());
    out->ids = arcs;
    return true;
}

Name NameOf(const AsnObjectIdentifier &oid) {
    return oid.ids == nullptr ? Name() : Name(oid.ids, oid.ids + oid.idLength);
}

void SetValue(AsnAny *value, AsnInteger number, BYTE type) {
    std::memset(&value->asnValue, 0, sizeof value->asnValue);  // strings: no bytes
    value->asnType = type == 0 ? ASN_INTEGER : type;
    value->asnValue.number = number;
}

AsnInteger Answer(BYTE request, RFC1157VarBind *binding) {
    const Name asked = NameOf(binding->name);
    if (request == ASN_RFC1157_GETREQUEST) {
        for (const Object &object : g_objects) {
            if (object.name == asked) {
                SetValue(&binding->value, object.value, g_forcedType);
                return SNMP_ERRORSTATUS_NOERROR;
            }
        }
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    if (request == ASN_RFC1157_GETNEXTREQUEST) {
        for (const Object &object : g_objects) {
            if (object.name > asked) {
                if (!HandOver(g_forcedName.empty() ? object.name : g_forcedName, &binding->name)) {
                    return SNMP_ERRORSTATUS_GENERR;
                }
                SetValue(&binding->value, object.value, g_forcedType);
                return SNMP_ERRORSTATUS_NOERROR;
            }
        }
        Name end = g_view;
        ++end.back();
        if (!HandOver(g_forcedName.empty() ? end : g_forcedName, &binding->name)) {
            return SNMP_ERRORSTATUS_GENERR;
        }
        return SNMP_ERRORSTATUS_NOERROR;
    }
    return SNMP_ERRORSTATUS_GENERR;
}

}  // namespace

FAKE_EXPORT void FakeReset(const uint32_t *view, uint32_t length) {
    g_view.assign(view, view + length);
    g_objects.clear();
    g_failInit = false;
    g_forcedStatus = -1;
    g_forcedName.clear();
    g_forcedType = 0;
    g_calls = 0;
    g_lastRequest = 0;
    g_lastName.clear();
    g_lastValueType = ASN_NULL;
    g_lastValue = 0;
}

FAKE_EXPORT void FakeAddObject(const uint32_t *name, uint32_t length, int32_t value) {
    g_objects.push_back({Name(name, name + length), value});
    std::sort(g_objects.begin(), g_objects.end(),
              [](const Object &a, const Object &b) { return a.name < b.name; });
}

FAKE_EXPORT void FakeFailInit(int fail) { g_failInit = fail != 0; }

FAKE_EXPORT void FakeForce(int32_t status, const uint32_t *name, uint32_t length, uint8_t type) {
    g_forcedStatus = status;
    g_forcedName.assign(name, name + length);
    g_forcedType = type;
}

FAKE_EXPORT uint32_t FakeCalls() { return g_calls; }

FAKE_EXPORT uint8_t FakeLastRequest() { return g_lastRequest; }

FAKE_EXPORT uint32_t FakeLastName(uint32_t *arcs, uint32_t capacity) {
    const uint32_t count = static_cast<uint32_t>(g_lastName.size());
    std::copy(g_lastName.begin(), g_lastName.begin() + std::min(count, capacity), arcs);
    return count;
}

FAKE_EXPORT int64_t FakeLastValue(uint8_t *type) {
    *type = g_lastValueType;
    return g_lastValue;
}

FAKE_EXPORT BOOL SnmpExtensionInit(DWORD, HANDLE *trapEvent, AsnObjectIdentifier *view) {
    if (g_failInit) {
        return FALSE;
    }
    *trapEvent = nullptr;
    view->idLength = static_cast<UINT>(g_view.size());
    view->ids = g_view.data();
    return TRUE;
}

FAKE_EXPORT BOOL SnmpExtensionQuery(BYTE request, RFC1157VarBindList *bindings,
                                    AsnInteger *errorStatus, AsnInteger *errorIndex) {
    for (UINT i = 0; i < bindings->len; ++i) {
        RFC1157VarBind *binding = &bindings->list[i];
        ++g_calls;
        g_lastRequest = request;
        g_lastName = NameOf(binding->name);
        g_lastValueType = binding->value.asnType;
        g_lastValue = binding->value.asnType == ASN_OCTETSTRING
                          ? static_cast<int64_t>(binding->value.asnValue.string.length)
                          : binding->value.asnValue.number;
        const AsnInteger status = g_forcedStatus >= 0 ? g_forcedStatus : Answer(request, binding);
        *errorStatus = status;
        if (status != SNMP_ERRORSTATUS_NOERROR) {
            *errorIndex = static_cast<AsnInteger>(i + 1);
            return TRUE;
        }
    }
    return TRUE;
}

FAKE_EXPORT BOOL SnmpExtensionTrap(AsnObjectIdentifier *, AsnInteger *, AsnInteger *,
                                   AsnTimeticks *, RFC1157VarBindList *) {
    return FALSE;
}

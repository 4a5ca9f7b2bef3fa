// The host device agent: the network-device rows of hrDeviceTable
// (1.3.6.1.2.1.25.3.2.1), one per adapter found.
//
// Every row describes its adapter the same way (type hrDeviceNetwork, one
// description, one product identifier, status unknown, no errors); only the
// index differs. Beyond discovery the adapters are never touched. The
// string and identifier values point at constant data of this library,
// which the host must not release (see nt/snmpext.h).
#include "common/agent.h"
#include "common/discovery.h"
#include "common/table.h"

namespace {

UINT ViewArcs[10] = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1};
UINT NetworkDeviceTypeArcs[10] = {1, 3, 6, 1, 2, 1, 25, 3, 1, 4};

// The product identifier sits under the maker's enterprise arc; 32473 is the
// enterprise number reserved for documentation.
constexpr UINT EnterpriseNumber = 32473;
UINT AdapterProductIdArcs[11] = {1, 3, 6, 1, 4, 1, EnterpriseNumber, 2, 15, 19, 7};

BYTE AdapterDescription[] = "Veltrix LinkSpring Turbo PCI 10 Adapter";
constexpr UINT AdapterDescriptionLength = sizeof AdapterDescription - 1;  // no NUL

const AsnObjectIdentifier NetworkDeviceType = {10, NetworkDeviceTypeArcs};
const AsnObjectIdentifier AdapterProductId = {11, AdapterProductIdArcs};

constexpr AsnInteger DeviceStatusUnknown = 1;
constexpr UINT Columns[] = {1, 2, 3, 4, 5, 6};

}  // namespace

const AsnObjectIdentifier AgentView = {10, ViewArcs};

int AgentInit() { return InitAgentTable(Columns, sizeof Columns / sizeof Columns[0]); }

AsnInteger AgentColumnValue(RFC1157VarBind *binding, UINT column, UINT instance) {
    if (instance == 0 || instance > AdapterCount) {
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    AsnAny &value = binding->value;
    switch (column) {
        case 1:  // hrDeviceIndex
            value.asnType = ASN_INTEGER;
            value.asnValue.number = static_cast<AsnInteger>(instance);
            break;
        case 2:  // hrDeviceType
            value.asnType = ASN_OBJECTIDENTIFIER;
            value.asnValue.object = NetworkDeviceType;
            break;
        case 3:  // hrDeviceDescr
            value.asnType = ASN_OCTETSTRING;
            value.asnValue.string.stream = AdapterDescription;
            value.asnValue.string.length = AdapterDescriptionLength;
            value.asnValue.string.dynamic = FALSE;
            break;
        case 4:  // hrDeviceID
            value.asnType = ASN_OBJECTIDENTIFIER;
            value.asnValue.object = AdapterProductId;
            break;
        case 5:  // hrDeviceStatus
            value.asnType = ASN_INTEGER;
            value.asnValue.number = DeviceStatusUnknown;
            break;
        case 6:  // hrDeviceErrors
            value.asnType = ASN_RFC1155_COUNTER;
            value.asnValue.counter = 0;
            break;
        default: return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    return SNMP_ERRORSTATUS_NOERROR;
}

// The agent tests' fixture; see agent_fixture.h.
#include "agent_fixture.h"

#include <cstring>

#include "nt/adapter_statistics.h"

std::string DeviceName(int position) {
    static const char *const families[3] = {"\\Device\\Vxlnk", "\\Device\\Vxpci",
                                            "\\Device\\Vxpci_"};
    return families[(position - 1) / 9] + std::to_string((position - 1) % 9 + 1);
}

void AgentTest::SetUp() {
    fake::Reset();
    ColumnList = nullptr;  // its nodes went with the fake heap
    ProbePosition = 0;
    std::strcpy(AdapterAlias, "SNMPAdapter1");
    std::strcpy(AdapterPath, "\\\\.\\SNMPAdapter1");
    std::memset(AdapterTable, 0, sizeof AdapterTable);
    AdapterCount = 0;
    LogLevel = 1;
    LogTargets = LOG_TO_EVENTLOG;
    if (LogFile != nullptr) {
        std::fclose(LogFile);
        LogFile = nullptr;
    }
    LogEventSource = nullptr;
}

void AgentTest::TearDown() {
    EXPECT_EQ(fake::P().badFrees, 0) << "a block was released that the heap never gave";
}

void AgentTest::AddAdapters(std::initializer_list<int> positions) {
    for (int position : positions) {
        fake::Device &device = fake::P().devices[DeviceName(position)];
        for (const nt::AdapterStatistic &entry : nt::kAdapterStatistics) {
            const DWORD statistic = entry.identifier;
            device.statistics[statistic] = 100 * static_cast<DWORD>(position) + (statistic & 0xFF);
        }
    }
}

void AgentTest::AddFirstAdapters(int count) {
    for (int position = 1; position <= count; ++position) {
        AddAdapters({position});
    }
}

void AgentTest::InitWithAdapters(int count) {
    AddFirstAdapters(count);
    HANDLE trap = nullptr;
    AsnObjectIdentifier view = {0, nullptr};
    ASSERT_TRUE(SnmpExtensionInit(0, &trap, &view));
}

AgentTest::Request::Request(std::vector<Arcs> requested)
    : names(std::move(requested)), list(names.size()), callers(names.size()) {
    for (size_t i = 0; i < names.size(); ++i) {
        list[i].name.idLength = static_cast<UINT>(names[i].size());
        list[i].name.ids = names[i].empty() ? nullptr : names[i].data();
        list[i].value.asnType = ASN_NULL;
        callers[i] = list[i].name.ids;
    }
    bindings.list = list.data();
    bindings.len = static_cast<UINT>(list.size());
}

AgentTest::Request::~Request() {
    for (size_t i = 0; i < list.size(); ++i) {
        if (NameReplaced(i)) {
            GlobalFree(list[i].name.ids);
        }
    }
}

BOOL AgentTest::Request::Run(BYTE type) {
    return SnmpExtensionQuery(type, &bindings, &errorStatus, &errorIndex);
}

Arcs AgentTest::Request::Name(size_t i) const {
    const AsnObjectIdentifier &name = list[i].name;
    return name.ids == nullptr ? Arcs{} : Arcs(name.ids, name.ids + name.idLength);
}

std::vector<std::pair<UINT, UINT>> AgentTest::Walk(const Arcs &from) {
    std::vector<std::pair<UINT, UINT>> objects;
    Arcs name = from;
    for (int step = 0; step < 1000; ++step) {
        Request request({name});
        EXPECT_TRUE(request.Run(ASN_RFC1157_GETNEXTREQUEST));
        EXPECT_EQ(request.errorStatus, SNMP_ERRORSTATUS_NOERROR);
        name = request.Name(0);
        if (name == EndOfView() || request.errorStatus != SNMP_ERRORSTATUS_NOERROR) {
            break;
        }
        EXPECT_EQ(name.size(), 12u);
        objects.emplace_back(name[10], name[11]);
    }
    return objects;
}

Arcs AgentTest::Name(std::initializer_list<UINT> suffix) {
    Arcs arcs(AgentView.ids, AgentView.ids + AgentView.idLength);
    arcs.insert(arcs.end(), suffix);
    return arcs;
}

Arcs AgentTest::EndOfView() {
    Arcs arcs(AgentView.ids, AgentView.ids + AgentView.idLength);
    ++arcs.back();
    return arcs;
}

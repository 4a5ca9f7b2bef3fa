// Speed of the agents as a host sees it: ETHSTAT.DLL and HOSTDEV.DLL of
// this build, loaded with snmphost over a temporary NT root with two
// simulated adapters.
//
//  - Get / GetNext: one binding per request, so the time per iteration is
//    the time per binding. A constant column (dot3StatsIndex, column 1;
//    hrDeviceDescr, column 3) costs the dispatch and the name handling; a
//    counter column (dot3StatsFCSErrors, column 3) also opens and reads the
//    adapter file, as every counter query does.
//  - Walk: a whole table by GETNEXT from the view to its end; items are
//    objects, so items_per_second is objects per second. "host" goes
//    through snmphost's Query (copies out, frees names); "entry" calls the
//    exported SnmpExtensionQuery directly and only frees the names.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "extension_agent.h"
#include "nt/win32.h"
#include "simulated_root.h"

namespace {

using snmphost::Binding;
using snmphost::ExtensionAgent;
using snmphost::Oid;

enum class Which { Ethstat, Hostdev };

struct LoadedAgent {
    std::unique_ptr<ExtensionAgent> host;
    PFNSNMPEXTENSIONQUERY entry = nullptr;  // the same library's exported entry point
    void *library = nullptr;                // our own reference, for entry
};

struct Agents {
    bench::SimulatedRoot root;
    LoadedAgent ethstat;
    LoadedAgent hostdev;

    ~Agents() {
        for (LoadedAgent *agent : {&ethstat, &hostdev}) {
            agent->host.reset();
            if (agent->library != nullptr) {
                dlclose(agent->library);
            }
        }
    }
};

Agents *TheAgents = nullptr;

bool Load(const std::string &file, LoadedAgent *agent) {
    const std::string path = std::string(AGENT_DIR) + "/" + file;
    std::string error;
    agent->host = ExtensionAgent::Load(path, &error);
    if (agent->host == nullptr) {
        std::fprintf(stderr, "agents_bench: %s\n", error.c_str());
        return false;
    }
    if (!agent->host->Init()) {
        std::fprintf(stderr, "agents_bench: %s found no adapter\n", path.c_str());
        return false;
    }
    agent->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);  // the same, already loaded
    agent->entry =
        agent->library == nullptr
            ? nullptr
            : reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(agent->library, "SnmpExtensionQuery"));
    return agent->entry != nullptr;
}

LoadedAgent &Agent(Which which) {
    return which == Which::Ethstat ? TheAgents->ethstat : TheAgents->hostdev;
}

Oid Object(Which which, UINT column, UINT row) {
    Oid name = Agent(which).host->view();
    name.push_back(column);
    name.push_back(row);
    return name;
}

bool InView(const Oid &name, const Oid &view) {
    return name.size() > view.size() && std::equal(view.begin(), view.end(), name.begin());
}

void Get(benchmark::State &state, Which which, UINT column, BYTE expectedType) {
    ExtensionAgent &agent = *Agent(which).host;
    Binding binding;
    binding.name = Object(which, column, 2);
    const auto first = agent.QueryOne(ASN_RFC1157_GETREQUEST, &binding);
    if (first.errorStatus != SNMP_ERRORSTATUS_NOERROR || binding.value.type != expectedType) {
        state.SkipWithError("the GET is not answered");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(agent.QueryOne(ASN_RFC1157_GETREQUEST, &binding));
    }
    state.SetItemsProcessed(state.iterations());
}

void GetNext(benchmark::State &state, Which which, UINT column, BYTE expectedType) {
    ExtensionAgent &agent = *Agent(which).host;
    const Oid start = Object(which, column, 1);
    const Oid expected = Object(which, column, 2);
    Binding binding;
    binding.name = start;
    agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
    if (binding.name != expected || binding.value.type != expectedType) {
        state.SkipWithError("the GETNEXT is not answered with the next row");
        return;
    }
    for (auto _ : state) {
        binding.name.assign(start.begin(), start.end());
        benchmark::DoNotOptimize(agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding));
    }
    state.SetItemsProcessed(state.iterations());
}

// Objects in one walk through the host, or -1 when the walk goes wrong.
long WalkThroughHost(ExtensionAgent &agent) {
    const Oid &view = agent.view();
    Binding binding;
    binding.name = view;
    for (long objects = 0; objects < 10000; ++objects) {
        const auto result = agent.QueryOne(ASN_RFC1157_GETNEXTREQUEST, &binding);
        if (result.errorStatus != SNMP_ERRORSTATUS_NOERROR) {
            return -1;
        }
        if (!InView(binding.name, view)) {
            return objects;
        }
    }
    return -1;
}

// The same through the exported entry point: the names the agent hands
// over are released with GlobalFree, as nt/snmpext.h says.
long WalkThroughEntry(PFNSNMPEXTENSIONQUERY query, const Oid &view) {
    std::vector<UINT> arcs(view.begin(), view.end());
    RFC1157VarBind binding{};
    RFC1157VarBindList list = {&binding, 1};
    for (long objects = 0; objects < 10000; ++objects) {
        binding.name.idLength = static_cast<UINT>(arcs.size());
        binding.name.ids = arcs.data();
        binding.value.asnType = ASN_NULL;
        AsnInteger status = SNMP_ERRORSTATUS_NOERROR;
        AsnInteger index = 0;
        query(ASN_RFC1157_GETNEXTREQUEST, &list, &status, &index);
        if (binding.name.ids != arcs.data()) {
            arcs.assign(binding.name.ids, binding.name.ids + binding.name.idLength);
            GlobalFree(binding.name.ids);
        }
        if (status != SNMP_ERRORSTATUS_NOERROR) {
            return -1;
        }
        if (!InView(Oid(arcs.begin(), arcs.end()), view)) {
            return objects;
        }
    }
    return -1;
}

void WalkHost(benchmark::State &state, Which which) {
    ExtensionAgent &agent = *Agent(which).host;
    long objects = 0;
    for (auto _ : state) {
        objects = WalkThroughHost(agent);
        if (objects <= 0) {
            state.SkipWithError("the walk does not end cleanly");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * objects);
    state.counters["objects"] = static_cast<double>(objects);
}

void WalkEntry(benchmark::State &state, Which which) {
    LoadedAgent &agent = Agent(which);
    const Oid view = agent.host->view();
    long objects = 0;
    for (auto _ : state) {
        objects = WalkThroughEntry(agent.entry, view);
        if (objects <= 0) {
            state.SkipWithError("the walk does not end cleanly");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * objects);
    state.counters["objects"] = static_cast<double>(objects);
}

BENCHMARK_CAPTURE(Get, ethstat_dot3StatsIndex, Which::Ethstat, 1, ASN_INTEGER);
BENCHMARK_CAPTURE(Get, ethstat_dot3StatsFCSErrors, Which::Ethstat, 3, ASN_RFC1155_COUNTER);
BENCHMARK_CAPTURE(Get, hostdev_hrDeviceDescr, Which::Hostdev, 3, ASN_OCTETSTRING);
BENCHMARK_CAPTURE(GetNext, ethstat_dot3StatsIndex, Which::Ethstat, 1, ASN_INTEGER);
BENCHMARK_CAPTURE(GetNext, ethstat_dot3StatsFCSErrors, Which::Ethstat, 3, ASN_RFC1155_COUNTER);
BENCHMARK_CAPTURE(GetNext, hostdev_hrDeviceDescr, Which::Hostdev, 3, ASN_OCTETSTRING);
BENCHMARK_CAPTURE(WalkHost, ethstat, Which::Ethstat);
BENCHMARK_CAPTURE(WalkHost, hostdev, Which::Hostdev);
BENCHMARK_CAPTURE(WalkEntry, ethstat, Which::Ethstat);
BENCHMARK_CAPTURE(WalkEntry, hostdev, Which::Hostdev);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Agents agents;
    TheAgents = &agents;
    if (!Load("ETHSTAT.DLL", &agents.ethstat) || !Load("HOSTDEV.DLL", &agents.hostdev)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TheAgents = nullptr;
    return 0;
}

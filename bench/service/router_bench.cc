// The host's share of one binding: a GET or GETNEXT through the router
// (agent_router.h) into ETHSTAT.DLL and HOSTDEV.DLL of this build, over a
// temporary NT root with two simulated adapters. A constant column
// (dot3StatsIndex; hrDeviceType) costs only the routing, the name
// conversions and the agent's dispatch; a counter column
// (dot3StatsFCSErrors) adds the adapter read.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "agent_router.h"
#include "extension_agent.h"
#include "simulated_root.h"

namespace {

using snmphost::ExtensionAgent;

std::unique_ptr<ExtensionAgent> TheEthstat;
std::unique_ptr<ExtensionAgent> TheHostdev;

std::unique_ptr<ExtensionAgent> Load(const std::string &file) {
    std::string error;
    std::unique_ptr<ExtensionAgent> agent =
        ExtensionAgent::Load(std::string(AGENT_DIR) + "/" + file, &error);
    if (agent == nullptr || !agent->Init()) {
        std::fprintf(stderr, "router_bench: %s: %s\n", file.c_str(),
                     agent == nullptr ? error.c_str() : "SnmpExtensionInit failed");
        return nullptr;
    }
    return agent;
}

// A name in a column's first row, view.1.column.1 (or before it).
std::vector<uint64_t> FirstRow(const ExtensionAgent &agent, uint64_t column) {
    std::vector<uint64_t> name(agent.view().begin(), agent.view().end());
    name.insert(name.end(), {1, column, 1});
    return name;
}

void GetNext(benchmark::State &state, bool ethstat, uint64_t column) {
    ExtensionAgent &agent = ethstat ? *TheEthstat : *TheHostdev;
    const std::vector<uint64_t> name = FirstRow(agent, column);
    for (auto _ : state) {
        const snmpsvc::Reply reply = snmpsvc::GetNextFromAgent(agent, name.data(), name.size());
        if (reply.kind != snmpsvc::Reply::Answer) {
            state.SkipWithError("no answer");
            break;
        }
        benchmark::DoNotOptimize(reply.value.number);
    }
}

void Get(benchmark::State &state, bool ethstat, uint64_t column) {
    ExtensionAgent &agent = ethstat ? *TheEthstat : *TheHostdev;
    // The column's first object, whatever its row's index.
    std::vector<uint64_t> columnName(agent.view().begin(), agent.view().end());
    columnName.insert(columnName.end(), {1, column});
    const snmpsvc::Reply first =
        snmpsvc::GetNextFromAgent(agent, columnName.data(), columnName.size());
    const std::vector<uint64_t> name(first.name, first.name + first.nameLength);
    for (auto _ : state) {
        const snmpsvc::Reply reply = snmpsvc::GetFromAgent(agent, name.data(), name.size());
        if (reply.kind != snmpsvc::Reply::Answer) {
            state.SkipWithError("no answer");
            break;
        }
        benchmark::DoNotOptimize(reply.value.number);
    }
}

BENCHMARK_CAPTURE(GetNext, ethstat_dot3StatsIndex, true, 1);
BENCHMARK_CAPTURE(GetNext, hostdev_hrDeviceType, false, 2);
BENCHMARK_CAPTURE(GetNext, ethstat_dot3StatsFCSErrors, true, 3);
BENCHMARK_CAPTURE(Get, ethstat_dot3StatsIndex, true, 1);
BENCHMARK_CAPTURE(Get, ethstat_dot3StatsFCSErrors, true, 3);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    bench::SimulatedRoot root;
    TheEthstat = Load("ETHSTAT.DLL");
    TheHostdev = Load("HOSTDEV.DLL");
    if (TheEthstat == nullptr || TheHostdev == nullptr) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TheEthstat.reset();
    TheHostdev.reset();
    return 0;
}

// Nanoseconds per counter query, by where the counter comes from: ethtool's
// eth-mac group over netlink, an interface's statistics file, and a
// simulated adapter's file. Each query goes through DeviceIoControl, as the
// Ethernet statistics agent sends it.
//
// No interface here keeps eth-mac counters, so the netlink case asks the
// loopback interface: the whole round trip to the kernel (socket, request,
// reply, parse), which is what a real driver's answer costs too, less the
// driver's own work.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ethtool_stats.h"
#include "nt/win32.h"

namespace {

constexpr DWORD FcsErrors = 0x0002020D;

struct Root {
    Root() {
        char folder[] = "/tmp/counter-bench.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        path = folder;
        mkdir((path + "/Device").c_str(), 0755);
        std::ofstream(path + "/Device/Vxlnk1")
            << "0x01020101 3\n0x0002020D 5\n0x01020102 120\n0x01020103 41\n0x01020205 0\n"
               "0x01020201 17\n0x01020207 2\n0x01020202 1\n0x01020204 0\n0x01020206 4\n"
               "0x01020203 0\n";
        if (symlink("/sys/class/net/lo", (path + "/Device/Vxlnk2").c_str()) != 0) {
            std::abort();
        }
        setenv("NTROOT", path.c_str(), 1);
    }
    ~Root() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

HANDLE OpenAdapter(const char *kernelName) {
    static Root root;
    DefineDosDeviceA(DDD_RAW_TARGET_PATH, "BENCH", kernelName);
    HANDLE device = CreateFileA("\\\\.\\BENCH", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, "BENCH", nullptr);
    return device;
}

void Query(benchmark::State &state, HANDLE device) {
    if (device == INVALID_HANDLE_VALUE) {
        state.SkipWithError("the adapter does not open");
        return;
    }
    DWORD statistic = FcsErrors, value = 0, returned = 0;
    for (auto _ : state) {
        const BOOL ok = DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic,
                                        sizeof statistic, &value, sizeof value, &returned, nullptr);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(value);
    }
}

void SimulatedAdapterFile(benchmark::State &state) { Query(state, OpenAdapter("\\Device\\Vxlnk1")); }
BENCHMARK(SimulatedAdapterFile);

void InterfaceStatisticsFile(benchmark::State &state) {
    // lo keeps no eth-mac counters, so FCS errors come from rx_crc_errors.
    Query(state, OpenAdapter("\\Device\\Vxlnk2"));
}
BENCHMARK(InterfaceStatisticsFile);

void EthtoolNetlinkRoundTrip(benchmark::State &state) {
    nt::EthMacCounters counters;
    if (nt::QueryEthMacCounters("lo", &counters) != ERROR_SUCCESS) {
        state.SkipWithError("this kernel has no ethtool netlink statistics");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(nt::QueryEthMacCounters("lo", &counters));
    }
}
BENCHMARK(EthtoolNetlinkRoundTrip);

}  // namespace

BENCHMARK_MAIN();

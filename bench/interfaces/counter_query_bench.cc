// Nanoseconds per counter query, by where the counter comes from: a
// simulated adapter's file, an interface's statistics file, and ethtool's
// eth-mac group over netlink. Each query goes through DeviceIoControl, as
// the Ethernet statistics agent sends it, and reads its source afresh.
//
// The adapter cases take the number of adapters open (1 to 16) and ask
// each in turn: the cost of one query must not grow with their number.
//
// No interface here keeps eth-mac counters, so the netlink case asks the
// loopback interface: the whole round trip to the kernel (request, reply,
// parse), which is what a real driver's answer costs too, less the
// driver's own work.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ethtool_stats.h"
#include "nt/ntroot.h"
#include "nt/win32.h"

namespace {

constexpr DWORD FcsErrors = 0x0002020D;
constexpr DWORD LateCollisions = 0x01020207;  // 0 unless the link is half duplex
constexpr int MaxAdapters = 16;

struct Root {
    Root() {
        char folder[] = "/tmp/counter-bench.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        path = folder;
        mkdir((path + "/Device").c_str(), 0755);
        for (int i = 1; i <= MaxAdapters; ++i) {
            std::ofstream(path + "/Device/Sim" + std::to_string(i))
                << "# simulated adapter " << i << "\n"
                << "0x01020101 3\n0x0002020D 5\n0x01020102 120\n0x01020103 41\n0x01020205 0\n"
                   "0x01020201 17\n0x01020207 2\n0x01020202 1\n0x01020204 0\n0x01020206 4\n"
                   "0x01020203 0\n";
            if (symlink("/sys/class/net/lo", (path + "/Device/Lnk" + std::to_string(i)).c_str()) !=
                0) {
                std::abort();
            }
        }
        setenv("NTROOT", path.c_str(), 1);
    }
    ~Root() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

HANDLE OpenAdapter(const std::string &kernelName) {
    static Root root;
    DefineDosDeviceA(DDD_RAW_TARGET_PATH, "BENCH", kernelName.c_str());
    HANDLE device = CreateFileA("\\\\.\\BENCH", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, "BENCH", nullptr);
    return device;
}

// Asks statistic of state.range(0) adapters named prefix1, prefix2, ... in turn;
// all in one request of the service when inOneRequest, so that only the
// first query checks each adapter's entry and duplex.
void Query(benchmark::State &state, const char *prefix, DWORD statistic,
           bool inOneRequest = false) {
    std::vector<HANDLE> devices;
    for (int i = 1; i <= state.range(0); ++i) {
        HANDLE device = OpenAdapter(std::string("\\Device\\") + prefix + std::to_string(i));
        if (device == INVALID_HANDLE_VALUE) {
            state.SkipWithError("the adapter does not open");
            return;
        }
        devices.push_back(device);
    }
    DWORD value = 0, returned = 0;
    size_t next = 0;
    nt::SetDeviceRequest(inOneRequest ? 1 : 0);
    for (auto _ : state) {
        const BOOL ok = DeviceIoControl(devices[next], IOCTL_NDIS_QUERY_GLOBAL_STATS, &statistic,
                                        sizeof statistic, &value, sizeof value, &returned, nullptr);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(value);
        next = next + 1 == devices.size() ? 0 : next + 1;
    }
    nt::SetDeviceRequest(0);
    for (HANDLE device : devices) {
        CloseHandle(device);
    }
}

void SimulatedAdapterFile(benchmark::State &state) { Query(state, "Sim", FcsErrors); }
BENCHMARK(SimulatedAdapterFile)->Arg(1)->Arg(4)->Arg(16);

// lo keeps no eth-mac counters, so FCS errors come from rx_crc_errors.
void InterfaceStatisticsFile(benchmark::State &state) { Query(state, "Lnk", FcsErrors); }
BENCHMARK(InterfaceStatisticsFile)->Arg(1)->Arg(4)->Arg(16);

// A collision counter: the duplex file read, then 0 on a full-duplex link.
void InterfaceDuplexCounter(benchmark::State &state) { Query(state, "Lnk", LateCollisions); }
BENCHMARK(InterfaceDuplexCounter)->Arg(1);

// The same after the first of a request (a GETBULK's further counters): the
// counter file's read alone.
void InterfaceStatisticsFileInOneRequest(benchmark::State &state) {
    Query(state, "Lnk", FcsErrors, true);
}
BENCHMARK(InterfaceStatisticsFileInOneRequest)->Arg(1)->Arg(16);
void InterfaceDuplexCounterInOneRequest(benchmark::State &state) {
    Query(state, "Lnk", LateCollisions, true);
}
BENCHMARK(InterfaceDuplexCounterInOneRequest)->Arg(1);

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

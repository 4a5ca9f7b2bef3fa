// A temporary NT root with two simulated adapters, Device/Vxlnk1 and
// Device/Vxlnk2, each listing the eleven NDIS statistics the Ethernet-like
// statistics agent asks for. It is $NTROOT while the object lives, and is
// removed with everything in it afterwards.
#ifndef BENCH_AGENTS_SIMULATED_ROOT_H
#define BENCH_AGENTS_SIMULATED_ROOT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "nt/adapter_statistics.h"

namespace bench {

class SimulatedRoot {
public:
    SimulatedRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "agents-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary NT root");
        }
        path_ = pattern;
        std::filesystem::create_directory(path_ + "/Device");
        for (int adapter = 1; adapter <= 2; ++adapter) {
            std::ofstream file(path_ + "/Device/Vxlnk" + std::to_string(adapter));
            file << "# simulated adapter " << adapter << "\n";
            uint32_t value = 10u * static_cast<uint32_t>(adapter);
            for (const nt::AdapterStatistic &statistic : nt::kAdapterStatistics) {
                char line[64];
                std::snprintf(line, sizeof line, "0x%08X %u\n", statistic.identifier, value++);
                file << line;
            }
            if (!file) {
                throw std::runtime_error("cannot write a simulated adapter");
            }
        }
        setenv("NTROOT", path_.c_str(), 1);
    }
    ~SimulatedRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    SimulatedRoot(const SimulatedRoot &) = delete;
    SimulatedRoot &operator=(const SimulatedRoot &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

}  // namespace bench

#endif  // BENCH_AGENTS_SIMULATED_ROOT_H

// The generated-input run of a fuzz target, for builds without libFuzzer:
// the saved inputs given (a corpus, a fuzzer's crash files), then COUNT
// inputs from the target's own generator with a fixed seed, so every run
// checks the same inputs. The target aborts on a broken contract.
//
//   <target>_robustness [COUNT] [FILE...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "fuzz_support.h"

namespace {

int Run(const std::string &input) {
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(
            "usage: %s [COUNT] [FILE...]\n"
            "Runs the fuzz target on the saved inputs FILE..., then on COUNT\n"
            "generated inputs (1000).\n",
            argv[0]);
        return 0;
    }
    unsigned long count = 1000;
    int first = 1;
    if (argc > 1) {
        char *end = nullptr;
        const unsigned long number = std::strtoul(argv[1], &end, 10);
        if (end != argv[1] && *end == '\0') {
            count = number;
            first = 2;
        }
    }
    for (int i = first; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
            return 2;
        }
        Run(std::string(std::istreambuf_iterator<char>(file), {}));
    }
    std::mt19937 random(20261211);
    for (unsigned long n = 0; n < count; ++n) {
        Run(GenerateFuzzInput(random));
    }
    std::printf("%d saved and %lu generated inputs keep the contract\n", argc - first, count);
    return 0;
}

// Drives the parser's fuzz target (simulated_adapter_fuzz.cc) where no
// libFuzzer is at hand: a fixed number of adapter files made of lines
// shaped like such files, good and bad, with stray bytes, from a fixed
// seed, so every run checks the same inputs.
//
//   simulated_adapter_robustness [COUNT]    COUNT generated inputs (20000)
//   simulated_adapter_robustness FILE...    replays saved inputs (a
//                                           fuzzer's crash files)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "simulated_adapter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// The words an adapter file is made of, good and bad.
const char *const Identifiers[] = {
    "0x0002020D",  "131597",     "0x2020d", "0X0002020D", "0x01020101",
    "0x10002020D", "0x0002020G", "0x",      "",
};
const char *const Values[] = {
    "5",
    "007",
    "0x1f",
    "0XAB",
    "0",
    "4294967295",
    "4294967296",
    "18446744073709551615",
    "18446744073709551621",
    "0xFFFFFFFFFFFFFFFFFF",
    "-1",
    "+1",
    "12a",
    "0x1g",
    "0x",
    "",
};
const char *const Blanks[] = {" ", "\t", " \t ", "\r", ""};
const char *const Tails[] = {"", "", "", " 6", " # note", "#", "\r"};
const char *const LineEnds[] = {"\n", "\n", "\r\n", "\n\n"};
constexpr uint32_t Statistics[] = {0x0002020D, 0x01020101, 0, 0xFFFFFFFF};

int Run(const std::string &input) {
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

template <class T, size_t N>
const T &Pick(std::mt19937 &random, const T (&list)[N]) {
    return list[random() % N];
}

// Up to 12 lines, most of them shaped like statistics, some comments, and
// now and then a stray byte (NUL included) anywhere.
std::string Generate(std::mt19937 &random) {
    std::string input(4, '\0');
    const uint32_t statistic =
        random() % 8 == 0 ? static_cast<uint32_t>(random()) : Pick(random, Statistics);
    std::memcpy(&input[0], &statistic, sizeof statistic);
    const size_t lines = random() % 13;
    for (size_t i = 0; i < lines; ++i) {
        std::string line;
        if (random() % 6 == 0) {
            line = "# comment 0x0002020D 5";
        } else {
            line = std::string(Pick(random, Blanks)) + Pick(random, Identifiers) +
                   Pick(random, Blanks) + (random() % 8 == 0 ? "" : " ") + Pick(random, Values) +
                   Pick(random, Tails);
        }
        if (random() % 8 == 0) {
            line.insert(random() % (line.size() + 1), 1, static_cast<char>(random() % 256));
        }
        input += line;
        if (i + 1 < lines || random() % 2 == 0) {
            input += Pick(random, LineEnds);
        }
    }
    return input;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(
            "usage: %s [COUNT] | FILE...\n"
            "Checks the simulated adapter parser on COUNT generated files (20000),\n"
            "or on the saved inputs FILE...\n",
            argv[0]);
        return 0;
    }
    char *end = nullptr;
    const unsigned long count = argc > 1 ? std::strtoul(argv[1], &end, 10) : 20000;
    if (argc > 1 && (end == argv[1] || *end != '\0')) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream file(argv[i], std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "simulated_adapter_robustness: cannot read %s\n", argv[i]);
                return 2;
            }
            Run(std::string(std::istreambuf_iterator<char>(file), {}));
        }
        std::printf("%d saved inputs keep the contract\n", argc - 1);
        return 0;
    }

    // Which answers the generated files reached, so that a generator gone
    // blind shows.
    unsigned long answered[3] = {0, 0, 0};
    std::mt19937 random(20240601);
    for (unsigned long n = 0; n < count; ++n) {
        const std::string input = Generate(random);
        Run(input);
        DWORD statistic;
        std::memcpy(&statistic, input.data(), sizeof statistic);
        uint32_t value = 0;
        switch (nt::FindStatistic(input.substr(4), statistic, &value)) {
            case ERROR_SUCCESS: ++answered[0]; break;
            case ERROR_NOT_SUPPORTED: ++answered[1]; break;
            default: ++answered[2]; break;
        }
    }
    std::printf(
        "%lu generated files keep the contract: %lu answered, %lu not listed, "
        "%lu malformed\n",
        count, answered[0], answered[1], answered[2]);
    if (count >= 1000 && (answered[0] == 0 || answered[1] == 0 || answered[2] == 0)) {
        std::fprintf(stderr, "the generator no longer reaches every answer\n");
        return 1;
    }
    return 0;
}

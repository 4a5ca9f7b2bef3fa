// A process that uses the registry of $NTROOT, for the tests that need
// several processes at once (registry_process_test.cc).
//
//   registry_worker writer COUNT PREFIX
//       sets the values PREFIX0..PREFIX3 of HKLM\SOFTWARE\Stress COUNT
//       times over, each one a run of one repeated byte whose length
//       follows from the byte (UniformSize), then sets PREFIX-done.
//   registry_worker reader LIMIT PREFIX...
//       reads those values until every PREFIX-done is there (at most LIMIT
//       rounds) and checks that each value it reads is whole.
//   registry_worker committer COUNT
//       sets k0, k1, ... of HKLM\SOFTWARE\Crash (Pattern(i)) and, after
//       each set that succeeded, writes its number and a newline on
//       standard output.
// Exit status: 0 done, 1 a torn value, 2 a registry call failed, 3 the
// round limit was reached, 4 wrong arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "nt/win32.h"
#include "worker_values.h"

namespace {

HKEY CreateKey(const char *path) {
    HKEY key = nullptr;
    char noClass[] = "";
    const LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, noClass, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "registry_worker: cannot create %s: %ld\n", path,
                     static_cast<long>(rc));
        std::exit(2);
    }
    return key;
}

int Writer(long count, const std::string &prefix) {
    HKEY key = CreateKey("SOFTWARE\\Stress");
    for (long i = 0; i < count; ++i) {
        const int fill = 1 + static_cast<int>(i % 250);
        const std::string data(registry_test::UniformSize(fill), static_cast<char>(fill));
        const std::string name = prefix + std::to_string(i % 4);
        const LONG rc = RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                                       reinterpret_cast<const BYTE *>(data.data()),
                                       static_cast<DWORD>(data.size()));
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "registry_worker: set %s: %ld\n", name.c_str(),
                         static_cast<long>(rc));
            return 2;
        }
    }
    const std::string done = prefix + "-done";
    if (RegSetValueExA(key, done.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1) !=
        ERROR_SUCCESS) {
        return 2;
    }
    RegCloseKey(key);
    return 0;
}

int Reader(long limit, const std::vector<std::string> &prefixes) {
    std::vector<BYTE> buffer(registry_test::UniformSize(255) + 1);
    long reads = 0;
    for (long round = 0; round < limit; ++round) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stress", 0, KEY_READ, &key);
        if (rc == ERROR_FILE_NOT_FOUND) {
            continue;  // no writer has begun
        }
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "registry_worker: open: %ld\n", static_cast<long>(rc));
            return 2;
        }
        // Whether every writer had finished before this round began: then
        // this round has read the last values and the reader is done.
        size_t finished = 0;
        for (const std::string &prefix : prefixes) {
            DWORD size = 0;
            const std::string done = prefix + "-done";
            if (RegQueryValueExA(key, done.c_str(), nullptr, nullptr, nullptr, &size) ==
                ERROR_SUCCESS) {
                ++finished;
            }
        }
        for (const std::string &prefix : prefixes) {
            for (int n = 0; n < 4; ++n) {
                const std::string name = prefix + std::to_string(n);
                DWORD type = 0;
                DWORD size = static_cast<DWORD>(buffer.size());
                rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size);
                if (rc == ERROR_FILE_NOT_FOUND) {
                    continue;
                }
                if (rc != ERROR_SUCCESS) {
                    std::fprintf(stderr, "registry_worker: read %s: %ld\n", name.c_str(),
                                 static_cast<long>(rc));
                    return 2;
                }
                ++reads;
                const int fill = buffer[0];
                bool whole =
                    type == REG_BINARY && fill != 0 && size == registry_test::UniformSize(fill);
                for (DWORD i = 0; whole && i < size; ++i) {
                    whole = buffer[i] == fill;
                }
                if (!whole) {
                    std::fprintf(stderr,
                                 "registry_worker: torn value %s: type %u, %u bytes, "
                                 "first byte %d\n",
                                 name.c_str(), type, size, fill);
                    return 1;
                }
            }
        }
        RegCloseKey(key);
        if (finished == prefixes.size()) {
            std::printf("%ld values read\n", reads);
            return 0;
        }
    }
    std::fprintf(stderr, "registry_worker: the writers did not finish in %ld rounds\n", limit);
    return 3;
}

int Committer(long count) {
    HKEY key = CreateKey("SOFTWARE\\Crash");
    for (long i = 0; i < count; ++i) {
        const std::string data = registry_test::Pattern(i);
        const std::string name = "k" + std::to_string(i);
        const LONG rc = RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                                       reinterpret_cast<const BYTE *>(data.data()),
                                       static_cast<DWORD>(data.size()));
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "registry_worker: set %s: %ld\n", name.c_str(),
                         static_cast<long>(rc));
            return 2;
        }
        const std::string line = std::to_string(i) + "\n";
        if (write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return 2;
        }
    }
    RegCloseKey(key);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 4 && std::strcmp(argv[1], "writer") == 0) {
        return Writer(std::atol(argv[2]), argv[3]);
    }
    if (argc >= 4 && std::strcmp(argv[1], "reader") == 0) {
        return Reader(std::atol(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
    }
    if (argc == 3 && std::strcmp(argv[1], "committer") == 0) {
        return Committer(std::atol(argv[2]));
    }
    std::fprintf(stderr,
                 "usage: registry_worker writer COUNT PREFIX | reader LIMIT PREFIX... | "
                 "committer COUNT\n");
    return 4;
}

// The values registry_worker writes, shared with the tests that check them.
#ifndef TESTS_REGISTRY_WORKER_VALUES_H
#define TESTS_REGISTRY_WORKER_VALUES_H

#include <string>

namespace registry_test {

// The length of a value made of the byte fill (1..255) repeated: a reader
// that got the bytes of one write and the size of another would see it.
inline unsigned UniformSize(int fill) { return 4096 + static_cast<unsigned>(fill) * 797; }

// The bytes of the committer's value number i: its length and each byte
// depend on i.
inline std::string Pattern(long i) {
    std::string data(static_cast<size_t>(1000 + i % 1000), '\0');
    for (size_t j = 0; j < data.size(); ++j) {
        data[j] = static_cast<char>((i * 131 + static_cast<long>(j)) & 0xff);
    }
    return data;
}

}  // namespace registry_test

#endif  // TESTS_REGISTRY_WORKER_VALUES_H

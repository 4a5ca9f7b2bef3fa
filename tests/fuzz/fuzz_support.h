// What the fuzz targets share: reading typed pieces off the fuzzer's bytes,
// reporting a broken contract, and the generator each target gives its
// generated-input run (robustness_main.cc).
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// Reads the input front to back; past its end every read gives zeros.
class Bytes {
public:
    Bytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t left() const { return size_ - at_; }

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <class T>
    T Number() {
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            value = static_cast<T>(value << 4 << 4) | Byte();
        }
        return value;
    }
    // Up to max bytes, the length taken from the input first.
    std::string Text(size_t max) {
        size_t length = Byte();
        length = length < max ? length : max;
        length = length < left() ? length : left();
        std::string text(reinterpret_cast<const char *>(data_ + at_), length);
        at_ += length;
        return text;
    }
    std::string Rest() {
        std::string text(reinterpret_cast<const char *>(data_ + at_), left());
        at_ = size_;
        return text;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

[[noreturn]] inline void Violation(const char *target, const std::string &what) {
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz

// One input shaped like the target's real inputs, good and bad, from the
// generator's state; given by each target for its generated-input run.
std::string GenerateFuzzInput(std::mt19937 &random);

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H

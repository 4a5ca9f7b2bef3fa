// Fixtures that several test folders share: an environment variable set for
// one test, and a temporary folder removed with everything in it.
#ifndef TESTS_COMMON_SCOPED_FIXTURES_H
#define TESTS_COMMON_SCOPED_FIXTURES_H

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace test_support {

// Sets an environment variable (or clears it, with nullopt) for as long as
// the object lives, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::optional<std::string> &value) : name_(name) {
        if (const char *old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh folder under the system's temporary folder, named after prefix,
// removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const char *prefix = "nttest") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

}  // namespace test_support

#endif  // TESTS_COMMON_SCOPED_FIXTURES_H

// A temporary folder for a test, and one that is the NT root while the test
// runs.
#ifndef TESTS_PLATFORM_TEMP_ROOT_H
#define TESTS_PLATFORM_TEMP_ROOT_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace platform_test {

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

// A fresh folder under the system's temporary folder, removed with
// everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ntplat-XXXXXX").string();
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

// A temporary NT root with an empty Device folder, set as $NTROOT.
class TempRoot {
public:
    TempRoot() : env_("NTROOT", dir_.path()) {
        std::filesystem::create_directory(DeviceFolder());
    }

    const std::string &path() const { return dir_.path(); }
    std::string DeviceFolder() const { return dir_.path() + "/Device"; }

    // Writes (or rewrites) the simulated adapter Device/<name>.
    void WriteDevice(const std::string &name, const std::string &text) const {
        std::ofstream file(DeviceFolder() + "/" + name, std::ios::binary | std::ios::trunc);
        file << text;
        ASSERT_TRUE(file.good()) << "cannot write device " << name;
    }

private:
    TempDir dir_;
    ScopedEnv env_;
};

}  // namespace platform_test

#endif  // TESTS_PLATFORM_TEMP_ROOT_H

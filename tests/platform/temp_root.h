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

#include "scoped_fixtures.h"

namespace platform_test {

using test_support::ScopedEnv;
using test_support::TempDir;

// A temporary NT root with an empty Device folder, set as $NTROOT.
class TempRoot {
public:
    TempRoot() : env_("NTROOT", dir_.path()) { std::filesystem::create_directory(DeviceFolder()); }

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

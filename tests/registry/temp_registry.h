// A temporary NT root with a fresh registry, set as $NTROOT for one test.
#ifndef TESTS_REGISTRY_TEMP_REGISTRY_H
#define TESTS_REGISTRY_TEMP_REGISTRY_H

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "nt/registry.h"
#include "scoped_fixtures.h"
#include "nt/win32.h"

namespace registry_test {

using test_support::ScopedEnv;
using test_support::TempDir;

// A temporary root, $NTROOT while it lives; with a registry unless asked not.
class TempRoot {
public:
    explicit TempRoot(bool withRegistry = true) : env_("NTROOT", dir_.path()) {
        if (withRegistry) {
            bool created = false;
            EXPECT_EQ(nt::CreateRegistryDatabase(dir_.path(), &created), ERROR_SUCCESS);
            EXPECT_TRUE(created);
        }
    }
    const std::string &path() const { return dir_.path(); }
    std::string registry() const { return nt::RegistryFilePath(dir_.path()); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

// An open key, closed at the end.
class Key {
public:
    Key() = default;
    explicit Key(HKEY key) : key_(key) {}
    ~Key() { Close(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    Key(Key &&other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    Key &operator=(Key &&other) noexcept {
        if (this != &other) {
            Close();
            key_ = other.key_;
            other.key_ = nullptr;
        }
        return *this;
    }
    HKEY get() const { return key_; }
    // Hands the key over to the caller, who closes it.
    HKEY release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    HKEY *out() {
        Close();
        return &key_;
    }
    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace registry_test

#endif  // TESTS_REGISTRY_TEMP_REGISTRY_H

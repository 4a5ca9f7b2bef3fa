// The DOS device table: each alias holds a stack of targets; defining
// pushes, removing with no target pops the most recent. What an alias
// stands for is seen through CreateFileA, which opens its newest target.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "nt/win32.h"
#include "temp_root.h"

namespace {

using platform_test::TempRoot;

constexpr DWORD Marker = 1;  // each adapter file answers statistic 1 with its number

class DosDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_.WriteDevice("A", "1 100\n");
        root_.WriteDevice("B", "1 200\n");
        root_.WriteDevice("C", "1 300\n");
    }

    static BOOL Define(const char *alias, const char *target) {
        return DefineDosDeviceA(DDD_RAW_TARGET_PATH, alias, target);
    }
    static BOOL Remove(const char *alias, const char *target = nullptr, DWORD flags = 0) {
        return DefineDosDeviceA(DDD_REMOVE_DEFINITION | flags, alias, target);
    }

    // The marker of the adapter that "\\.\alias" opens now, or 0 when it
    // opens nothing.
    static uint32_t Resolve(const std::string &alias) {
        const std::string path = "\\\\.\\" + alias;
        HANDLE device =
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            return 0;
        }
        DWORD in = Marker;
        uint32_t out = 0;
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &in, sizeof in, &out,
                                        sizeof out, &returned, nullptr);
        CloseHandle(device);
        return ok == TRUE ? out : 0;
    }

    TempRoot root_;
};

TEST_F(DosDevicesTest, RemoveUncoversTheEarlierTarget) {
    ASSERT_EQ(Define("Stack1", "\\Device\\A"), TRUE);
    EXPECT_EQ(Resolve("Stack1"), 100u);
    ASSERT_EQ(Define("Stack1", "\\Device\\B"), TRUE);
    EXPECT_EQ(Resolve("Stack1"), 200u);

    EXPECT_EQ(Remove("Stack1"), TRUE);
    EXPECT_EQ(Resolve("Stack1"), 100u);
    EXPECT_EQ(Remove("Stack1"), TRUE);
    EXPECT_EQ(Resolve("Stack1"), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Nothing is left to remove.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Remove("Stack1"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DosDevicesTest, SameTargetTwiceNeedsTwoRemoves) {
    ASSERT_EQ(Define("Twice1", "\\Device\\A"), TRUE);
    ASSERT_EQ(Define("Twice1", "\\Device\\A"), TRUE);
    EXPECT_EQ(Remove("Twice1"), TRUE);
    EXPECT_EQ(Resolve("Twice1"), 100u);
    EXPECT_EQ(Remove("Twice1"), TRUE);
    EXPECT_EQ(Resolve("Twice1"), 0u);
}

TEST_F(DosDevicesTest, RemovingAnUndefinedAliasFails) {
    for (const char *target : {static_cast<const char *>(nullptr), "\\Device\\A"}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(Remove("NeverDefined1", target), FALSE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

TEST_F(DosDevicesTest, AliasesAreIndependentAndCaseInsensitive) {
    ASSERT_EQ(Define("SNMPAdapter1", "\\Device\\A"), TRUE);
    ASSERT_EQ(Define("SNMPAdapter2", "\\Device\\B"), TRUE);
    EXPECT_EQ(Resolve("snmpadapter1"), 100u);
    EXPECT_EQ(Resolve("SNMPADAPTER2"), 200u);

    EXPECT_EQ(Remove("snmpADAPTER2"), TRUE);
    EXPECT_EQ(Resolve("SNMPAdapter2"), 0u);
    EXPECT_EQ(Resolve("SNMPAdapter1"), 100u);
    EXPECT_EQ(Remove("SNMPAdapter1"), TRUE);
}

// A remove that names a target takes out the newest definition of that
// target wherever it lies in the stack, and leaves the others.
TEST_F(DosDevicesTest, RemoveOfANamedTargetTakesThatOne) {
    ASSERT_EQ(Define("Named1", "\\Device\\A"), TRUE);
    ASSERT_EQ(Define("Named1", "\\Device\\B"), TRUE);
    ASSERT_EQ(Define("Named1", "\\Device\\C"), TRUE);

    EXPECT_EQ(Remove("Named1", "\\Device\\B", DDD_EXACT_MATCH_ON_REMOVE), TRUE);
    EXPECT_EQ(Resolve("Named1"), 300u);
    EXPECT_EQ(Remove("Named1", "\\Device\\Q", DDD_EXACT_MATCH_ON_REMOVE), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Remove("Named1", "\\Device\\", DDD_EXACT_MATCH_ON_REMOVE), FALSE);

    // Without the exact flag the named target is a prefix: the newest
    // definition under "\Device\" is C.
    EXPECT_EQ(Remove("Named1", "\\Device\\"), TRUE);
    EXPECT_EQ(Resolve("Named1"), 100u);
    EXPECT_EQ(Remove("Named1"), TRUE);
    EXPECT_EQ(Resolve("Named1"), 0u);
}

// The handle is the device's, not the alias's: it keeps answering after
// the alias is gone.
TEST_F(DosDevicesTest, OpenHandleOutlivesItsAlias) {
    ASSERT_EQ(Define("Outlive1", "\\Device\\B"), TRUE);
    HANDLE device =
        CreateFileA("\\\\.\\Outlive1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Remove("Outlive1"), TRUE);

    DWORD in = Marker;
    uint32_t out = 0;
    DWORD returned = 0;
    EXPECT_EQ(DeviceIoControl(device, IOCTL_NDIS_QUERY_GLOBAL_STATS, &in, sizeof in, &out,
                              sizeof out, &returned, nullptr),
              TRUE);
    EXPECT_EQ(out, 200u);
    EXPECT_EQ(CloseHandle(device), TRUE);
}

TEST_F(DosDevicesTest, BadNamesAndTargetsAreRefused) {
    const struct {
        const char *what;
        DWORD flags;
        const char *alias;
        const char *target;
    } cases[] = {
        {"null alias", DDD_RAW_TARGET_PATH, nullptr, "\\Device\\A"},
        {"empty alias", DDD_RAW_TARGET_PATH, "", "\\Device\\A"},
        {"alias with a backslash", DDD_RAW_TARGET_PATH, "a\\b", "\\Device\\A"},
        {"alias with a slash", DDD_RAW_TARGET_PATH, "a/b", "\\Device\\A"},
        {"null target", DDD_RAW_TARGET_PATH, "Bad1", nullptr},
        {"empty target", DDD_RAW_TARGET_PATH, "Bad1", ""},
        {"remove with a null alias", DDD_REMOVE_DEFINITION, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(DefineDosDeviceA(c.flags, c.alias, c.target), FALSE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(Resolve("Bad1"), 0u);
}

}  // namespace

// The last-error code is per thread: a failure on one thread never shows
// in another's GetLastError.
#include <thread>

#include <gtest/gtest.h>

#include "nt/win32.h"

namespace {

TEST(LastErrorTest, EachThreadKeepsItsOwn) {
    SetLastError(ERROR_ACCESS_DENIED);

    DWORD atStart = 1;
    DWORD afterSet = 0;
    DWORD afterFailure = 0;
    std::thread other([&] {
        atStart = GetLastError();
        SetLastError(ERROR_INVALID_DATA);
        afterSet = GetLastError();
        // A failing platform call sets this thread's code only.
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, "LastErrorNeverDefined", nullptr);
        afterFailure = GetLastError();
    });
    other.join();

    EXPECT_EQ(atStart, static_cast<DWORD>(ERROR_SUCCESS)) << "a new thread starts clean";
    EXPECT_EQ(afterSet, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(afterFailure, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LastErrorTest, TwoThreadsSettingAtOnceKeepTheirOwn) {
    constexpr int Rounds = 20000;
    bool keptFirst = true;
    bool keptSecond = true;
    auto worker = [](DWORD mine, bool *kept) {
        for (int i = 0; i < Rounds; ++i) {
            SetLastError(mine + static_cast<DWORD>(i % 2));
            if (GetLastError() != mine + static_cast<DWORD>(i % 2)) {
                *kept = false;
            }
        }
    };
    std::thread first(worker, 1000u, &keptFirst);
    std::thread second(worker, 2000u, &keptSecond);
    first.join();
    second.join();
    EXPECT_TRUE(keptFirst);
    EXPECT_TRUE(keptSecond);
}

}  // namespace

// The global heap (GlobalAlloc and friends) and the process heap. Agents
// build names with GlobalAlloc and grow them with GlobalReAlloc(GHND); the
// host releases them with GlobalFree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "nt/win32.h"

namespace {

bool AllZero(const void *block, size_t from, size_t to) {
    const auto *bytes = static_cast<const unsigned char *>(block);
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

bool Aligned(const void *block) {
    return reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t) == 0;
}

TEST(GlobalHeapTest, ZeroInitBlockIsZeroAndSized) {
    for (SIZE_T size : {SIZE_T{1}, SIZE_T{12}, SIZE_T{4096}}) {
        HGLOBAL block = GlobalAlloc(GPTR, size);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(AllZero(block, 0, size));
        EXPECT_EQ(GlobalSize(block), size);
        EXPECT_TRUE(Aligned(block));
        EXPECT_EQ(GlobalFree(block), nullptr);
    }
}

// An agent makes an empty identifier with GlobalAlloc(GPTR, 0): the block
// must be a real, distinct address that can grow and be freed.
TEST(GlobalHeapTest, ZeroByteBlockIsARealAddress) {
    HGLOBAL first = GlobalAlloc(GPTR, 0);
    HGLOBAL second = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(GlobalSize(first), 0u);

    HGLOBAL grown = GlobalReAlloc(first, 3 * sizeof(UINT), GHND);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GlobalSize(grown), 3 * sizeof(UINT));
    EXPECT_TRUE(AllZero(grown, 0, 3 * sizeof(UINT)));

    HGLOBAL shrunk = GlobalReAlloc(grown, 0, GHND);
    ASSERT_NE(shrunk, nullptr) << "a block resized to 0 bytes is still a block";
    EXPECT_EQ(GlobalSize(shrunk), 0u);
    EXPECT_EQ(GlobalFree(shrunk), nullptr);
    EXPECT_EQ(GlobalFree(second), nullptr);
}

// GlobalReAlloc(GHND) keeps the arcs the block held and zero-fills only
// what it adds, also where a shrink earlier left old bytes behind the new
// end, and also when the block has to move.
TEST(GlobalHeapTest, ReAllocKeepsTheArcsAndZeroFillsTheGrowth) {
    for (SIZE_T grownArcs : {SIZE_T{4}, SIZE_T{7}, SIZE_T{64}, SIZE_T{1} << 18}) {
        SCOPED_TRACE(grownArcs);
        auto *arcs = static_cast<UINT *>(GlobalAlloc(GMEM_FIXED, 8 * sizeof(UINT)));
        ASSERT_NE(arcs, nullptr);
        for (UINT i = 0; i < 8; ++i) {
            arcs[i] = 0xA5A5A500u + i;  // old bytes that must not reappear
        }
        arcs = static_cast<UINT *>(GlobalReAlloc(arcs, 3 * sizeof(UINT), GHND));
        ASSERT_NE(arcs, nullptr);
        ASSERT_EQ(GlobalSize(arcs), 3 * sizeof(UINT));

        arcs = static_cast<UINT *>(GlobalReAlloc(arcs, grownArcs * sizeof(UINT), GHND));
        ASSERT_NE(arcs, nullptr);
        EXPECT_EQ(GlobalSize(arcs), grownArcs * sizeof(UINT));
        EXPECT_TRUE(Aligned(arcs));
        EXPECT_EQ(arcs[0], 0xA5A5A500u);
        EXPECT_EQ(arcs[1], 0xA5A5A501u);
        EXPECT_EQ(arcs[2], 0xA5A5A502u);
        EXPECT_TRUE(AllZero(arcs, 3 * sizeof(UINT), grownArcs * sizeof(UINT)));
        EXPECT_EQ(GlobalFree(arcs), nullptr);
    }
}

TEST(GlobalHeapTest, ReAllocWithoutZeroInitKeepsTheContent) {
    auto *bytes = static_cast<unsigned char *>(GlobalAlloc(GMEM_MOVEABLE, 5));
    ASSERT_NE(bytes, nullptr);
    std::memcpy(bytes, "arcs", 5);
    bytes = static_cast<unsigned char *>(GlobalReAlloc(bytes, 100000, GMEM_MOVEABLE));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::memcmp(bytes, "arcs", 5), 0);
    EXPECT_EQ(GlobalFree(bytes), nullptr);
}

// A GlobalReAlloc that cannot be met fails with NULL and leaves the block
// as it was, so the caller still owns its arcs.
TEST(GlobalHeapTest, FailedReAllocLeavesTheBlock) {
    auto *arcs = static_cast<UINT *>(GlobalAlloc(GPTR, 2 * sizeof(UINT)));
    ASSERT_NE(arcs, nullptr);
    arcs[0] = 1;
    arcs[1] = 3;
    for (SIZE_T huge : {SIZE_MAX, SIZE_MAX - 8, SIZE_T{1} << 62}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GlobalReAlloc(arcs, huge, GHND), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }
    EXPECT_EQ(GlobalSize(arcs), 2 * sizeof(UINT));
    EXPECT_EQ(arcs[0], 1u);
    EXPECT_EQ(arcs[1], 3u);
    EXPECT_EQ(GlobalFree(arcs), nullptr);
}

TEST(GlobalHeapTest, ImpossibleRequestsFail) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalAlloc(GPTR, SIZE_MAX), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalReAlloc(nullptr, 16, GHND), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
}

TEST(ProcessHeapTest, AllocatesZeroedAndEmptyBlocks) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);

    auto *zeroed = static_cast<unsigned char *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 256));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_TRUE(AllZero(zeroed, 0, 256));
    EXPECT_EQ(HeapFree(heap, 0, zeroed), TRUE);

    void *empty = HeapAlloc(heap, 0, 0);
    void *other = HeapAlloc(heap, HEAP_ZERO_MEMORY, 0);
    ASSERT_NE(empty, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(empty, other);
    EXPECT_EQ(HeapFree(heap, 0, empty), TRUE);
    EXPECT_EQ(HeapFree(heap, 0, other), TRUE);
    EXPECT_EQ(HeapFree(heap, 0, nullptr), TRUE);
}

TEST(ProcessHeapTest, OtherHeapHandlesAreRefused) {
    int notAHeap = 0;
    for (HANDLE heap : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&notAHeap)}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(HeapAlloc(heap, 0, 16), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(HeapFree(heap, 0, nullptr), FALSE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

}  // namespace

// The global heap and the process heap.
//
// Global blocks carry a small header with their size, so that GlobalReAlloc
// can zero-fill the bytes it adds and GlobalSize can answer. Blocks never
// move by themselves: the address is the handle, GMEM_MOVEABLE or not. The
// header keeps the block aligned for any scalar type.
#include <cstdlib>
#include <cstring>
#include <cstddef>

#include "nt/win32.h"

namespace {

struct alignas(std::max_align_t) BlockHeader {
    SIZE_T size;
};

BlockHeader *HeaderOf(HGLOBAL block) { return static_cast<BlockHeader *>(block) - 1; }

HGLOBAL BlockOf(BlockHeader *header) { return header + 1; }

// The largest block we hand out: far beyond any real use, and small enough
// that size + header never wraps.
constexpr SIZE_T MaxBlockSize = SIZE_T{1} << 40;

int ProcessHeapTag;

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > MaxBlockSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + bytes));
    if (header == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    header->size = bytes;
    if ((flags & GMEM_ZEROINIT) != 0) {
        std::memset(BlockOf(header), 0, bytes);
    }
    return BlockOf(header);
}

HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags) {
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (bytes > MaxBlockSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T oldSize = HeaderOf(block)->size;
    auto *header =
        static_cast<BlockHeader *>(std::realloc(HeaderOf(block), sizeof(BlockHeader) + bytes));
    if (header == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    header->size = bytes;
    if ((flags & GMEM_ZEROINIT) != 0 && bytes > oldSize) {
        std::memset(static_cast<char *>(BlockOf(header)) + oldSize, 0, bytes - oldSize);
    }
    return BlockOf(header);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block != nullptr) {
        std::free(HeaderOf(block));
    }
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL block) { return block == nullptr ? 0 : HeaderOf(block)->size; }

HANDLE GetProcessHeap(void) { return &ProcessHeapTag; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != &ProcessHeapTag) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void *block = (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, bytes ? bytes : 1)
                                                  : std::malloc(bytes ? bytes : 1);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID block) {
    if (heap != &ProcessHeapTag) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(block);
    return TRUE;
}

}  // extern "C"

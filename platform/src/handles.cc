// The handle table; see handles.h.
#include "handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "nt/win32.h"

namespace nt {

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 4;
};

HandleTable &Table() {
    static HandleTable *table = new HandleTable;  // lives as long as the process
    return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;  // released outside the lock
    HandleTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.objects.end()) {
        return false;
    }
    object = std::move(found->second);
    table.objects.erase(found);
    return true;
}

}  // namespace nt

extern "C" BOOL CloseHandle(HANDLE object) {
    if (!nt::RemoveHandle(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

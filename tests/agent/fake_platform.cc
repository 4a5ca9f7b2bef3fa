// The scriptable fake platform; see fake_platform.h.
#include "fake_platform.h"

#include <cstdlib>
#include <cstring>

namespace fake {

namespace {
Platform *Instance = new Platform;  // lives as long as the test process
int ProcessHeapTag;
int EventSourceTag;
uintptr_t NextHandle = 0x100;
thread_local DWORD LastError = 0;
}  // namespace

Platform &P() { return *Instance; }

void Reset() {
    for (auto &block : Instance->liveGlobalBlocks) {
        std::free(block.first);
    }
    for (void *block : Instance->liveHeapBlocks) {
        std::free(block);
    }
    delete Instance;
    Instance = new Platform;
    LastError = 0;
}

std::vector<std::string> Platform::DefinedAliases() const {
    std::vector<std::string> names;
    for (const auto &alias : aliases) {
        if (!alias.second.empty()) {
            names.push_back(alias.first);
        }
    }
    return names;
}

size_t Platform::QueriesFor(DWORD statistic) const {
    size_t count = 0;
    for (const IoctlCall &call : ioctls) {
        count += call.statistic == statistic ? 1 : 0;
    }
    return count;
}

namespace {

bool GlobalCallFails() {
    Platform &p = P();
    ++p.globalCalls;
    return p.failAllGlobalCalls || p.failGlobalCalls.count(p.globalCalls) != 0;
}

}  // namespace

}  // namespace fake

using fake::P;

extern "C" {

DWORD GetLastError(void) { return fake::LastError; }
void SetLastError(DWORD code) { fake::LastError = code; }

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (fake::GlobalCallFails()) {
        return nullptr;
    }
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    if ((flags & GMEM_ZEROINIT) != 0) {
        std::memset(block, 0, bytes);
    }
    P().liveGlobalBlocks[block] = bytes;
    return block;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags) {
    auto found = P().liveGlobalBlocks.find(block);
    if (found == P().liveGlobalBlocks.end()) {
        ++P().badFrees;
        return nullptr;
    }
    if (fake::GlobalCallFails()) {
        return nullptr;
    }
    // Always move the block, so a caller that keeps the old address fails.
    const SIZE_T oldSize = found->second;
    void *moved = std::malloc(bytes == 0 ? 1 : bytes);
    std::memcpy(moved, block, oldSize < bytes ? oldSize : bytes);
    if ((flags & GMEM_ZEROINIT) != 0 && bytes > oldSize) {
        std::memset(static_cast<char *>(moved) + oldSize, 0, bytes - oldSize);
    }
    std::free(block);
    P().liveGlobalBlocks.erase(found);
    P().liveGlobalBlocks[moved] = bytes;
    return moved;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block == nullptr) {
        return nullptr;
    }
    if (P().liveGlobalBlocks.erase(block) == 0) {
        ++P().badFrees;
        return block;
    }
    std::free(block);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL block) {
    auto found = P().liveGlobalBlocks.find(block);
    return found == P().liveGlobalBlocks.end() ? 0 : found->second;
}

HANDLE GetProcessHeap(void) { return &fake::ProcessHeapTag; }

LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
    fake::Platform &p = P();
    if (p.failHeapCalls.count(++p.heapCalls) != 0) {
        return nullptr;
    }
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    p.liveHeapBlocks.insert(block);
    return block;
}

BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
    if (P().liveHeapBlocks.erase(block) == 0) {
        ++P().badFrees;
        return FALSE;
    }
    std::free(block);
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    P().closed.push_back(object);
    return P().openDevices.erase(object) != 0 ? TRUE : FALSE;
}

BOOL DefineDosDeviceA(DWORD flags, LPCSTR deviceName, LPCSTR targetPath) {
    fake::Platform &p = P();
    const std::string name = deviceName;
    const std::string target = targetPath != nullptr ? targetPath : "";
    BOOL result = TRUE;
    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        auto &stack = p.aliases[name];
        if (stack.empty()) {
            result = FALSE;
        } else {
            stack.pop_back();
        }
    } else {
        auto device = p.devices.find(target);
        if (device != p.devices.end() && device->second.defineFails) {
            result = FALSE;
        } else {
            p.aliases[name].push_back(target);
        }
    }
    p.defines.push_back({flags, name, target, result});
    return result;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    fake::Platform &p = P();
    p.opens.push_back({fileName, desiredAccess, shareMode, creationDisposition, flagsAndAttributes,
                       security != nullptr, templateFile != nullptr});
    const std::string path = fileName;
    if (path.compare(0, 4, "\\\\.\\") != 0) {
        return INVALID_HANDLE_VALUE;
    }
    auto alias = p.aliases.find(path.substr(4));
    if (alias == p.aliases.end() || alias->second.empty()) {
        return INVALID_HANDLE_VALUE;
    }
    const std::string &target = alias->second.back();
    auto device = p.devices.find(target);
    if (device == p.devices.end() || !device->second.opens) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(fake::NextHandle);
    fake::NextHandle += 4;
    p.openDevices[handle] = target;
    return handle;
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inSize,
                     LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped) {
    fake::Platform &p = P();
    DWORD statistic = 0;
    if (inBuffer != nullptr && inSize >= sizeof statistic) {
        std::memcpy(&statistic, inBuffer, sizeof statistic);
    }
    p.ioctls.push_back({device, controlCode, statistic, inSize, outSize, overlapped != nullptr});
    auto open = p.openDevices.find(device);
    if (open == p.openDevices.end() || controlCode != IOCTL_NDIS_QUERY_GLOBAL_STATS ||
        outSize < sizeof(DWORD)) {
        return FALSE;
    }
    const fake::Device &answering = p.devices[open->second];
    auto value = answering.statistics.find(statistic);
    if (value == answering.statistics.end()) {
        return FALSE;
    }
    std::memcpy(outBuffer, &value->second, sizeof(DWORD));
    if (bytesReturned != nullptr) {
        *bytesReturned = sizeof(DWORD);
    }
    return TRUE;
}

HANDLE RegisterEventSourceA(LPCSTR, LPCSTR) {
    if (P().registerFails) {
        return nullptr;
    }
    ++P().registered;
    return &fake::EventSourceTag;
}

BOOL ReportEventA(HANDLE eventSource, WORD type, WORD category, DWORD eventId, PSID,
                  WORD numStrings, DWORD, LPCSTR *strings, LPVOID) {
    fake::Platform &p = P();
    if (eventSource != &fake::EventSourceTag || p.failReportCalls.count(++p.reportCalls) != 0) {
        return FALSE;
    }
    fake::Event event{"SNMP", type, category, eventId, {}};
    for (WORD i = 0; i < numStrings; ++i) {
        event.strings.emplace_back(strings[i]);
    }
    p.events.push_back(event);
    return TRUE;
}

BOOL DeregisterEventSource(HANDLE) {
    ++P().deregistered;
    return TRUE;
}

}  // extern "C"

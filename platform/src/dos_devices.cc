// DOS device names: each name holds a stack of targets, as on NT.
#include "dos_devices.h"

#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "nt/win32.h"

namespace nt {

namespace {

struct DosDeviceTable {
    std::mutex lock;
    std::map<std::string, std::vector<DosDeviceTarget>> names;  // key: upper case
};

DosDeviceTable &Table() {
    static DosDeviceTable *table = new DosDeviceTable;  // lives as long as the process
    return *table;
}

std::string Key(const char *name) {
    std::string key(name);
    for (char &c : key) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

bool ValidName(const char *name) {
    return name != nullptr && name[0] != '\0' && std::strpbrk(name, "\\/") == nullptr;
}

}  // namespace

bool LookupDosDevice(const std::string &name, DosDeviceTarget *target) {
    DosDeviceTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.names.find(Key(name.c_str()));
    if (found == table.names.end() || found->second.empty()) {
        return false;
    }
    *target = found->second.back();
    return true;
}

}  // namespace nt

extern "C" BOOL DefineDosDeviceA(DWORD flags, LPCSTR deviceName, LPCSTR targetPath) {
    if (!nt::ValidName(deviceName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    nt::DosDeviceTable &table = nt::Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const std::string key = nt::Key(deviceName);
    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        auto found = table.names.find(key);
        if (found == table.names.end() || found->second.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        std::vector<nt::DosDeviceTarget> &stack = found->second;
        if (targetPath == nullptr) {
            stack.pop_back();
        } else {
            // Remove the most recent definition whose target matches (all of
            // it, or with DDD_EXACT_MATCH_ON_REMOVE, exactly).
            const size_t length = std::strlen(targetPath);
            auto match = stack.end();
            for (auto it = stack.begin(); it != stack.end(); ++it) {
                const bool same = (flags & DDD_EXACT_MATCH_ON_REMOVE) != 0
                                      ? it->path == targetPath
                                      : it->path.compare(0, length, targetPath) == 0;
                if (same) {
                    match = it;
                }
            }
            if (match == stack.end()) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return FALSE;
            }
            stack.erase(match);
        }
        if (stack.empty()) {
            table.names.erase(found);
        }
        return TRUE;
    }
    if (targetPath == nullptr || targetPath[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    table.names[key].push_back({targetPath, (flags & DDD_RAW_TARGET_PATH) != 0});
    return TRUE;
}

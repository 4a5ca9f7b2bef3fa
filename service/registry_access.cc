// Registry helpers; see registry_access.h.
#include "registry_access.h"

#include <vector>

namespace snmpsvc {

LONG RegKey::Open(const std::string &path, REGSAM access) {
    Close();
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_);
}

LONG RegKey::Create(const std::string &path, REGSAM access) {
    Close();
    char noClass[] = "";
    DWORD disposition = 0;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                           access, nullptr, &key_, &disposition);
}

void RegKey::Close() {
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

LONG ReadString(HKEY key, const std::string &name, bool expand, std::string *value,
                DWORD *storedType) {
    std::vector<BYTE> data(256);
    DWORD type = REG_NONE;
    LONG rc = ERROR_MORE_DATA;
    // The value may grow between the two calls; a few rounds settle it.
    for (int round = 0; round < 4 && rc == ERROR_MORE_DATA; ++round) {
        DWORD size = static_cast<DWORD>(data.size());
        rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size + 1);
        } else if (rc == ERROR_SUCCESS) {
            data.resize(size);
        }
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if (storedType != nullptr) {
        *storedType = type;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATA;
    }
    std::string text(data.begin(), data.end());
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.erase(nul);
    }
    if (expand && type == REG_EXPAND_SZ) {
        std::string expanded;
        if (!ExpandString(text, &expanded)) {
            return ERROR_INVALID_DATA;
        }
        text = std::move(expanded);
    }
    *value = std::move(text);
    return ERROR_SUCCESS;
}

LONG WriteString(HKEY key, const std::string &name, DWORD type, const std::string &value) {
    return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

bool ExpandString(const std::string &text, std::string *expanded) {
    std::vector<char> buffer(text.size() + 256);
    for (int round = 0; round < 4; ++round) {
        const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()));
        if (needed == 0) {
            return false;
        }
        if (needed <= buffer.size()) {
            expanded->assign(buffer.data());
            return true;
        }
        buffer.resize(needed);
    }
    return false;
}

}  // namespace snmpsvc

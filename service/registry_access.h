// Small helpers over the platform's registry calls (nt/win32.h) for the
// service, its installer and NET: a key that closes itself, string values
// read whole, and Win32 error codes as words.
#ifndef SERVICE_REGISTRY_ACCESS_H
#define SERVICE_REGISTRY_ACCESS_H

#include <string>

#include "nt/win32.h"

namespace snmpsvc {

// An open registry key, closed when the object goes.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    // Opens HKLM\path with access; a Win32 error code.
    LONG Open(const std::string &path, REGSAM access);
    // Creates HKLM\path (and the keys above it) or opens it; a Win32 code.
    LONG Create(const std::string &path, REGSAM access);
    void Close();
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Reads the string value `name` of key (REG_SZ, or REG_EXPAND_SZ which is
// expanded when expand is true), without its terminating NULs. *type gets
// the stored type. A Win32 error code; ERROR_INVALID_DATA for a value that
// is no string.
LONG ReadString(HKEY key, const std::string &name, bool expand, std::string *value,
                DWORD *type = nullptr);

// Writes a string value with its terminating NUL counted in its size.
LONG WriteString(HKEY key, const std::string &name, DWORD type, const std::string &value);

// Expands %NAME% references (%SystemRoot% is the root's Windows folder).
// False when the expansion fails.
bool ExpandString(const std::string &text, std::string *expanded);

}  // namespace snmpsvc

#endif  // SERVICE_REGISTRY_ACCESS_H

// ExpandEnvironmentStringsA: %NAME% references from the environment.
//
// As on NT: "%NAME%" is replaced by the variable's value, names matched
// without regard to case (an exact match first, since Linux names are case
// sensitive); a reference to a variable that is not set, "%%" and a lone
// '%' stay as they are, and scanning goes on after a reference left alone.
// %SystemRoot% and %windir% always name the NT root's Windows folder.
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "nt/ntroot.h"
#include "nt/win32.h"

extern char **environ;

namespace nt {

namespace {

// The value of variable name; false when it is not set.
bool LookUp(const std::string &name, std::string *value) {
    if (strcasecmp(name.c_str(), "SystemRoot") == 0 || strcasecmp(name.c_str(), "windir") == 0) {
        *value = RootPath() + "/Windows";
        return true;
    }
    if (const char *exact = std::getenv(name.c_str())) {
        *value = exact;
        return true;
    }
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char *equals = std::strchr(*entry, '=');
        if (equals != nullptr && static_cast<size_t>(equals - *entry) == name.size() &&
            strncasecmp(*entry, name.c_str(), name.size()) == 0) {
            *value = equals + 1;
            return true;
        }
    }
    return false;
}

}  // namespace

}  // namespace nt

extern "C" DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    if (source == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string result;
    const char *at = source;
    while (*at != '\0') {
        const char *open = std::strchr(at, '%');
        if (open == nullptr) {
            result += at;
            break;
        }
        result.append(at, open);
        const char *close = std::strchr(open + 1, '%');
        if (close == nullptr) {
            result += open;  // a lone '%' and what follows it
            break;
        }
        std::string value;
        if (close > open + 1 && nt::LookUp(std::string(open + 1, close), &value)) {
            result += value;
        } else {
            result.append(open, close + 1);
        }
        at = close + 1;
    }
    if (result.size() + 1 > UINT32_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const DWORD needed = static_cast<DWORD>(result.size() + 1);
    if (destination != nullptr && size >= needed) {
        std::memcpy(destination, result.c_str(), needed);
    }
    return needed;
}

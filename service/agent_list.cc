// Reading the agent list; see agent_list.h.
#include "agent_list.h"

#include <vector>

#include "nt/error_text.h"
#include "registry_access.h"

namespace snmpsvc {

const char AgentListKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";

namespace {

// Value names are at most 16383 characters on NT.
constexpr DWORD MaxValueName = 16384;

// Value `index` of the agent list: its name, type and data. A Win32 code;
// ERROR_NO_MORE_ITEMS after the last.
LONG EnumValue(HKEY key, DWORD index, std::string *name, DWORD *type, std::string *data) {
    std::vector<char> nameBuffer(MaxValueName);
    std::vector<BYTE> dataBuffer(512);
    LONG rc = ERROR_MORE_DATA;
    for (int round = 0; round < 4 && rc == ERROR_MORE_DATA; ++round) {
        DWORD nameSize = static_cast<DWORD>(nameBuffer.size());
        DWORD dataSize = static_cast<DWORD>(dataBuffer.size());
        rc = RegEnumValueA(key, index, nameBuffer.data(), &nameSize, nullptr, type,
                           dataBuffer.data(), &dataSize);
        if (rc == ERROR_MORE_DATA) {
            dataBuffer.resize(dataSize + 1);
        } else if (rc == ERROR_SUCCESS) {
            name->assign(nameBuffer.data(), nameSize);
            data->assign(dataBuffer.begin(), dataBuffer.begin() + dataSize);
        }
    }
    return rc;
}

std::string WithoutTrailingNuls(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.erase(nul);
    }
    return text;
}

}  // namespace

std::string LinuxPath(const std::string &ntPath) {
    std::string path = ntPath;
    for (char &c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

LONG ReadAgentList(std::vector<AgentEntry> *agents, std::vector<std::string> *problems,
                   std::string *error) {
    RegKey list;
    LONG rc = list.Open(AgentListKey, KEY_READ);
    if (rc != ERROR_SUCCESS) {
        *error = std::string("cannot open the agent list HKLM\\") + AgentListKey + ": " +
                 nt::ErrorText(rc);
        return rc;
    }
    // The list is bounded by what the registry holds; the index bound only
    // guards against a registry that never says "no more".
    for (DWORD index = 0; index < 100000; ++index) {
        AgentEntry entry;
        DWORD type = REG_NONE;
        std::string data;
        rc = EnumValue(list.get(), index, &entry.name, &type, &data);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            *error = std::string("cannot read the agent list HKLM\\") + AgentListKey + ": " +
                     nt::ErrorText(rc);
            return rc;
        }
        const std::string label = "agent " + entry.name + " skipped: ";
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            problems->push_back(label + "the agent list value is not a string (type " +
                                std::to_string(type) + ")");
            continue;
        }
        entry.key = WithoutTrailingNuls(data);
        if (entry.key.empty()) {
            problems->push_back(label + "the agent list value names no key");
            continue;
        }
        RegKey agentKey;
        rc = agentKey.Open(entry.key, KEY_READ);
        if (rc != ERROR_SUCCESS) {
            problems->push_back(label + "cannot open HKLM\\" + entry.key + ": " +
                                nt::ErrorText(rc));
            continue;
        }
        DWORD pathType = REG_NONE;
        rc = ReadString(agentKey.get(), "Pathname", false, &entry.pathname, &pathType);
        if (rc != ERROR_SUCCESS) {
            problems->push_back(label + "cannot read \"Pathname\" of HKLM\\" + entry.key + ": " +
                                nt::ErrorText(rc));
            continue;
        }
        std::string expanded;
        if (!ExpandString(entry.pathname, &expanded)) {
            problems->push_back(label + "cannot expand \"Pathname\" " + entry.pathname);
            continue;
        }
        if (expanded.empty()) {
            problems->push_back(label + "\"Pathname\" of HKLM\\" + entry.key + " names no DLL");
            continue;
        }
        entry.file = LinuxPath(expanded);
        agents->push_back(std::move(entry));
    }
    *error = "the agent list does not end";
    return ERROR_INVALID_DATA;
}

}  // namespace snmpsvc

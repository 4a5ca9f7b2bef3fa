// A machine for setup to install on; see machine.h.
#include "machine.h"

#include <dirent.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "nt/win32.h"

namespace setup_test {

const char *const kAgentList =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";
const char *const kHostdevKey =
    "SOFTWARE\\VeltrixNetworkingCompanyInc\\HOSTDEVAgent\\CurrentVersion";
const char *const kEthstatKey =
    "SOFTWARE\\VeltrixNetworkingCompanyInc\\ETHSTATAgent\\CurrentVersion";

std::vector<Shown> ShownWindows(const std::string &output) {
    std::vector<Shown> shown;
    std::istringstream in(output);
    bool open = false;
    bool first = false;  // in the first print of the window (it is printed for each key)
    Shown current;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 1, "[") == 0) {
            const std::string::size_type ended = line.find("] ended with ");
            if (ended != std::string::npos) {
                current.ended = line.substr(ended + 13);
                if (!open) {
                    current.header = line.substr(0, ended + 1);
                }
                shown.push_back(current);
                current = Shown();
                open = false;
            } else {
                first = !open;
                if (!open) {
                    current.header = line;
                    open = true;
                }
            }
            continue;
        }
        if (!first || line.compare(0, 4, "    ") != 0 ||
            current.header.find("message box") == std::string::npos) {
            continue;
        }
        if (line == "    [ Cancel ]") {
            current.cancelButton = true;
        } else if (line.compare(0, 5, "    [") != 0) {
            current.text += (current.text.empty() ? "" : "\n") + line.substr(4);
        }
    }
    return shown;
}

Machine::Machine(const std::string &rootName) {
    root = top.path() + "/" + rootName;
    app = top.path() + "/app";
    dist = top.path() + "/dist";
    netLog = root + "/net-calls";
    std::filesystem::create_directories(app);
    std::filesystem::create_directories(dist);
    rootEnv_ = std::make_unique<ScopedEnv>("NTROOT", root);
    const RunResult init =
        RunProgram({BinDir() + "/ntroot", "init"}, top.path(), {"NTROOT=" + root}, "");
    EXPECT_EQ(init.status, 0) << init.err;
    CreateKey("SOFTWARE\\Microsoft\\SNMP");
    // Another agent already in the list, which setup must leave alone.
    SetString(kAgentList, "OtherAgent", "SOFTWARE\\Other\\Agent\\CurrentVersion");
    WriteNet(System32() + "/NET");
    CopyFile(BinDir() + "/mibsetup", app + "/mibsetup");
    chmod((app + "/mibsetup").c_str(), 0755);
    CopyFile(BinDir() + "/HOSTDEV.DLL", dist + "/HOSTDEV.DLL");
    CopyFile(BinDir() + "/ETHSTAT.DLL", dist + "/ETHSTAT.DLL");
}

void Machine::WriteNet(const std::string &path) const {
    WriteFile(path,
              "#!/bin/sh\n"
              "# A stand-in for NET: records each call, then does as net-mode says.\n"
              "PATH=/usr/bin:/bin\n"
              "echo \"$*\" >> '" +
                  netLog +
                  "'\n"
                  "mode=$(cat '" +
                  root +
                  "/net-mode' 2>/dev/null)\n"
                  "case \"$mode:$1\" in\n"
                  "  fail:*) echo 'System error 1060 has occurred.'; exit 2 ;;\n"
                  "  hang-stop:STOP|hang-start:START) echo $$ > '" +
                  root +
                  "/net-hung'; exec sleep 40 ;;\n"
                  "  slow-stop:STOP) sleep 2 ;;\n"
                  "esac\n"
                  "echo \"NET stand-in: $* done.\"\n",
              0755);
}

void Machine::SetNetMode(const std::string &mode) const { WriteFile(root + "/net-mode", mode); }

RunResult Machine::Setup(const std::string &keys, const std::vector<std::string> &env, int status) {
    std::vector<std::string> settings = {"NTROOT=" + root};
    settings.insert(settings.end(), env.begin(), env.end());
    RunResult result = RunProgram({app + "/mibsetup"}, dist, settings, keys);
    EXPECT_EQ(result.status, status) << result.err;
    return result;
}

void Machine::UseQuickWait() {
    std::filesystem::remove(app + "/mibsetup");
    CopyFile(SETUP_TEST_QUICK_WAIT_SETUP, app + "/mibsetup");
    chmod((app + "/mibsetup").c_str(), 0755);
}

std::vector<std::string> Machine::NetCalls() const {
    std::vector<std::string> calls;
    std::istringstream in(ReadFile(netLog));
    for (std::string line; std::getline(in, line);) {
        calls.push_back(line);
    }
    return calls;
}

std::set<std::string> Machine::AgentFiles() const {
    std::set<std::string> files;
    DIR *dir = opendir(System32().c_str());
    if (dir == nullptr) {
        return files;
    }
    while (const struct dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "NET") {
            files.insert(name);
        }
    }
    closedir(dir);
    return files;
}

std::string StringValue(unsigned type, const std::string &text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text + std::string(1, '\0')) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return std::to_string(type) + ":" + std::to_string(text.size() + 1) + ":" + hex;
}

std::map<std::string, std::string> Registered(std::map<std::string, std::string> registry,
                                              unsigned selection) {
    struct Agent {
        unsigned bit;
        const char *value;
        const char *key;
        const char *pathname;
    };
    const Agent agents[] = {
        {1, "VeltrixHOSTDEV", kHostdevKey, "%SystemRoot%\\System32\\HOSTDEV.DLL"},
        {2, "VeltrixETHSTAT", kEthstatKey, "%SystemRoot%\\System32\\ETHSTAT.DLL"},
    };
    for (const Agent &agent : agents) {
        if ((selection & agent.bit) == 0) {
            continue;
        }
        registry[std::string(kAgentList) + " : " + agent.value] = StringValue(REG_SZ, agent.key);
        std::string path;
        std::istringstream parts(agent.key);
        for (std::string part; std::getline(parts, part, '\\');) {
            path += (path.empty() ? "" : "\\") + part;
            registry[path];  // the key, made when missing
        }
        registry[path + " : Pathname"] = StringValue(REG_EXPAND_SZ, agent.pathname);
    }
    return registry;
}

}  // namespace setup_test

// Registering the service; see service_install.h.
#include "service_install.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "agent_list.h"
#include "nt/error_text.h"
#include "nt/ntroot.h"
#include "registry_access.h"
#include "service_run.h"

namespace snmpsvc {

namespace {

constexpr char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\SNMP";
constexpr char PresenceKey[] = "SOFTWARE\\Microsoft\\SNMP";
constexpr DWORD OwnProcessService = 0x10;
constexpr DWORD AutomaticStart = 2;
constexpr DWORD NormalErrorControl = 1;

std::string Dirname(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Sets a string value unless it holds that text with that type already.
bool EnsureString(HKEY key, const std::string &name, DWORD type, const std::string &text,
                  bool *changed, std::string *error) {
    std::string current;
    DWORD currentType = REG_NONE;
    if (ReadString(key, name, false, &current, &currentType) == ERROR_SUCCESS &&
        currentType == type && current == text) {
        return true;
    }
    const LONG rc = WriteString(key, name, type, text);
    if (rc != ERROR_SUCCESS) {
        *error = "cannot write \"" + name + "\": " + nt::ErrorText(rc);
        return false;
    }
    *changed = true;
    return true;
}

bool EnsureDword(HKEY key, const std::string &name, DWORD number, bool *changed,
                 std::string *error) {
    DWORD type = REG_NONE;
    DWORD current = 0;
    DWORD size = sizeof current;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&current),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof current && current == number) {
        return true;
    }
    const LONG rc = RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE *>(&number), sizeof number);
    if (rc != ERROR_SUCCESS) {
        *error = "cannot write \"" + name + "\": " + nt::ErrorText(rc);
        return false;
    }
    *changed = true;
    return true;
}

// Makes HKLM\path exist, keeping whatever it holds.
bool EnsureKey(const std::string &path, bool *changed, std::string *error) {
    RegKey key;
    if (key.Open(path, KEY_READ) == ERROR_SUCCESS) {
        return true;
    }
    const LONG rc = key.Create(path, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        *error = "cannot create HKLM\\" + path + ": " + nt::ErrorText(rc);
        return false;
    }
    *changed = true;
    return true;
}

const char DefaultConfig[] =
    "# Net-SNMP agent settings of the SNMP service (snmpsvc), read when it starts\n"
    "# and when it reloads (SIGHUP).\n"
    "# The service answers SNMPv1 and SNMPv2c for the read-only community \"public\"\n"
    "# from the loopback addresses, on udp:127.0.0.1:1161; lines here add to that.\n"
    "#\n"
    "# The system group, as in snmpd.conf (sysServices is 72 unless set):\n"
    "#   syslocation Server room, rack 4\n"
    "#   syscontact ops@example.org\n"
    "# Where to listen (snmpsvc run --listen wins over this):\n"
    "#   agentaddress udp:127.0.0.1:1161\n"
    "# Let SETs through to the agents (which refuse them with genErr):\n"
    "#   rwcommunity private 127.0.0.1\n"
    "# SNMPv3 users: `snmpsvc user add NAME --auth-pass P --priv-pass Q` adds\n"
    "# two lines here (and keeps this file readable by its owner only), e.g.\n"
    "#   createUser admin SHA-256 \"auth pass phrase\" AES \"privacy pass phrase\"\n"
    "#   rouser admin authPriv\n"
    "# Answer SNMPv3 users only, no SNMPv1 and SNMPv2c (no community at all):\n"
    "#   snmpsvcCommunity off\n"
    "# Serve as an AgentX subagent of the system's snmpd instead of on an address\n"
    "# of its own (snmpsvc run --agentx[=SOCKET] does the same). snmpd.conf then\n"
    "# needs \"master agentx\", an agentXPerms that lets this user reach the socket,\n"
    "# and its own dot3StatsTable module left out (snmpd -I -dot3StatsTable);\n"
    "# access and the system group are the master's. The subagent pings the\n"
    "# master every agentxPingInterval seconds (default 5) and reconnects when\n"
    "# it restarts:\n"
    "#   agentxRole subagent\n"
    "#   agentxSocket /var/agentx/master\n"
    "#   agentxPingInterval 5\n";

// The folder of our MIB modules: share/snmpsvc/mibs beside the program's
// bin/ folder, else the source tree's mibs/ the program was built from.
std::string MibSourceFolder(const std::string &program) {
    const std::string beside = Dirname(Dirname(program)) + "/share/snmpsvc/mibs";
    struct stat info;
    if (stat(beside.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return beside;
    }
    return SNMPSVC_MIB_SOURCE_DIR;
}

bool ReadWhole(const std::string &path, std::string *text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text->clear();
    char buffer[8192];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            text->append(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    return got == 0;
}

// Writes text to path through a new file that replaces the old whole.
bool ReplaceFile(const std::string &path, const std::string &text, std::string *error) {
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// Copies our MIB modules (*.txt) into root/mibs/, where snmptable -M finds
// them; a module already there with the same text is left alone.
bool EnsureMibs(const std::string &root, const std::string &program, bool *changed,
                std::string *error) {
    const std::string source = MibSourceFolder(program);
    DIR *dir = opendir(source.c_str());
    if (dir == nullptr) {
        *error = "cannot read the MIB modules in " + source + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    while (const struct dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    const std::string target = root + "/mibs";
    if (mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = "cannot make " + target + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string &name : names) {
        std::string text;
        if (!ReadWhole(source + "/" + name, &text)) {
            *error = "cannot read " + source + "/" + name;
            return false;
        }
        std::string current;
        if (ReadWhole(target + "/" + name, &current) && current == text) {
            continue;
        }
        if (!ReplaceFile(target + "/" + name, text, error)) {
            return false;
        }
        *changed = true;
    }
    return true;
}

// Writes the commented configuration file unless there is one.
bool EnsureConfig(const std::string &root, bool *changed, std::string *error) {
    const std::string folder = root + "/snmp";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + folder + ": " + std::strerror(errno);
        return false;
    }
    const std::string path = folder + "/snmpsvc.conf";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            return true;
        }
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const size_t length = sizeof DefaultConfig - 1;
    const bool written = write(fd, DefaultConfig, length) == static_cast<ssize_t>(length);
    if (close(fd) != 0 || !written) {
        unlink(path.c_str());
        *error = "cannot write " + path;
        return false;
    }
    *changed = true;
    return true;
}

// The image path NT keeps: the program, quoted when it holds a blank.
std::string ImagePathOf(const std::string &program) {
    const std::string quoted =
        program.find_first_of(" \t") != std::string::npos ? "\"" + program + "\"" : program;
    return quoted + " run";
}

bool EnsureServiceKey(const std::string &program, bool *changed, std::string *error) {
    RegKey key;
    const LONG rc = key.Create(ServiceKey, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        *error = std::string("cannot create HKLM\\") + ServiceKey + ": " + nt::ErrorText(rc);
        return false;
    }
    return EnsureString(key.get(), "ImagePath", REG_EXPAND_SZ, ImagePathOf(program), changed,
                        error) &&
           EnsureString(key.get(), "DisplayName", REG_SZ, ServiceName, changed, error) &&
           EnsureDword(key.get(), "Type", OwnProcessService, changed, error) &&
           EnsureDword(key.get(), "Start", AutomaticStart, changed, error) &&
           EnsureDword(key.get(), "ErrorControl", NormalErrorControl, changed, error);
}

// Points System32/NET at target, replacing another link or file whole.
bool EnsureNetLink(const std::string &systemDir, const std::string &target, bool *changed,
                   std::string *error) {
    const std::string link = systemDir + "/NET";
    std::vector<char> current(PATH_MAX + 1);
    const ssize_t length = readlink(link.c_str(), current.data(), current.size() - 1);
    if (length >= 0 && std::string(current.data(), static_cast<size_t>(length)) == target) {
        return true;
    }
    const std::string temporary = link + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = "cannot make " + temporary + ": " + std::strerror(errno);
        return false;
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int err = errno;
        unlink(temporary.c_str());
        *error = "cannot place " + link + ": " + std::strerror(err);
        return false;
    }
    *changed = true;
    return true;
}

}  // namespace

std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "snmpsvc";
    }
    return std::string(path, static_cast<size_t>(length));
}

bool InstallService(const std::string &root, const std::string &program, InstallResult *result,
                    std::string *error) {
    if (!nt::CheckRoot(root, true, error)) {
        return false;
    }
    const std::string systemDir = root + "/Windows/System32";
    struct stat info;
    if (stat(systemDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error =
            root + " has no system directory Windows/System32 (make the root with: ntroot init)";
        return false;
    }
    const std::string net = Dirname(program) + "/NET";
    if (access(net.c_str(), X_OK) != 0) {
        *error = "NET is not beside snmpsvc (no program " + net + ")";
        return false;
    }
    bool changed = false;
    if (!EnsureServiceKey(program, &changed, error) || !EnsureKey(AgentListKey, &changed, error) ||
        !EnsureKey(PresenceKey, &changed, error) ||
        !EnsureNetLink(systemDir, net, &changed, error) || !EnsureConfig(root, &changed, error) ||
        !EnsureMibs(root, program, &changed, error)) {
        return false;
    }
    result->changed = changed;
    return true;
}

}  // namespace snmpsvc

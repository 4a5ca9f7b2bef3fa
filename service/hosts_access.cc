// Keeping libwrap's verdicts until the access files change; see
// hosts_access.h.
#include "hosts_access.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

namespace snmpsvc {

namespace {

using HostsCtl = int (*)(char *daemon, char *name, char *addr, char *user);

// libwrap's word for a client name or user it was not told.
constexpr char Unknown[] = "unknown";
// Larger access files are left to libwrap on every request.
constexpr size_t MaxRulesSize = 64 * 1024;
// Verdicts kept at once; the table is emptied when it fills, so a flood
// of source addresses costs lookups, never memory.
constexpr size_t Slots = 1024;
constexpr size_t MaxKept = Slots * 3 / 4;
constexpr size_t MaxDaemon = 64;
constexpr size_t MaxAddress = 64;

struct Verdict {
    bool used;
    bool allowed;
    char daemon[MaxDaemon];
    char address[MaxAddress];
};

enum class Rules { Unread, Pure, Impure };

struct Cache {
    bool watching = false;
    int fd = -1;
    std::string allowPath;
    std::string denyPath;
    Rules rules = Rules::Unread;
    size_t kept = 0;
    Verdict slots[Slots];
};

Cache g_cache;

HostsCtl LibwrapHostsCtl() {
    static const HostsCtl real = reinterpret_cast<HostsCtl>(dlsym(RTLD_NEXT, "hosts_ctl"));
    return real;
}

// One of libwrap's path variables (hosts_allow_table, hosts_deny_table);
// empty when libwrap is not loaded.
std::string LibwrapPath(const char *variable) {
    auto *path = static_cast<char **>(dlsym(RTLD_DEFAULT, variable));
    return path != nullptr && *path != nullptr ? std::string(*path) : std::string();
}

void Forget() {
    if (g_cache.kept != 0) {
        std::memset(g_cache.slots, 0, sizeof g_cache.slots);
        g_cache.kept = 0;
    }
    g_cache.rules = Rules::Unread;
}

// The content of an access file as libwrap would read it, and whether it
// can be relied on: false for a link, a file that is not regular, a file
// too large or unreadable. A missing file is empty, as libwrap takes it.
bool ReadRules(const std::string &path, std::string *text) {
    text->clear();
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > static_cast<off_t>(MaxRulesSize)) {
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || text->size() + static_cast<size_t>(got) > MaxRulesSize) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

Rules ReadRuleFiles() {
    std::string text;
    if (!ReadRules(g_cache.allowPath, &text) || !AccessRulesArePure(text) ||
        !ReadRules(g_cache.denyPath, &text) || !AccessRulesArePure(text)) {
        return Rules::Impure;
    }
    return Rules::Pure;
}

uint32_t Hash(const char *daemon, const char *address) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char *p = daemon; *p != '\0'; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    }
    hash = (hash ^ 0xFFu) * 16777619u;
    for (const char *p = address; *p != '\0'; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    }
    return hash;
}

// The slot that holds (daemon, address), or the free slot where it goes.
Verdict &SlotOf(const char *daemon, const char *address) {
    size_t i = Hash(daemon, address) % Slots;
    for (;; i = (i + 1) % Slots) {
        Verdict &slot = g_cache.slots[i];
        if (!slot.used ||
            (std::strcmp(slot.address, address) == 0 && std::strcmp(slot.daemon, daemon) == 0)) {
            return slot;
        }
    }
}

bool Fits(const char *text, size_t size) { return text != nullptr && strnlen(text, size) < size; }

// Whether a change to the folder's entry `name` concerns the access files.
bool Concerns(const char *name) {
    auto same = [name](const std::string &path) {
        const size_t slash = path.rfind('/');
        return path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, name) ==
               0;
    };
    return same(g_cache.allowPath) || same(g_cache.denyPath);
}

void StopWatching() {
    if (g_cache.fd >= 0) {
        unregister_readfd(g_cache.fd);
        close(g_cache.fd);
        g_cache.fd = -1;
    }
    g_cache.watching = false;
    Forget();
}

// The inotify descriptor is readable: any change to either file (written,
// replaced, removed, its mode changed) forgets every verdict. When a
// watched folder itself goes, or events were lost, changes can no longer
// be seen for sure: verdicts are no longer kept.
void OnAccessFilesChanged(int fd, void * /*data*/) {
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            at += static_cast<ssize_t>(sizeof *event + event->len);
            if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                snmp_log(LOG_WARNING,
                         "the folder of %s or %s changed or events were lost: the access check "
                         "now reads them for every request\n",
                         g_cache.allowPath.c_str(), g_cache.denyPath.c_str());
                StopWatching();
                return;
            }
            if (event->len == 0 || Concerns(event->name)) {
                Forget();
            }
        }
    }
}

bool Watch(const std::string &path, std::string *warning) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const uint32_t events = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE |
                            IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                            IN_ONLYDIR;
    if (inotify_add_watch(g_cache.fd, folder.c_str(), events) < 0) {
        *warning = "cannot watch " + folder + " (" + std::strerror(errno) +
                   "): the access check reads " + path + " for every request";
        return false;
    }
    return true;
}

}  // namespace

bool AccessRulesArePure(const std::string &text) {
    size_t at = 0;
    while (at < text.size()) {
        // One logical line: a backslash before the newline continues it.
        std::string line;
        bool continued = false;
        for (;;) {
            const size_t end = text.find('\n', at);
            const size_t stop = end == std::string::npos ? text.size() : end;
            line.append(text, at, stop - at);
            at = end == std::string::npos ? text.size() : end + 1;
            if (!line.empty() && line.back() == '\\' && end != std::string::npos) {
                line.pop_back();
                continued = true;
                continue;
            }
            break;
        }
        if (line.empty() || line[0] == '#') {
            if (continued && !line.empty()) {
                return false;  // whether a comment goes on is libwrap's to say
            }
            continue;
        }
        int brackets = 0;
        int separators = 0;
        bool tokenStart = true;
        for (const char c : line) {
            if (c == '@' || (c == '/' && tokenStart) || brackets < 0) {
                return false;
            }
            if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == ':' && brackets == 0) {
                if (++separators > 1) {
                    return false;  // an option field
                }
            }
            tokenStart =
                c == ' ' || c == '\t' || c == '\r' || c == ',' || (c == ':' && brackets == 0);
        }
        if (brackets != 0) {
            return false;
        }
    }
    return true;
}

bool StartHostsAccessCache(std::string *warning) {
    StopHostsAccessCache();
    if (LibwrapHostsCtl() == nullptr) {
        return true;  // no access check to speed up
    }
    g_cache.allowPath = LibwrapPath("hosts_allow_table");
    g_cache.denyPath = LibwrapPath("hosts_deny_table");
    if (g_cache.allowPath.empty() || g_cache.denyPath.empty()) {
        return true;
    }
    g_cache.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (g_cache.fd < 0) {
        *warning = std::string("cannot watch the access files (") + std::strerror(errno) +
                   "): the access check reads them for every request";
        return false;
    }
    if (!Watch(g_cache.allowPath, warning) || !Watch(g_cache.denyPath, warning)) {
        close(g_cache.fd);
        g_cache.fd = -1;
        return false;
    }
    register_readfd(g_cache.fd, OnAccessFilesChanged, nullptr);
    g_cache.watching = true;
    Forget();
    return true;
}

void StopHostsAccessCache() { StopWatching(); }

}  // namespace snmpsvc

// The agent library's access check binds here first (the executable comes
// before libwrap in the lookup order); see hosts_access.h.
extern "C" __attribute__((visibility("default"))) int hosts_ctl(char *daemon, char *name,
                                                                char *addr, char *user) {
    using namespace snmpsvc;
    const HostsCtl real = LibwrapHostsCtl();
    if (real == nullptr) {
        return 0;  // no libwrap to ask: refuse
    }
    if (!g_cache.watching || !Fits(daemon, MaxDaemon) || !Fits(addr, MaxAddress) ||
        name == nullptr || std::strcmp(name, Unknown) != 0 || user == nullptr ||
        std::strcmp(user, Unknown) != 0) {
        return real(daemon, name, addr, user);
    }
    if (g_cache.rules == Rules::Unread) {
        g_cache.rules = ReadRuleFiles();
    }
    if (g_cache.rules != Rules::Pure) {
        return real(daemon, name, addr, user);
    }
    Verdict &slot = SlotOf(daemon, addr);
    if (slot.used) {
        return slot.allowed ? 1 : 0;
    }
    const int verdict = real(daemon, name, addr, user);
    // libwrap may have found the files changed since they were read; the
    // change is seen before the next request, which forgets this verdict.
    if (g_cache.rules == Rules::Pure) {
        if (g_cache.kept >= MaxKept) {
            Forget();
            g_cache.rules = Rules::Pure;
        }
        Verdict &free = SlotOf(daemon, addr);
        free.used = true;
        free.allowed = verdict != 0;
        std::strcpy(free.daemon, daemon);
        std::strcpy(free.address, addr);
        ++g_cache.kept;
    }
    return verdict;
}

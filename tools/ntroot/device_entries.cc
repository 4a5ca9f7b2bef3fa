// The Device folder's entries; see device_entries.h.
#include "device_entries.h"

#include "adapter_statistics.h"
#include "simulated_file.h"

#include "nt/ntroot.h"
#include "nt/simulated_adapter_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ntroot {

namespace {

// An interface folder's duplex as the kernel tells it: "full", "half", or
// empty when it does not say (a link that is down, a virtual interface).
std::string ReadDuplex(const std::string &folder) {
    std::string text, problem;
    if (!ReadWholeFile(folder + "/duplex", &text, &problem)) {
        return {};
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text == "full" || text == "half" ? text : std::string();
}

}  // namespace

const std::vector<std::string> &ProbedDeviceNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const char *stem : {"Vxlnk", "Vxpci", "Vxpci_"}) {
            for (int i = 1; i <= 9; ++i) {
                list.push_back(stem + std::to_string(i));
            }
        }
        return list;
    }();
    return names;
}

bool IsProbedDeviceName(const std::string &name) {
    const auto &names = ProbedDeviceNames();
    return std::any_of(names.begin(), names.end(), [&name](const std::string &probed) {
        return strcasecmp(probed.c_str(), name.c_str()) == 0;
    });
}

std::string DeviceNameProblem(const std::string &name) {
    if (name.empty()) {
        return "the device name is empty";
    }
    if (name == "." || name == "..") {
        return "'" + name + "' is not a device name";
    }
    if (name.find_first_of("/\\") != std::string::npos) {
        return "'" + name + "' is not a device name: it may not hold '/' or '\\'";
    }
    return {};
}

bool FindDeviceEntries(const std::string &folder, const std::string &name,
                       std::vector<std::string> *names, std::string *error) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        *error = "cannot read " + folder + ": " + std::strerror(errno);
        return false;
    }
    bool exact = false;
    std::vector<std::string> others;
    while (const struct dirent *item = readdir(dir)) {
        if (nt::IsReplacementTemporary(item->d_name)) {
            continue;  // a writer's, not a device
        }
        if (std::strcmp(item->d_name, name.c_str()) == 0) {
            exact = true;
        } else if (strcasecmp(item->d_name, name.c_str()) == 0) {
            others.push_back(item->d_name);
        }
    }
    closedir(dir);
    std::sort(others.begin(), others.end());
    names->clear();
    if (exact) {
        names->push_back(name);
    }
    names->insert(names->end(), others.begin(), others.end());
    return true;
}

void CountStatistics(const std::string &text, size_t *statistics, size_t *malformed) {
    std::set<uint64_t> identifiers;
    *malformed = 0;
    nt::SimulatedFileLine line;
    size_t position = 0;
    while (nt::NextSimulatedFileLine(text, &position, &line)) {
        if (line.wordCount == 0) {
            continue;
        }
        // A value of any length counts, as the platform takes it modulo
        // 2^32; an identifier must fit the 32 bits a query asks for.
        uint64_t identifier = 0;
        uint32_t value = 0;
        if (line.wordCount == 2 && nt::ParseStatisticNumber(line.words[0], &identifier) &&
            identifier <= UINT32_MAX && nt::ParseCounterValue(line.words[1], &value)) {
            identifiers.insert(identifier);
        } else {
            ++*malformed;
        }
    }
    *statistics = identifiers.size();
}

DeviceEntry ClassifyDeviceEntry(const std::string &folder, const std::string &name) {
    DeviceEntry entry;
    entry.name = name;
    entry.probed = IsProbedDeviceName(name);
    const std::string path = folder + "/" + name;
    struct stat own;
    if (lstat(path.c_str(), &own) != 0) {
        entry.kind = DeviceEntry::Kind::kUnreadable;
        entry.problem = std::strerror(errno);
        return entry;
    }
    struct stat info = own;
    if (S_ISLNK(own.st_mode)) {
        char target[4096];
        const ssize_t size = readlink(path.c_str(), target, sizeof target - 1);
        entry.target = size >= 0 ? std::string(target, static_cast<size_t>(size)) : "?";
        if (stat(path.c_str(), &info) != 0) {
            entry.kind = DeviceEntry::Kind::kBrokenLink;
            return entry;
        }
    }
    if (S_ISREG(info.st_mode)) {
        std::string text;
        if (!ReadWholeFile(path, &text, &entry.problem)) {
            entry.kind = DeviceEntry::Kind::kUnreadable;
            return entry;
        }
        entry.kind = DeviceEntry::Kind::kSimulated;
        CountStatistics(text, &entry.statistics, &entry.malformed);
        return entry;
    }
    if (S_ISDIR(info.st_mode)) {
        if (!S_ISLNK(own.st_mode)) {
            entry.kind = DeviceEntry::Kind::kFolder;
            return entry;
        }
        struct stat statistics;
        const std::string counters = path + "/statistics";
        entry.kind = stat(counters.c_str(), &statistics) == 0 && S_ISDIR(statistics.st_mode)
                         ? DeviceEntry::Kind::kInterface
                         : DeviceEntry::Kind::kOtherFolder;
        if (entry.kind == DeviceEntry::Kind::kInterface) {
            entry.duplex = ReadDuplex(path);
        }
        return entry;
    }
    entry.kind = DeviceEntry::Kind::kOther;
    return entry;
}

std::string DescribeDeviceEntry(const DeviceEntry &entry) {
    const std::string via = entry.target.empty() ? "" : " (link to " + entry.target + ")";
    switch (entry.kind) {
        case DeviceEntry::Kind::kSimulated: {
            std::string text = "simulated adapter, " + std::to_string(entry.statistics) +
                               (entry.statistics == 1 ? " statistic" : " statistics");
            if (entry.malformed != 0) {
                text += ", " + std::to_string(entry.malformed) +
                        (entry.malformed == 1 ? " malformed line" : " malformed lines");
            }
            return text + via;
        }
        case DeviceEntry::Kind::kInterface:
            return "link to interface " + entry.target + ", " +
                   (entry.duplex.empty() ? "duplex unknown" : entry.duplex + " duplex");
        case DeviceEntry::Kind::kOtherFolder:
            return "link to " + entry.target +
                   ", a folder that is not an interface's (no statistics folder)";
        case DeviceEntry::Kind::kBrokenLink: return "broken link to " + entry.target;
        case DeviceEntry::Kind::kFolder: return "folder, not a device";
        case DeviceEntry::Kind::kUnreadable: return "unreadable: " + entry.problem + via;
        case DeviceEntry::Kind::kOther: break;
    }
    return "not a device (neither a file nor a link)";
}

bool ListDeviceEntries(const std::string &folder, std::vector<DeviceEntry> *entries,
                       std::string *error) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        *error = "cannot read " + folder + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    while (const struct dirent *item = readdir(dir)) {
        // A writer's temporary (".Vxlnk1.ntroot-XXXXXX") is no device, even
        // one that a killed writer left behind.
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0 &&
            !nt::IsReplacementTemporary(item->d_name)) {
            names.push_back(item->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        entries->push_back(ClassifyDeviceEntry(folder, name));
    }
    return true;
}

}  // namespace ntroot

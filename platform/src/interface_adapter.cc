// Real adapters over Linux network interfaces; see interface_adapter.h.
#include "interface_adapter.h"

#include <linux/ethtool_netlink.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <mutex>

#include "adapter_health.h"
#include "device_reads.h"
#include "errors.h"
#include "ethtool_stats.h"
#include "nt/adapter_statistics.h"
#include "simulated_adapter.h"
#include "nt/ntroot.h"

namespace nt {

namespace {

// The request being answered (see SetDeviceRequest); 0: none.
std::atomic<uint64_t> CurrentRequest{0};

// The most a counter file may hold ("18446744073709551615\n" is 21).
constexpr size_t CounterFileCap = 64;

std::string Basename(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool AskEthtool(const std::string &folder) {
    // Only a folder of the kernel's names an interface ethtool knows; other
    // folders of the same shape (fixtures) have their files only.
    return EthtoolTransportReplaced() || folder.compare(0, 5, "/sys/") == 0;
}

class InterfaceAdapterDevice : public AdapterDevice {
public:
    InterfaceAdapterDevice(std::string entry, const std::string &folder, const std::string &name)
        : entry_(std::move(entry)),
          health_(AdapterHealth::For(entry_, name, "interface " + Basename(folder))) {
        Bind(folder);
        struct stat info;
        if (stat(entry_.c_str(), &info) == 0) {
            device_ = info.st_dev;
            inode_ = info.st_ino;
        }
    }

    DWORD QueryStatistic(DWORD statistic, uint32_t *value) override {
        const AdapterStatistic *source = FindAdapterStatistic(statistic);
        if (source == nullptr) {
            return ERROR_NOT_SUPPORTED;
        }
        std::lock_guard<std::mutex> guard(lock_);
        const uint64_t request = CurrentRequest.load(std::memory_order_relaxed);
        if (request == 0 || request != followedIn_) {
            followedIn_ = 0;
            const Fault fault = Follow();
            if (fault.kind != Fault::kNone) {
                health_->Failing(fault);
                return FaultError(fault);
            }
            followedIn_ = request;
        }
        if (source->ethMac != kNoEthMacAttribute && ((fromEthMac_ >> source->ethMac) & 1) != 0) {
            if (request == 0 || request != ethMacIn_) {
                ethMacIn_ = 0;
                const DWORD answer = QueryEthMacValues(ifname_, &ethMac_);
                if (answer == ERROR_DEV_NOT_EXIST) {
                    health_->Failing({Fault::kVanished, ENODEV});
                    return answer;
                }
                if (answer != ERROR_SUCCESS) {
                    return answer;
                }
                ethMacIn_ = request;
            }
            const EthMacValues &counters = ethMac_;
            health_->Answering();
            if (!counters.Has(static_cast<unsigned>(source->ethMac))) {
                return ERROR_NOT_SUPPORTED;
            }
            *value = static_cast<uint32_t>(counters.value[source->ethMac]);
            return ERROR_SUCCESS;
        }
        if (source->halfDuplexOnly && !HalfDuplex()) {
            health_->Answering();
            *value = 0;
            return ERROR_SUCCESS;
        }
        if (source->file == nullptr) {
            health_->Answering();
            return ERROR_NOT_SUPPORTED;
        }
        return ReadCounter(*source, static_cast<size_t>(source - kAdapterStatistics), value);
    }

    std::string Describe(DWORD statistic) {
        const AdapterStatistic *source = FindAdapterStatistic(statistic);
        if (source == nullptr) {
            return "none";
        }
        if (source->ethMac != kNoEthMacAttribute && ((fromEthMac_ >> source->ethMac) & 1) != 0) {
            return "eth-mac";
        }
        std::string file = source->file != nullptr ? std::string("statistics/") + source->file : "";
        if (source->halfDuplexOnly) {
            return (file.empty() ? "none" : file) + " in half duplex, else 0";
        }
        return file.empty() ? "none" : file;
    }

private:
    // Takes folder as the interface read from now: its files are opened
    // afresh, and which statistics eth-mac gives is settled, once for as
    // long as it stays the interface read, so that a counter keeps its
    // source.
    void Bind(const std::string &folder) {
        folder_ = folder;
        ifname_ = Basename(folder_);
        for (KeptFile &file : files_) {
            file.Close();
        }
        duplex_.Close();
        duplexIn_ = 0;
        ethMacIn_ = 0;
        struct statfs filesystem;
        onSysfs_ = statfs(folder_.c_str(), &filesystem) == 0 && filesystem.f_type == SYSFS_MAGIC;
        fromEthMac_ = 0;
        EthMacValues counters;
        if (AskEthtool(folder_) && QueryEthMacValues(ifname_, &counters) == ERROR_SUCCESS) {
            fromEthMac_ = counters.present;
        }
    }

    // Makes sure the entry still leads to the folder read; follows it to
    // another interface folder when it leads there now.
    Fault Follow() {
        struct stat info;
        if (stat(entry_.c_str(), &info) != 0) {
            const int err = errno;
            ErrorFromErrno(err, "stat", entry_);
            return FaultFromErrno(err);
        }
        if (info.st_dev == device_ && info.st_ino == inode_) {
            return {};
        }
        if (!S_ISDIR(info.st_mode)) {
            return {Fault::kNotInterface, 0};
        }
        char resolved[PATH_MAX];
        if (realpath(entry_.c_str(), resolved) == nullptr) {
            return FaultFromErrno(errno);
        }
        if (!IsFolder(std::string(resolved) + "/statistics")) {
            return {Fault::kNotInterface, 0};
        }
        Trace("%s: now interface folder %s", entry_.c_str(), resolved);
        Bind(resolved);
        health_->SetSource("interface " + ifname_);
        device_ = info.st_dev;
        inode_ = info.st_ino;
        return {};
    }

    // Reads a kept file of the folder (opening it when needed) into
    // buffer: the count read, or -1 with *fault.
    ssize_t ReadKept(KeptFile *file, const char *name, char *buffer, size_t size, Fault *fault) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            // Out of sysfs (fixtures), a file renamed over or removed is
            // told by its link count; sysfs fails the read instead.
            if (file->IsOpen() && !onSysfs_ && file->Unlinked()) {
                file->Close();
            }
            if (!file->IsOpen()) {
                *fault = file->Open(folder_ + "/" + name);
                if (fault->kind != Fault::kNone) {
                    return -1;
                }
            }
            const ssize_t got = file->Read(buffer, size);
            if (got >= 0) {
                return got;
            }
            const int err = errno;
            *fault = FaultFromErrno(err);
            if (err != ENODEV) {
                // The attribute fails (EINVAL: duplex of a link that is
                // down); the file stays open for the next read.
                break;
            }
            file->Close();
            // ENODEV: the interface went; the entry may lead to a new one.
            const Fault followed = Follow();
            if (followed.kind != Fault::kNone) {
                *fault = followed;
                return -1;
            }
        }
        return -1;
    }

    bool HalfDuplex() {
        const uint64_t request = CurrentRequest.load(std::memory_order_relaxed);
        if (request != 0 && request == duplexIn_) {
            return halfDuplex_;
        }
        char text[16];
        Fault fault;
        const ssize_t got = ReadKept(&duplex_, "duplex", text, sizeof text, &fault);
        // Unreadable (a link that is down, or none): not half.
        halfDuplex_ = got >= 4 && std::memcmp(text, "half", 4) == 0;
        duplexIn_ = request;
        return halfDuplex_;
    }

    DWORD ReadCounter(const AdapterStatistic &source, size_t index, uint32_t *value) {
        char path[64];
        std::snprintf(path, sizeof path, "statistics/%s", source.file);
        char text[CounterFileCap + 1];
        Fault fault;
        const ssize_t got = ReadKept(&files_[index], path, text, sizeof text, &fault);
        if (got < 0) {
            if (fault.kind == Fault::kVanished && IsFolder(folder_ + "/statistics")) {
                // The interface is there without this file: a counter it
                // does not keep.
                health_->Answering();
                health_->StatisticSettled(source.identifier, false);
                return ERROR_NOT_SUPPORTED;
            }
            if (fault.kind == Fault::kVanished) {
                health_->Failing(fault);
            } else {
                health_->Answering();
                health_->StatisticFailing(source.identifier, fault, path);
            }
            return FaultError(fault);
        }
        health_->Answering();
        if (static_cast<size_t>(got) > CounterFileCap) {
            health_->StatisticFailing(source.identifier, {Fault::kTooLarge, 0}, path);
            return FaultError({Fault::kTooLarge, 0});
        }
        size_t length = static_cast<size_t>(got);
        while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' ')) {
            --length;
        }
        uint64_t number = 0;
        if (!ParseStatisticNumber(std::string_view(text, length), &number)) {
            Trace("%s/%s: not a counter", folder_.c_str(), path);
            health_->StatisticFailing(source.identifier, {Fault::kMalformed, 0}, path);
            return ERROR_INVALID_DATA;
        }
        health_->StatisticSettled(source.identifier, true);
        *value = static_cast<uint32_t>(number);  // modulo 2^32, as a Counter32 wraps
        return ERROR_SUCCESS;
    }

    std::mutex lock_;
    const std::string entry_;
    std::shared_ptr<AdapterHealth> health_;
    std::string folder_;
    std::string ifname_;
    dev_t device_ = 0;  // the folder the entry led to when last followed
    ino_t inode_ = 0;
    bool onSysfs_ = false;
    uint64_t fromEthMac_ = 0;  // bit n: eth-mac attribute n is the source
    KeptFile files_[kAdapterStatisticCount];
    KeptFile duplex_;
    // What was settled in the request being answered (0: nothing), so that
    // the statistics of one request check the entry, read the duplex and
    // ask ethtool once.
    uint64_t followedIn_ = 0;
    uint64_t duplexIn_ = 0;
    bool halfDuplex_ = false;
    uint64_t ethMacIn_ = 0;
    EthMacValues ethMac_;
};

}  // namespace

void SetDeviceRequest(uint64_t request) {
    CurrentRequest.store(request, std::memory_order_relaxed);
}

std::shared_ptr<AdapterDevice> OpenInterfaceAdapter(const std::string &entry,
                                                    const std::string &folder,
                                                    const std::string &name, DWORD *error) {
    if (!IsFolder(folder + "/statistics")) {
        *error = ERROR_NOT_SUPPORTED;
        Trace("%s: not a network interface folder (no statistics/)", folder.c_str());
        return nullptr;
    }
    return std::make_shared<InterfaceAdapterDevice>(entry, folder, name);
}

std::string DescribeInterfaceSource(const std::string &folder, DWORD statistic) {
    DWORD error = ERROR_SUCCESS;
    auto device = OpenInterfaceAdapter(folder, folder, folder, &error);
    if (device == nullptr) {
        return "none";
    }
    return static_cast<InterfaceAdapterDevice &>(*device).Describe(statistic);
}

}  // namespace nt

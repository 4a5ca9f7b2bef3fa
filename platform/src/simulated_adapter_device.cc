// A simulated adapter as an open device: its file read safely at every
// query; see simulated_adapter.h.
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "adapter_health.h"
#include "device_reads.h"
#include "errors.h"
#include "simulated_adapter.h"

namespace nt {

namespace {

class SimulatedAdapter : public AdapterDevice {
public:
    SimulatedAdapter(std::string path, const std::string &name)
        : path_(std::move(path)), health_(AdapterHealth::For(path_, name, "file " + path_)) {}

    DWORD QueryStatistic(DWORD statistic, uint32_t *value) override {
        std::lock_guard<std::mutex> guard(lock_);
        size_t size = 0;
        const Fault fault = Read(&size);
        if (fault.kind != Fault::kNone) {
            file_.Close();
            health_->Failing(fault);
            return FaultError(fault);
        }
        health_->Answering();
        uint32_t found = 0;
        size_t badLine = 0;
        const DWORD answer =
            FindStatistic(std::string_view(buffer_.get(), size), statistic, &found, &badLine);
        if (answer == ERROR_INVALID_DATA) {
            health_->StatisticFailing(statistic, {Fault::kMalformed, static_cast<int>(badLine)},
                                      nullptr);
            return answer;
        }
        health_->StatisticSettled(statistic, answer == ERROR_SUCCESS);
        if (answer == ERROR_SUCCESS) {
            *value = found;
        }
        return answer;
    }

    // Opens the file now, as CreateFileA checks that the driver can be
    // asked: kNone, or why it cannot.
    Fault Prepare() {
        std::lock_guard<std::mutex> guard(lock_);
        size_t size = 0;
        return Read(&size);
    }

private:
    // Reads the entry's text into buffer_: kNone with *size, or the fault.
    // A stat of the entry, and a pread of the file kept open unless another
    // file has taken the entry's name.
    Fault Read(size_t *size) {
        struct stat info;
        if (stat(path_.c_str(), &info) != 0) {
            const int err = errno;
            ErrorFromErrno(err, "stat", path_);
            return FaultFromErrno(err);
        }
        if (!S_ISREG(info.st_mode)) {
            return {Fault::kNotRegularFile, 0};
        }
        if (info.st_size > static_cast<off_t>(DeviceFileCap)) {
            return {Fault::kTooLarge, 0};
        }
        if (!file_.Is(info.st_dev, info.st_ino)) {
            const Fault fault = file_.Open(path_);
            if (fault.kind != Fault::kNone) {
                return fault;
            }
        }
        // Room for the size stat saw, and a byte more to tell growth; a
        // file that grew since is read again with room for the cap.
        size_t room = static_cast<size_t>(info.st_size) + 1;
        for (;;) {
            Reserve(room);
            const ssize_t got = file_.Read(buffer_.get(), room);
            if (got < 0) {
                const int err = errno;
                ErrorFromErrno(err, "pread", path_);
                return FaultFromErrno(err);
            }
            if (static_cast<size_t>(got) < room) {
                *size = static_cast<size_t>(got);
                return {};
            }
            if (room > DeviceFileCap) {
                return {Fault::kTooLarge, 0};
            }
            room = DeviceFileCap + 1;
        }
    }

    void Reserve(size_t room) {
        if (room > capacity_) {
            capacity_ = room < 4096 ? 4096 : room;
            buffer_.reset(new char[capacity_]);
        }
    }

    std::mutex lock_;
    const std::string path_;
    std::shared_ptr<AdapterHealth> health_;
    KeptFile file_;
    std::unique_ptr<char[]> buffer_;  // the text, kept between queries
    size_t capacity_ = 0;
};

}  // namespace

std::shared_ptr<AdapterDevice> OpenSimulatedAdapter(const std::string &path,
                                                    const std::string &name, DWORD *error) {
    auto adapter = std::make_shared<SimulatedAdapter>(path, name);
    const Fault fault = adapter->Prepare();
    if (fault.kind == Fault::kUnreadable) {
        *error = ErrorFromErrno(fault.detail, "open", path);
        return nullptr;
    }
    if (fault.kind != Fault::kNone && fault.kind != Fault::kTooLarge) {
        *error = fault.kind == Fault::kVanished ? ERROR_FILE_NOT_FOUND : ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    return adapter;
}

}  // namespace nt

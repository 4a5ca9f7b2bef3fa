// Whether an adapter answers, told once to the system log.
//
// An adapter starts failing when its source as a whole does not answer (its
// file or interface vanished, cannot be read, is not a regular file, is too
// large), and a statistic of it fails when its own line or counter file is
// malformed or unreadable. Each change is one line of the system log
// (system_log.h): when the adapter or the statistic starts failing, when the
// reason changes, and when it answers again; never a line per query. A
// statistic that the adapter simply does not keep (no line for it in a
// simulated adapter's file, no source on the interface) is not a failure of
// the adapter and is not logged.
//
// The state belongs to the Device entry, so every handle open on one
// adapter shares it and the log tells each change once per process.
#ifndef PLATFORM_ADAPTER_HEALTH_H
#define PLATFORM_ADAPTER_HEALTH_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device_reads.h"

namespace nt {

class AdapterHealth {
public:
    // The state of the adapter named name ("\Device\Vxlnk1") whose Device
    // entry is entry; source says what it reads ("file PATH", "interface
    // eth0"). Kept while a handle holds it.
    static std::shared_ptr<AdapterHealth> For(const std::string &entry, const std::string &name,
                                              const std::string &source);

    AdapterHealth(std::string name, std::string source)
        : name_(std::move(name)), source_(std::move(source)) {}

    // What the adapter reads now (an interface that was replaced).
    void SetSource(const std::string &source);

    // The adapter's source as a whole does not answer, or answers. Cheap
    // when nothing changes.
    void Failing(const Fault &fault);
    void Answering() {
        if (failing_.load(std::memory_order_relaxed)) {
            Answered();
        }
    }

    // One statistic fails (file: the interface's counter file, or null),
    // or no longer fails: answers says whether it answers or is simply not
    // kept.
    void StatisticFailing(DWORD statistic, const Fault &fault, const char *file);
    void StatisticSettled(DWORD statistic, bool answers) {
        if (failingStatistics_.load(std::memory_order_relaxed) != 0) {
            Settled(statistic, answers);
        }
    }

private:
    void Answered();
    void Settled(DWORD statistic, bool answers);
    std::string Subject() const;  // "\Device\Vxlnk1 (interface eth0)"

    std::mutex lock_;
    const std::string name_;
    std::string source_;
    std::atomic<bool> failing_{false};
    Fault fault_;
    std::atomic<int> failingStatistics_{0};
    std::map<DWORD, Fault> statistics_;
};

}  // namespace nt

#endif  // PLATFORM_ADAPTER_HEALTH_H

// Adapters' health in the system log; see adapter_health.h.
#include "adapter_health.h"

#include <syslog.h>

#include <cstdio>

#include "system_log.h"

namespace nt {

namespace {

std::string StatisticText(DWORD statistic) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", statistic);
    return text;
}

}  // namespace

std::shared_ptr<AdapterHealth> AdapterHealth::For(const std::string &entry, const std::string &name,
                                                  const std::string &source) {
    static std::mutex lock;
    static auto *states = new std::map<std::string, std::weak_ptr<AdapterHealth>>;
    std::lock_guard<std::mutex> guard(lock);
    for (auto it = states->begin(); it != states->end();) {
        it = it->second.expired() ? states->erase(it) : std::next(it);
    }
    auto &slot = (*states)[entry];
    if (auto health = slot.lock()) {
        health->SetSource(source);
        return health;
    }
    auto health = std::make_shared<AdapterHealth>(name, source);
    slot = health;
    return health;
}

void AdapterHealth::SetSource(const std::string &source) {
    std::lock_guard<std::mutex> guard(lock_);
    source_ = source;
}

std::string AdapterHealth::Subject() const { return name_ + " (" + source_ + ")"; }

void AdapterHealth::Failing(const Fault &fault) {
    std::lock_guard<std::mutex> guard(lock_);
    if (failing_.load() && fault_ == fault) {
        return;
    }
    const bool already = failing_.load();
    fault_ = fault;
    failing_.store(true);
    WriteSystemLog(LOG_WARNING, Subject() +
                                    (already ? " still fails, now: " : " stopped answering: ") +
                                    DescribeFault(fault));
}

void AdapterHealth::Answered() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!failing_.load()) {
        return;
    }
    failing_.store(false);
    fault_ = Fault{};
    WriteSystemLog(LOG_NOTICE, Subject() + " answers again");
}

void AdapterHealth::StatisticFailing(DWORD statistic, const Fault &fault, const char *file) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = statistics_.find(statistic);
    if (found != statistics_.end() && found->second == fault) {
        return;
    }
    if (found == statistics_.end()) {
        statistics_.emplace(statistic, fault);
        failingStatistics_.fetch_add(1);
    } else {
        found->second = fault;
    }
    std::string where = Subject() + " fails statistic " + StatisticText(statistic);
    if (file != nullptr) {
        where += std::string(" (") + file + ")";
    }
    WriteSystemLog(LOG_WARNING, where + ": " + DescribeFault(fault));
}

void AdapterHealth::Settled(DWORD statistic, bool answers) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = statistics_.find(statistic);
    if (found == statistics_.end()) {
        return;
    }
    statistics_.erase(found);
    failingStatistics_.fetch_sub(1);
    WriteSystemLog(LOG_NOTICE,
                   Subject() + (answers ? " answers statistic " : " no longer lists statistic ") +
                       StatisticText(statistic) + (answers ? " again" : ""));
}

}  // namespace nt

#pragma once

#include <atomic>
#include <mutex>

#include "migrator/RunReport.h"

namespace tarmig {

// The run's counts and its success flag, added to by every account job as
// its account ends; safe to use from several threads.
class RunTotals {
public:
    void addAccount(AccountReport::Status status, const ReportCounts& counts);
    // Cleared by every failure the engine reports.
    void markFailed() { failed_ = true; }
    bool succeeded() const { return !failed_; }
    // The accounts and counts so far (the rest of the value is left as is).
    RunReportTotals snapshot() const;

private:
    mutable std::mutex mutex_;
    RunReportTotals totals_;
    std::atomic<bool> failed_ = false;
};

}  // namespace tarmig

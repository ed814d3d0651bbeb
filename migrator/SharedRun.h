#pragma once

#include <atomic>
#include <ostream>

#include "migrator/PasswordReport.h"
#include "migrator/RunProgress.h"
#include "migrator/RunOutput.h"
#include "migrator/RunReport.h"
#include "migrator/RunTotals.h"

namespace tarmig {

// What the account jobs of a run share; each part is safe to use from
// several threads.
struct SharedRun {
    explicit SharedRun(std::ostream& log) : output(log) {}

    RunOutput output;
    // One line per provisioned account, on disk before the account is used.
    PasswordReport passwordReport;
    // The JSON Lines report, when one is asked for.
    RunReport report;
    RunTotals totals;
    // What the status line shows.
    RunProgress progress;
    // Set when the run must end: the jobs that run stop at their next message.
    std::atomic<bool> stopping = false;
};

}  // namespace tarmig

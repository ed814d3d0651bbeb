#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "migrator/ErrorLines.h"
#include "migrator/HeldLog.h"

namespace tarmig {

class RunOutput;

// What one account job writes: lines for the console and the log as the
// engine's output operators write them, the log-only lines of its log()
// stream, the in-place message counter, and the record of the account's
// "Error: " lines for its report.
//
// Direct output goes out at once, as when one account runs at a time.
// Held output is kept and handed to the run whole by finish(), so accounts
// that run side by side never mix their lines; it has no counter, which
// would only flicker in a block printed after the fact.
class AccountOutput {
public:
    AccountOutput(RunOutput& run, bool held);
    AccountOutput(const AccountOutput&) = delete;
    AccountOutput& operator=(const AccountOutput&) = delete;

    // Console (unless quiet) and log, each flushed.
    AccountOutput& operator<<(const char* text);
    AccountOutput& operator<<(const std::string& text);
    AccountOutput& operator<<(int value);
    // The log only.
    std::ostream& log() { return log_; }
    // The console only, unless quiet.
    void console(const std::string& text);

    // In-place console counter "current/total"; returns its length (0 when
    // quiet or held).
    int printProgress(int current, int total);
    // Erases the shown characters and prints "current/total" in their place;
    // returns the new length.
    int replaceProgress(int shown, int current, int total);
    // Erases the last count characters of the console line.
    void clearOutput(int count);

    // Starts recording the "Error: " lines written to the log afresh.
    void startErrors() { errorLines_.start(); }
    std::vector<std::string> stopErrors() { return errorLines_.stop(); }

    // Held output: writes what was kept, under the domain's line where
    // needed, and starts empty. Direct output: nothing to do.
    void finish(const std::string& domain);

private:
    RunOutput& run_;
    const bool held_;
    HeldLog heldLog_;
    std::string heldConsole_;
    ErrorLines errorLines_;
    std::ostream log_;
};

}  // namespace tarmig

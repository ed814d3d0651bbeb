#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tarmig {

// Counts of one account or of the whole run.
struct ReportCounts {
    int foldersMigrated = 0;
    int foldersFailed = 0;
    long long messagesAppended = 0;
    long long messagesFailed = 0;
    std::int64_t bytesSent = 0;
    // Store messages the target held already, so they were not sent again.
    long long messagesAlreadyPresent = 0;
    // Folders compared with the target after their account.
    int foldersVerified = 0;

    // What was counted between `since` and these counts.
    ReportCounts operator-(const ReportCounts& since) const {
        return {foldersMigrated - since.foldersMigrated,
                foldersFailed - since.foldersFailed,
                messagesAppended - since.messagesAppended,
                messagesFailed - since.messagesFailed,
                bytesSent - since.bytesSent,
                messagesAlreadyPresent - since.messagesAlreadyPresent,
                foldersVerified - since.foldersVerified};
    }
};

struct AccountReport {
    enum Status { Migrated, Skipped, Failed };
    std::string domain;
    std::string account;
    Status status = Migrated;
    ReportCounts counts;
    double seconds = 0;
    // The account's "Error: " lines as logged, without their line ends.
    std::vector<std::string> errors;
};

struct RunReportTotals {
    bool successful = true;
    int exitStatus = 0;
    double seconds = 0;
    int accountsMigrated = 0;
    int accountsSkipped = 0;
    int accountsFailed = 0;
    ReportCounts counts;
};

// One JSON object, without a line end, for the report file (JSON Lines).
std::string accountReportLine(const AccountReport& account);
std::string runReportLine(const RunReportTotals& run);

// The report file of a run, when one is asked for: each line is written and
// flushed whole, so a run that is killed keeps every line it finished. Jobs
// that run side by side write their lines under its lock.
class RunReport {
public:
    // nullptr (the default) writes nothing.
    void setStream(std::ostream* stream) { stream_ = stream; }
    bool enabled() const { return stream_ != nullptr; }
    void write(const std::string& line);

private:
    std::mutex mutex_;
    std::ostream* stream_ = nullptr;
};

}  // namespace tarmig

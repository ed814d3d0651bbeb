#include "migrator/RunReport.h"

#include <nlohmann/json.hpp>

namespace tarmig {

namespace {

// Store text (names, server answers in error lines) need not be valid UTF-8:
// invalid bytes become U+FFFD rather than ending the run.
std::string dumpLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

const char* statusName(AccountReport::Status status) {
    switch (status) {
        case AccountReport::Migrated: return "migrated";
        case AccountReport::Skipped: return "skipped";
        case AccountReport::Failed: return "failed";
    }
    return "failed";
}

nlohmann::ordered_json messages(const ReportCounts& counts) {
    return {{"appended", counts.messagesAppended},
            {"failed", counts.messagesFailed},
            {"already_present", counts.messagesAlreadyPresent}};
}

}  // namespace

std::string accountReportLine(const AccountReport& account) {
    nlohmann::ordered_json line;
    line["type"] = "account";
    line["domain"] = account.domain;
    line["account"] = account.account;
    line["status"] = statusName(account.status);
    line["folders"] = {{"migrated", account.counts.foldersMigrated}, {"failed", account.counts.foldersFailed}};
    line["messages"] = messages(account.counts);
    line["bytes"] = account.counts.bytesSent;
    line["seconds"] = account.seconds;
    line["errors"] = account.errors;
    return dumpLine(line);
}

std::string runReportLine(const RunReportTotals& run) {
    nlohmann::ordered_json line;
    line["type"] = "run";
    line["result"] = run.successful ? "successful" : "failed";
    line["exit_status"] = run.exitStatus;
    line["seconds"] = run.seconds;
    line["totals"]["accounts"] = {
        {"migrated", run.accountsMigrated}, {"skipped", run.accountsSkipped}, {"failed", run.accountsFailed}};
    line["totals"]["messages"] = messages(run.counts);
    line["totals"]["bytes"] = run.counts.bytesSent;
    return dumpLine(line);
}

void RunReport::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (stream_ != nullptr) *stream_ << line << '\n' << std::flush;
}

}  // namespace tarmig

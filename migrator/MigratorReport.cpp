#include <chrono>

#include "migrator/Migrator.h"

namespace tarmig {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void Migrator::beginAccount(const std::string& domain, const std::string& account) {
    accountOpen = true;
    openAccount = AccountReport{};
    openAccount.domain = domain;
    openAccount.account = account;
    accountStart = statistics.counts;
    accountStartTime = std::chrono::steady_clock::now();
    errorLines.start();
}

void Migrator::endAccount(AccountReport::Status status, const std::string& lastError) {
    if (!accountOpen) return;
    accountOpen = false;
    openAccount.status = status;
    openAccount.seconds = secondsSince(accountStartTime);
    openAccount.errors = errorLines.stop();
    if (!lastError.empty()) openAccount.errors.push_back(lastError);
    openAccount.counts = statistics.counts - accountStart;
    report.write(accountReportLine(openAccount));
}

void Migrator::writeRunReport(int exitStatus) {
    if (!report.enabled()) return;
    RunReportTotals run;
    run.successful = exitStatus == 0;
    run.exitStatus = exitStatus;
    run.seconds = secondsSince(startTime);
    run.accountsMigrated = statistics.accountsMigrated;
    run.accountsSkipped = statistics.accountsSkipped;
    run.accountsFailed = statistics.accountsFailed;
    run.counts = statistics.counts;
    report.write(runReportLine(run));
}

}  // namespace tarmig

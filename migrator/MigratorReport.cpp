#include <chrono>

#include "migrator/AccountOutput.h"
#include "migrator/Migrator.h"
#include "utils/ShownText.h"

namespace tarmig {

void Migrator::reportUnreadAccount(const std::string& domain, const std::string& account) {
    const std::string line = "Error: cannot migrate mailbox <" + zenqa::utils::shownText(account) + ">";
    // Beside running jobs the line goes out as a block of its own, under its domain.
    AccountOutput lines(shared.output, workers != nullptr);
    lines << line << "\n";
    lines.finish(domain);
    markFailed();
    AccountReport report;
    report.domain = domain;
    report.account = account;
    report.status = AccountReport::Failed;
    report.errors.push_back(line);
    shared.totals.addAccount(AccountReport::Failed, {});
    shared.progress.accountDone();
    shared.report.write(accountReportLine(report));
}

void Migrator::writeRunReport(int exitStatus) {
    if (!shared.report.enabled()) return;
    RunReportTotals run = shared.totals.snapshot();
    run.successful = exitStatus == 0;
    run.exitStatus = exitStatus;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
    shared.report.write(runReportLine(run));
}

}  // namespace tarmig

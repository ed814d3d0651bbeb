#include "migrator/RunTotals.h"

namespace tarmig {

void RunTotals::addAccount(AccountReport::Status status, const ReportCounts& counts) {
    std::lock_guard lock(mutex_);
    switch (status) {
        case AccountReport::Migrated: ++totals_.accountsMigrated; break;
        case AccountReport::Skipped: ++totals_.accountsSkipped; break;
        case AccountReport::Failed: ++totals_.accountsFailed; break;
    }
    ReportCounts& sum = totals_.counts;
    sum.foldersMigrated += counts.foldersMigrated;
    sum.foldersFailed += counts.foldersFailed;
    sum.messagesAppended += counts.messagesAppended;
    sum.messagesFailed += counts.messagesFailed;
    sum.bytesSent += counts.bytesSent;
    sum.messagesAlreadyPresent += counts.messagesAlreadyPresent;
    sum.foldersVerified += counts.foldersVerified;
}

RunReportTotals RunTotals::snapshot() const {
    std::lock_guard lock(mutex_);
    return totals_;
}

}  // namespace tarmig

#include <chrono>
#include <cstdio>
#include <string>

#include "migrator/AccountLine.h"
#include "migrator/Migrator.h"

namespace tarmig {

Migrator& Migrator::operator<<(const char* text) {
    shared.output.write(text);
    return *this;
}

Migrator& Migrator::operator<<(const std::string& text) { return *this << text.c_str(); }

Migrator& Migrator::operator<<(int value) { return *this << std::to_string(value); }

void Migrator::writeSummary() {
    using std::to_string;
    const RunReportTotals totals = shared.totals.snapshot();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
    double megabytes = static_cast<double>(totals.counts.bytesSent) / 1048576.0;
    char timing[128];
    std::snprintf(timing, sizeof timing, "%.1f s, %.2f MB/s", seconds, seconds > 0 ? megabytes / seconds : 0.0);
    *this << "Info: accounts migrated: " << to_string(totals.accountsMigrated)
          << ", skipped (already existing): " << to_string(totals.accountsSkipped)
          << ", failed: " << to_string(totals.accountsFailed) << "\n"
          << "Info: folders migrated: " << to_string(totals.counts.foldersMigrated)
          << ", failed: " << to_string(totals.counts.foldersFailed) << "\n"
          << "Info: messages appended: " << to_string(totals.counts.messagesAppended)
          << ", failed: " << to_string(totals.counts.messagesFailed) << "\n"
          << (settings.incremental
                  ? "Info: messages already present: " + to_string(totals.counts.messagesAlreadyPresent) + "\n"
                  : "")
          << (settings.verify ? "Info: folders verified: " + to_string(totals.counts.foldersVerified) + "\n" : "")
          << "Info: bytes sent: " << to_string(totals.counts.bytesSent) << " (" << formatSize(totals.counts.bytesSent)
          << ")\n"
          << "Info: elapsed: " << timing << "\n";
}

}  // namespace tarmig

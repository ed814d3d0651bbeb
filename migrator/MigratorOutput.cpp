#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "migrator/Migrator.h"
#include "migrator/SizeText.h"

namespace tarmig {

Migrator& Migrator::operator<<(const char* text) {
    if (!quiet) std::cout << text << std::flush;
    output << text << std::flush;
    return *this;
}

Migrator& Migrator::operator<<(const std::string& text) { return *this << text.c_str(); }

Migrator& Migrator::operator<<(int value) { return *this << std::to_string(value); }

namespace {

// Backspace, space, backspace for each character: the terminal erases them.
std::string erasure(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "\b \b";
    return text;
}

}  // namespace

int Migrator::printProgress(int current, int total, bool quiet) {
    return replaceProgress(0, current, total, quiet);
}

// One write per update: a console write per message costs more than the erase.
int Migrator::replaceProgress(int shown, int current, int total, bool quiet) {
    if (quiet) return 0;
    std::string text = erasure(shown);
    const std::size_t erased = text.size();
    text += std::to_string(current);
    text += '/';
    text += std::to_string(total);
    std::cout << text << std::flush;
    return static_cast<int>(text.size() - erased);
}

void Migrator::clearOutput(int count, bool quiet) {
    if (quiet || count <= 0) return;
    std::cout << erasure(count) << std::flush;
}

std::string Migrator::formatSize(std::int64_t size) { return sizeText(size); }

void Migrator::writeSummary() {
    using std::to_string;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
    double megabytes = static_cast<double>(statistics.counts.bytesSent) / 1048576.0;
    char timing[128];
    std::snprintf(timing, sizeof timing, "%.1f s, %.2f MB/s", seconds, seconds > 0 ? megabytes / seconds : 0.0);
    *this << "Info: accounts migrated: " << to_string(statistics.accountsMigrated)
          << ", skipped (already existing): " << to_string(statistics.accountsSkipped)
          << ", failed: " << to_string(statistics.accountsFailed) << "\n"
          << "Info: folders migrated: " << to_string(statistics.counts.foldersMigrated)
          << ", failed: " << to_string(statistics.counts.foldersFailed) << "\n"
          << "Info: messages appended: " << to_string(statistics.counts.messagesAppended)
          << ", failed: " << to_string(statistics.counts.messagesFailed) << "\n"
          << "Info: bytes sent: " << to_string(statistics.counts.bytesSent) << " (" << formatSize(statistics.counts.bytesSent)
          << ")\n"
          << "Info: elapsed: " << timing << "\n";
}

}  // namespace tarmig

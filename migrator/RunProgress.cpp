#include "migrator/RunProgress.h"

namespace tarmig {

void RunProgress::setTotals(int accounts, std::optional<std::int64_t> bytes) {
    accountsTotal_.store(accounts, std::memory_order_relaxed);
    totalBytes_.store(bytes ? *bytes : -1, std::memory_order_relaxed);
}

RunProgress::Snapshot RunProgress::snapshot() const {
    Snapshot now;
    now.accountsDone = accountsDone_.load(std::memory_order_relaxed);
    now.accountsTotal = accountsTotal_.load(std::memory_order_relaxed);
    now.messages = messages_.load(std::memory_order_relaxed);
    now.bytes = bytes_.load(std::memory_order_relaxed);
    now.bytesPresent = bytesPresent_.load(std::memory_order_relaxed);
    const std::int64_t total = totalBytes_.load(std::memory_order_relaxed);
    if (total >= 0) now.totalBytes = total;
    return now;
}

}  // namespace tarmig

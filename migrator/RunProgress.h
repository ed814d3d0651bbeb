#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace tarmig {

// What a run has done so far, counted by the account jobs as they go and
// read by the status line from another thread.
class RunProgress {
public:
    struct Snapshot {
        int accountsDone = 0;
        int accountsTotal = 0;
        std::int64_t messages = 0;
        std::int64_t bytes = 0;
        // Bytes of store messages an incremental run found on the target:
        // done, though not sent.
        std::int64_t bytesPresent = 0;
        // The account sizes of the info files added up; none when any is missing.
        std::optional<std::int64_t> totalBytes;
    };

    void setTotals(int accounts, std::optional<std::int64_t> bytes);
    void accountDone() { accountsDone_.fetch_add(1, std::memory_order_relaxed); }
    void messageSent(std::int64_t bytes) {
        messages_.fetch_add(1, std::memory_order_relaxed);
        bytes_.fetch_add(bytes, std::memory_order_relaxed);
    }
    void messagesPresent(std::int64_t bytes) { bytesPresent_.fetch_add(bytes, std::memory_order_relaxed); }
    Snapshot snapshot() const;

private:
    std::atomic<int> accountsDone_{0};
    std::atomic<int> accountsTotal_{0};
    std::atomic<std::int64_t> messages_{0};
    std::atomic<std::int64_t> bytes_{0};
    std::atomic<std::int64_t> bytesPresent_{0};
    // -1 while unknown.
    std::atomic<std::int64_t> totalBytes_{-1};
};

}  // namespace tarmig

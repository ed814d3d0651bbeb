#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "migrator/AccountJob.h"
#include "store/Mailbox.h"

namespace tarmig {

struct SharedRun;

// Threads that run account jobs side by side. The walk hands each account
// with its job through a small bounded queue, so it reads the store only a
// little ahead of the jobs. The first failure that ends the run sets the
// run's stop flag: the jobs that run stop at their next message, and those
// still queued are reported as not begun.
class AccountWorkers {
public:
    AccountWorkers(unsigned count, SharedRun& run);
    // Waits for the jobs, as finish() does.
    ~AccountWorkers();
    AccountWorkers(const AccountWorkers&) = delete;
    AccountWorkers& operator=(const AccountWorkers&) = delete;

    // Queues the account (whose lines go to its job's log), waiting while the
    // queue is full. False, with nothing queued, once the run is stopping.
    bool hand(std::unique_ptr<AccountJob> job, std::unique_ptr<Mailbox> mailbox);
    // Lets every queued job run out and waits for the threads to end.
    void finish();
    // The first failure that ended the run, after finish(); null when none.
    std::exception_ptr failure() const { return failure_; }
    // Whether that failure was an answer of the target not whole within the time-out.
    bool failureTimedOut() const { return failureTimedOut_; }

private:
    struct Account {
        std::unique_ptr<AccountJob> job;
        std::unique_ptr<Mailbox> mailbox;
    };

    void work();
    void runOne(Account& account);

    SharedRun& run_;
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Account> queue_;
    bool closed_ = false;
    std::exception_ptr failure_;
    bool failureTimedOut_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tarmig

#include "migrator/AccountWorkers.h"

#include "migrator/SharedRun.h"

namespace tarmig {

AccountWorkers::AccountWorkers(unsigned count, SharedRun& run) : run_(run), capacity_(count) {
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
}

AccountWorkers::~AccountWorkers() { finish(); }

bool AccountWorkers::hand(std::unique_ptr<AccountJob> job, std::unique_ptr<Mailbox> mailbox) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < capacity_ || run_.stopping; });
    if (run_.stopping) return false;
    queue_.push_back({std::move(job), std::move(mailbox)});
    changed_.notify_all();
    return true;
}

void AccountWorkers::finish() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
}

void AccountWorkers::work() {
    for (;;) {
        Account account;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty() || closed_; });
            if (queue_.empty()) return;
            account = std::move(queue_.front());
            queue_.pop_front();
        }
        changed_.notify_all();
        runOne(account);
    }
}

void AccountWorkers::runOne(Account& account) {
    if (run_.stopping) {
        account.job->abandon(*account.mailbox);
        return;
    }
    try {
        account.job->run(*account.mailbox);
    } catch (...) {
        std::lock_guard lock(mutex_);
        if (!failure_) {
            failure_ = std::current_exception();
            failureTimedOut_ = account.job->targetTimedOut();
        }
        run_.stopping = true;
        changed_.notify_all();
    }
}

}  // namespace tarmig

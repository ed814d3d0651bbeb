#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace tarmig {

// The run's password report file: one line per provisioned account. The file
// is created, readable by its owner only, before the first account is
// provisioned, and every line is on disk before the account it names is
// used, so a run that dies leaves the password of each account it created.
// Account jobs running side by side share it: each call holds its lock.
class PasswordReport {
public:
    PasswordReport() = default;
    ~PasswordReport();
    PasswordReport(const PasswordReport&) = delete;
    PasswordReport& operator=(const PasswordReport&) = delete;

    // Where the report goes; nothing is created before open() or add().
    void setPath(std::string path);
    const std::string& path() const { return path_; }

    // Creates the file, or opens an existing one for appending (a run that
    // started in the same second), narrowed to owner-only. Returns "" on
    // success, otherwise why not.
    std::string open();
    // Appends one line and flushes it to disk; "" on success, otherwise why not.
    std::string add(const std::string& line);
    // Whether open() or add() has failed: a run that ends for that ends for a
    // reason of its own, not the target's.
    bool failed() const { return failed_; }

private:
    std::string openFile();
    std::string writeLine(const std::string& line);

    std::mutex mutex_;
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> failed_ = false;
};

}  // namespace tarmig

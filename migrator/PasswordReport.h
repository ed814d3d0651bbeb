#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>

namespace tarmig {

// The run's password report file: one line per provisioned account. The file
// is created, readable by its owner only, before the first account is
// provisioned, and every line is on disk before the account it names is
// used, so a run that dies leaves the password of each account it created.
// Account jobs running side by side share it: each call holds its lock, and
// the file's own lock keeps out another run writing to the same file.
class PasswordReport {
public:
    // A line written ahead of the act it reports, before its outcome is
    // known. Until it is kept or taken back the report stays locked, so no
    // other line can follow it; a handle dropped without either keeps it.
    class Ahead {
    public:
        Ahead(const Ahead&) = delete;
        Ahead& operator=(const Ahead&) = delete;
        ~Ahead() { keep(); }

        // "" when the line is on disk, otherwise why not; nothing is held then.
        const std::string& why() const { return why_; }
        // Leaves the line in the report and lets the other writers go on.
        void keep();
        // Cuts the report back to where the line began, on disk as well;
        // "" on success, otherwise why not.
        std::string takeBack();

    private:
        friend class PasswordReport;
        Ahead(PasswordReport& report, std::unique_lock<std::mutex> lock, off_t start, std::string why);

        PasswordReport* report_;
        std::unique_lock<std::mutex> lock_;
        off_t start_;
        std::string why_;
    };

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
    // Appends one line and flushes it to disk as add() does, and holds the
    // report until the returned handle keeps the line or takes it back.
    Ahead addAhead(const std::string& line);
    // Whether writing the report has failed: a run that ends for that ends
    // for a reason of its own, not the target's.
    bool failed() const { return failed_; }

private:
    std::string openFile();
    std::string writeLine(const std::string& line);
    std::string lockFile();
    void unlockFile();

    std::mutex mutex_;
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> failed_ = false;
};

}  // namespace tarmig

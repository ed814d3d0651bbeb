#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace tarmig {

class HeldLog;
class StatusLine;

// The run's console and log, shared by the walk and the account jobs. Every
// write holds one lock, so lines from several threads never mix inside a
// write; an account that runs beside others hands in its lines whole.
class RunOutput {
public:
    explicit RunOutput(std::ostream& log) : log_(log), lockedLog_(*this) {}
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

    // Nothing goes to the console when quiet.
    void setQuiet(bool quiet) { quiet_ = quiet; }
    bool quiet() const { return quiet_; }
    // Console text goes through the terminal's status line while one is set
    // (nullptr: straight to standard output).
    void setStatusLine(StatusLine* line);
    // Whether the console shows in-place message counters: not when quiet,
    // and not below a status line, which counts for the whole run.
    bool countersShown() const { return !quiet_ && statusLine_ == nullptr; }

    // To the console unless quiet, then to the log; each flushed.
    void write(std::string_view text);
    void log(std::string_view text);
    void console(std::string_view text);
    // "\ndomain (" + name + ")\n", console and log.
    void writeDomainLine(const std::string& name);
    // An account's held console text and log text, one after the other with
    // nothing between, under its domain's line again when the last domain
    // line or account shown was of another domain.
    void writeAccount(const std::string& domain, const std::string& console, HeldLog& log);
    // The log as a stream buffer that takes the lock for each write: the
    // store reader writes its lines there.
    std::streambuf* logBuffer() { return &lockedLog_; }

private:
    class LockedLog : public std::streambuf {
    public:
        explicit LockedLog(RunOutput& run) : run_(run) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override;

    private:
        RunOutput& run_;
    };

    void writeDomainLineLocked(const std::string& name);
    void toConsole(std::string_view text);

    std::ostream& log_;
    LockedLog lockedLog_;
    std::mutex mutex_;
    bool quiet_ = false;
    StatusLine* statusLine_ = nullptr;
    std::string shownDomain_;
};

}  // namespace tarmig

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "imap/SimpleImapClient.h"
#include "migrator/ErrorLines.h"
#include "migrator/PasswordReport.h"
#include "migrator/RunOptions.h"
#include "migrator/RunReport.h"
#include "migrator/Shard.h"
#include "store/StoreProblem.h"
#include "utils/IMessage.h"

namespace tarmig {

class Domain;
class Folder;
class Mailbox;

// Replaces, in place, every character the target refuses in folder names.
void replaceForbiddenChars(std::string& text, char replacement);
// A name for the output with each NUL byte written as \0: a NUL would cut
// the line short where the output takes C strings.
std::string withVisibleNul(const std::string& text);

// The engine of a run: walks the selected domains and accounts of a store and
// lists them (print mode) or moves them to the target server (migrate mode).
// Everything it reports goes to the console and to its output stream (the log).
class Migrator {
public:
    // imapTimeoutSeconds bounds every wait for the target server; tests shorten it.
    explicit Migrator(std::ostream& output, unsigned imapTimeoutSeconds = 180);
    virtual ~Migrator() = default;
    Migrator(const Migrator&) = delete;
    Migrator& operator=(const Migrator&) = delete;

    // Reads the command line. Option names match whole arguments without
    // regard to case; values are taken verbatim.
    static RunOptions parseArgs(int argc, char** argv);

    void initialize(std::string storePath, std::string server, int port, std::string masterPassword, bool migrate,
                    bool force, std::string setPass, std::string forceSetPass, bool quiet, bool fixLineEnds);
    // TLS to the target; verifyPeer checks the certificate and the host name.
    void setTls(bool useTls, bool verifyPeer);
    // Whether the target's last failure was an answer not whole within the time-out.
    bool targetTimedOut() const { return client.timedOut(); }

    void migrateAll(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain);
    void migrateDomain(Domain& domain, const std::string& userMask);
    void migrateMailbox(Mailbox& mailbox);

    // Opens the master session; every failure ends the run (CGNetworkException).
    void connect(bool logoutAfterwards);
    // Creates the account and switches the session to it; false when it
    // already exists and -force is not given. An account the server neither
    // creates nor knows, or whose values cannot be sent, fails
    // (CGStoreException).
    bool setUser(Mailbox& mailbox);
    std::string generatePassword(int length);
    // Selects or creates each level of the folder's path on the target. A
    // name that cannot be sent, a refused CREATE, or a path at or below one
    // refused earlier in the account fails the folder (CGStoreException).
    void createFolder(Folder& folder);
    void appendMessage(Folder& folder, IMessage& message, bool useXAppend);
    // Only the accounts of this part of the store are listed or migrated.
    void setShard(const Shard& part) { shard = part; }
    // How many appends may await their answers at once on the target
    // connection (with LITERAL+); 1 waits for each answer.
    void setAppendWindow(unsigned window) { client.setAppendWindow(window); }

    // Console (unless quiet) and output, each flushed.
    Migrator& operator<<(const char* text);
    Migrator& operator<<(const std::string& text);
    Migrator& operator<<(int value);

    // In-place console counter "current/total"; returns its length.
    int printProgress(int current, int total, bool quiet);
    // Erases the shown characters and prints "current/total" in their place;
    // returns the new length.
    int replaceProgress(int shown, int current, int total, bool quiet);
    // Erases the last count characters of the console line.
    void clearOutput(int count, bool quiet);
    std::string formatSize(std::int64_t size);
    // Closing "Info: " lines of a migration: counts, bytes and speed.
    void writeSummary();
    // Where the report's lines go (nullptr, the default: no report). Each
    // account that ends in a migration adds its line.
    void setReport(std::ostream* stream) { report.setStream(stream); }
    // The report's last line: the run's totals and how it ended.
    void writeRunReport(int exitStatus);

    // Cleared by every failure the engine reports.
    bool succeeded = true;
    // One line per provisioned account, on disk before the account is used;
    // the driver gives its path.
    PasswordReport passwordReport;

private:
    struct Statistics {
        int accountsMigrated = 0;
        int accountsSkipped = 0;
        int accountsFailed = 0;
        ReportCounts counts;
    };

    // An append sent whose answer has not been read: the message's position
    // in its folder (from 1) and its size as sent.
    struct AppendInFlight {
        int position = 0;
        std::int64_t size = 0;
    };

    void transferAccount(Mailbox& mailbox);
    // An account's report line covers what happens between these two.
    void beginAccount(const std::string& domain, const std::string& account);
    void endAccount(AccountReport::Status status, const std::string& lastError = "");
    // Sends the message ahead of the answers still awaited and reports every
    // answer that must be read to make room for the next one.
    void sendMessage(const std::string& target, IMessage& message, int position, bool useXAppend);
    // Reads and reports the answers of all appends in flight, oldest first.
    void collectAppends();
    void collectOldestAppend();
    // Counts and reports one message's append result as appendMessage's
    // table says; a failure skips the message, a broken session ends the run.
    void settleAppend(const AppendInFlight& append, SimpleImapClient::ImapClientResult result);
    // Maps an append result to the engine's lines and exceptions.
    void checkAppendResult(SimpleImapClient::ImapClientResult result);
    void transferFolder(Mailbox& mailbox, Folder& folder, bool useXAppend);
    // Returns how many messages the folder's storage held.
    int transferMessages(Mailbox& mailbox, Folder& folder, int count, bool useXAppend);
    // Ends the console line and reports a folder or message that is skipped.
    void reportSkipped(const std::string& errorLine);
    // Reports and counts what the store could not hand out; returns how
    // many messages were lost.
    int reportProblems(const std::vector<StoreProblem>& problems);
    void switchUser(const std::string& username, const std::string& domain);
    // A fresh master session acting as the account being transferred.
    void reconnectAsCurrentUser();
    // Creates the password report file now; a report that cannot be written
    // ends the run, since an account made now would keep a password nobody knows.
    void openPasswordReport();
    void recordPassword(const std::string& line);

    bool migrate = false;
    bool force = false;
    bool fixLineEnds = true;
    std::string setPass;
    std::string forceSetPass;
    std::string storePath;
    std::string server;
    std::string masterPassword;
    int port = 0;
    bool quiet = false;
    Shard shard;
    SimpleImapClient client;
    // The log, seen through the recorder of the account's error lines.
    ErrorLines errorLines;
    std::ostream output;
    std::string currentUser;
    std::string currentDomain;
    bool accountFailed = false;   // the current account reported a failure
    bool identityLost = false;    // a reconnect could not switch back to the account
    std::vector<std::string> refusedFolders;  // target paths the server would not create, this account
    std::deque<AppendInFlight> appendsInFlight;  // oldest first, as in the client's queue
    Statistics statistics;
    RunReport report;
    // The account being reported: its names, and the statistics and time at its start.
    bool accountOpen = false;
    AccountReport openAccount;
    ReportCounts accountStart;  // the run's counts when the open account began
    std::chrono::steady_clock::time_point accountStartTime;
    std::chrono::steady_clock::time_point startTime = std::chrono::steady_clock::now();
};

}  // namespace tarmig

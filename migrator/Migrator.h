#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "imap/SimpleImapClient.h"
#include "migrator/JobSettings.h"
#include "migrator/RunOptions.h"
#include "migrator/SharedRun.h"
#include "migrator/Shard.h"

namespace tarmig {

class AccountWorkers;
class Domain;
class Mailbox;

// The engine of a run: walks the selected domains and accounts of a store and
// lists them (print mode) or hands each to an AccountJob that moves it to the
// target server (migrate mode), one at a time or several side by side.
// Everything it reports goes to the console and to its output stream (the log).
class Migrator {
public:
    // imapTimeoutSeconds bounds every wait for the target server; tests shorten it.
    explicit Migrator(std::ostream& output, unsigned imapTimeoutSeconds = 180);
    virtual ~Migrator();
    Migrator(const Migrator&) = delete;
    Migrator& operator=(const Migrator&) = delete;

    // Reads the command line. Option names match whole arguments without
    // regard to case; values are taken verbatim.
    static RunOptions parseArgs(int argc, char** argv);

    void initialize(std::string storePath, std::string server, int port, std::string masterPassword, bool migrate,
                    bool force, std::string setPass, std::string forceSetPass, bool quiet, bool fixLineEnds);
    // TLS to the target; verifyPeer checks the certificate and the host name.
    void setTls(bool useTls, bool verifyPeer);
    // Whether the failure that ended the run was an answer of the target not
    // whole within the time-out.
    bool targetTimedOut() const { return timedOut || client.timedOut(); }

    void migrateAll(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain);
    void migrateDomain(Domain& domain, const std::string& userMask);
    void migrateMailbox(Mailbox& mailbox);

    // Only the accounts of this part of the store are listed or migrated.
    void setShard(const Shard& part) { shard = part; }
    // How many appends may await their answers at once on each target
    // connection (with LITERAL+); 1 waits for each answer.
    void setAppendWindow(unsigned window) { settings.appendWindow = window; }
    // How many accounts are migrated at once, each on its own connection; 1
    // migrates them one after the other, with the console's message counter.
    void setJobs(unsigned count) { jobs = count < 1 ? 1 : count; }
    // Existing accounts are migrated into with only what the target lacks
    // (incremental), each account is compared with the target afterwards
    // (verify), or only compared, nothing written (verifyOnly).
    void setReconciliation(bool incremental, bool verify, bool verifyOnly) {
        settings.incremental = incremental;
        settings.verify = verify || verifyOnly;
        settings.verifyOnly = verifyOnly;
    }
    // A migration keeps a status line for the whole run below the console
    // text, on a terminal of this many columns (0, the default: none).
    void showStatusLine(unsigned width) { statusWidth = width; }

    // Console (unless quiet) and output, each flushed.
    Migrator& operator<<(const char* text);
    Migrator& operator<<(const std::string& text);
    Migrator& operator<<(int value);

    // Closing "Info: " lines of a migration: counts, bytes and speed.
    void writeSummary();
    // Where the report's lines go (nullptr, the default: no report). Each
    // account that ends in a migration adds its line.
    void setReport(std::ostream* stream) { shared.report.setStream(stream); }
    // The report's last line: the run's totals and how it ended.
    void writeRunReport(int exitStatus);

    // Whether no failure was reported; markFailed() clears it.
    bool succeeded() const { return shared.totals.succeeded(); }
    void markFailed() { shared.totals.markFailed(); }
    // One line per provisioned account, on disk before the account is used;
    // the driver gives its path.
    PasswordReport& passwordReport() { return shared.passwordReport; }

private:
    // The per-domain check: connect, log in and log out on the walk's own client.
    void checkTarget();
    // Reports an account the store could not hand out, with its report line.
    void reportUnreadAccount(const std::string& domain, const std::string& account);
    // Runs the walk with the accounts handed to jobs side by side.
    void migrateAllInParallel(const std::string& domainMask, const std::string& userMask,
                              const std::string& primaryDomain);
    // The accounts the run will take and their sizes, for the status line.
    void countAccounts(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain);
    void walk(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain);

    bool migrate = false;
    std::string storePath;
    Shard shard;
    unsigned jobs = 1;
    unsigned statusWidth = 0;
    JobSettings settings;
    SharedRun shared;
    // The walk's own stream to the log: the store reader writes there.
    std::ostream output;
    // The walk's client, for the per-domain check only.
    SimpleImapClient client;
    bool timedOut = false;
    // While accounts run side by side.
    std::unique_ptr<AccountWorkers> workers;
    std::chrono::steady_clock::time_point startTime = std::chrono::steady_clock::now();
};

}  // namespace tarmig

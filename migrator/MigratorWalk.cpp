#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>

#include "migrator/AccountJob.h"
#include "migrator/AccountLine.h"
#include "migrator/AccountWorkers.h"
#include "migrator/Migrator.h"
#include "migrator/StatusLine.h"
#include "migrator/TargetSession.h"
#include "store/CGException.h"
#include "store/Domain.h"
#include "store/Mailbox.h"
#include "store/Reader.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

namespace {

// Visits the items that first() and then next() yield until one says there
// are no more. A store failure of any step is reported and the walk asks for
// the next item, so one bad domain or account does not end it.
template <typename First, typename Next, typename Visit, typename Report>
void walkItems(First first, Next next, Visit visit, Report reportFailure) {
    bool started = false;
    bool more = true;
    while (more) {
        try {
            if (started) {
                more = next();
            } else {
                started = true;
                more = first();
            }
            if (more) visit();
        } catch (const CGStoreException&) {
            reportFailure();
        }
    }
}

// Ends the walk once the run is stopping: no further account is begun.
struct WalkStopped {};

}  // namespace

void Migrator::migrateAll(const std::string& domainMask, const std::string& userMask,
                          const std::string& primaryDomain) {
    std::unique_ptr<StatusLine> status;
    if (migrate && statusWidth > 0) {
        countAccounts(domainMask, userMask, primaryDomain);
        status = std::make_unique<StatusLine>(std::cout, shared.progress, statusWidth);
        shared.output.setStatusLine(status.get());
        status->start();
    }
    // The line goes before whatever ends the run is said.
    struct Remove {
        RunOutput& output;
        StatusLine* line;
        ~Remove() {
            if (line == nullptr) return;
            line->stop();
            output.setStatusLine(nullptr);
        }
    } remove{shared.output, status.get()};
    if (migrate && jobs > 1)
        migrateAllInParallel(domainMask, userMask, primaryDomain);
    else
        walk(domainMask, userMask, primaryDomain);
}

// A walk of the store that only counts: the status line's totals. What the
// store cannot hand out is reported by the walk that migrates.
void Migrator::countAccounts(const std::string& domainMask, const std::string& userMask,
                             const std::string& primaryDomain) {
    std::ostream discard(nullptr);
    Reader reader(discard);
    reader.initialize(storePath, primaryDomain);
    Domain domain(discard);
    Mailbox mailbox(discard);
    int accounts = 0;
    std::optional<std::int64_t> bytes = 0;
    auto count = [&] {
        if (!shard.contains(mailbox.username, domain.name)) return;
        ++accounts;
        char* end = nullptr;
        const long long size = std::strtoll(mailbox.size.c_str(), &end, 10);
        if (bytes && !mailbox.size.empty() && *end == '\0' && size >= 0)
            *bytes += size;
        else
            bytes.reset();
    };
    auto countDomain = [&] {
        walkItems([&] { return domain.getFirstMailbox(mailbox, userMask); },
                  [&] { return domain.getNextMailbox(mailbox, userMask); }, count, [] {});
    };
    walkItems([&] { return reader.getFirstDomain(domain, domainMask); },
              [&] { return reader.getNextDomain(domain, domainMask); }, countDomain, [] {});
    shared.progress.setTotals(accounts, bytes);
}

// A failure that ends the run, in the walk or in a job, stops the other jobs
// first; the run then ends with the first such failure, as with one job.
void Migrator::migrateAllInParallel(const std::string& domainMask, const std::string& userMask,
                                    const std::string& primaryDomain) {
    workers = std::make_unique<AccountWorkers>(jobs, shared);
    std::exception_ptr walkFailure;
    try {
        walk(domainMask, userMask, primaryDomain);
    } catch (const WalkStopped&) {
    } catch (...) {
        walkFailure = std::current_exception();
        shared.stopping = true;
    }
    workers->finish();
    std::exception_ptr failure = workers->failure();
    timedOut = timedOut || (failure && workers->failureTimedOut());
    workers.reset();
    if (failure) std::rethrow_exception(failure);
    if (walkFailure) std::rethrow_exception(walkFailure);
}

void Migrator::walk(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain) {
    Reader reader(output);
    reader.initialize(storePath, primaryDomain);
    Domain domain(output);
    walkItems([&] { return reader.getFirstDomain(domain, domainMask); },
              [&] { return reader.getNextDomain(domain, domainMask); }, [&] { migrateDomain(domain, userMask); },
              [&] {
                  *this << "Error: default domain not found, wrong path or corrupted CommuniGate store\n";
                  markFailed();
              });
}

void Migrator::migrateDomain(Domain& domain, const std::string& userMask) {
    if (migrate) checkTarget();
    shared.output.writeDomainLine(domain.name);
    Mailbox mailbox(output);
    // Another part's account is passed over as soon as its name is known, and
    // a failure to read it is that part's to report. A failure before a name
    // is known, or of a directory that cannot be opened (named like "x.sub"),
    // concerns accounts of every part.
    const bool sharded = shard.count > 1;
    auto ours = [&] {
        return mailbox.username.empty() || mailbox.username.ends_with(".sub") ||
               shard.contains(mailbox.username, domain.name);
    };
    auto fetch = [&](bool first) {
        if (sharded) mailbox.username.clear();
        return first ? domain.getFirstMailbox(mailbox, userMask) : domain.getNextMailbox(mailbox, userMask);
    };
    walkItems([&] { return fetch(true); }, [&] { return fetch(false); },
              [&] {
                  if (shard.contains(mailbox.username, domain.name)) migrateMailbox(mailbox);
              },
              [&] {
                  if (!ours()) return;
                  if (migrate) {
                      reportUnreadAccount(domain.name, mailbox.username);
                      return;
                  }
                  *this << "Error: cannot print mailbox <" << shownText(mailbox.username) << ">\n";
                  markFailed();
              });
}

void Migrator::migrateMailbox(Mailbox& mailbox) {
    if (!migrate) {
        *this << " + mailbox <" << shownText(mailbox.username) << ">, size: " << accountSize(mailbox);
        output << accountTime(std::time(nullptr)) << std::flush;
        shared.output.console("\n");
        return;
    }
    if (!workers) {
        AccountJob job(settings, shared, false);
        Mailbox account(mailbox, job.log());
        try {
            job.run(account);
        } catch (const CGNetworkException&) {
            timedOut = job.targetTimedOut();
            throw;
        }
        return;
    }
    auto job = std::make_unique<AccountJob>(settings, shared, true);
    auto account = std::make_unique<Mailbox>(mailbox, job->log());
    if (!workers->hand(std::move(job), std::move(account))) throw WalkStopped{};
}

void Migrator::checkTarget() {
    try {
        connectMaster(client, settings, output, true);
    } catch (const CGNetworkException&) {
        timedOut = client.timedOut();
        throw;
    }
}

}  // namespace tarmig

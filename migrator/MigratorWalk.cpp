#include <cstdlib>
#include <ctime>
#include <iostream>

#include "store/CGException.h"
#include "migrator/Migrator.h"
#include "store/Domain.h"
#include "store/Mailbox.h"
#include "store/Reader.h"

namespace tarmig {

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

}  // namespace

void Migrator::migrateAll(const std::string& domainMask, const std::string& userMask,
                          const std::string& primaryDomain) {
    Reader reader(output);
    reader.initialize(storePath, primaryDomain);
    Domain domain(output);
    walkItems([&] { return reader.getFirstDomain(domain, domainMask); },
              [&] { return reader.getNextDomain(domain, domainMask); }, [&] { migrateDomain(domain, userMask); },
              [&] {
                  *this << "Error: default domain not found, wrong path or corrupted CommuniGate store\n";
                  succeeded = false;
              });
}

void Migrator::migrateDomain(Domain& domain, const std::string& userMask) {
    if (migrate) connect(true);
    *this << "\ndomain (" << domain.name << ")\n";
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
                  if (!shard.contains(mailbox.username, domain.name)) return;
                  if (migrate) beginAccount(domain.name, mailbox.username);
                  migrateMailbox(mailbox);
              },
              [&] {
                  if (!ours()) return;
                  // An account that could not be read has its report line too.
                  if (migrate && !accountOpen) beginAccount(domain.name, mailbox.username);
                  *this << (migrate ? "Error: cannot migrate mailbox <" : "Error: cannot print mailbox <")
                        << mailbox.username << ">\n";
                  succeeded = false;
                  if (!migrate) return;
                  ++statistics.accountsFailed;
                  endAccount(AccountReport::Failed);
              });
}

void Migrator::migrateMailbox(Mailbox& mailbox) {
    std::time_t start = std::time(nullptr);
    std::int64_t size = std::strtoll(mailbox.size.c_str(), nullptr, 10);
    *this << " + mailbox <" << mailbox.username << ">, size: " << formatSize(size);
    output << ", time: " << std::ctime(&start) << std::flush;
    if (!quiet) std::cout << "\n" << std::flush;
    if (migrate) transferAccount(mailbox);
}

}  // namespace tarmig

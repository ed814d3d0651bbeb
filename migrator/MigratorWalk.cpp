#include <cstdlib>
#include <ctime>
#include <iostream>

#include "migrator/CGException.h"
#include "migrator/Migrator.h"
#include "store/Domain.h"
#include "store/Mailbox.h"
#include "store/Reader.h"

namespace tarmig {

void Migrator::migrateAll(const std::string& domainMask, const std::string& userMask,
                          const std::string& primaryDomain) {
    Reader reader(output);
    reader.initialize(storePath, primaryDomain);
    Domain domain(output);
    bool more = true;
    bool first = true;
    while (more) {
        try {
            if (first) {
                first = false;
                more = reader.getFirstDomain(domain, domainMask);
            } else {
                more = reader.getNextDomain(domain, domainMask);
            }
            if (more) migrateDomain(domain, userMask);
        } catch (const CGStoreException&) {
            *this << "Error: default domain not found, wrong path or corrupted CommuniGate store\n";
            succeeded = false;
        }
    }
}

void Migrator::migrateDomain(Domain& domain, const std::string& userMask) {
    if (migrate) connect(true);
    *this << "\ndomain (" << domain.name << ")\n";
    Mailbox mailbox(output);
    bool more = true;
    bool first = true;
    while (more) {
        try {
            if (first) {
                first = false;
                more = domain.getFirstMailbox(mailbox, userMask);
            } else {
                more = domain.getNextMailbox(mailbox, userMask);
            }
            if (more) migrateMailbox(mailbox);
        } catch (const CGStoreException&) {
            *this << (migrate ? "Error: cannot migrate mailbox <" : "Error: cannot print mailbox <")
                  << mailbox.username << ">\n";
            succeeded = false;
            if (migrate) ++statistics.accountsFailed;
        }
    }
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

#include "driver/Help.h"

namespace tarmig {

const char* const productNotice =
    "Moves CommuniGate Pro accounts, folders and messages into Vantrel over IMAP";

const char* getProductVersion() { return TARMIG_VERSION "-" TARMIG_BUILD_TAG; }

void printHelp(std::ostream& out) {
    out << "\n"
        << "Stalker CommuniGate Pro to Vantrel migration tool v" << getProductVersion() << "\n"
        << productNotice << "\n"
        << "Usage: tarmig -path PATH [options]\n"
        << "       -path      path to CommuniGate store,\n"
        << "                  typically \"/var/CommuniGate\", \"c:\\CommuniGate Files\", etc.\n"
        << "       -migrate   required for migration, leave out to print info\n"
        << "       -server    Vantrel hostname (required for migration)\n"
        << "       -port      IMAP port number (optional, default 143)\n"
        << "       -password  Vantrel master password (required for migration)\n"
        << "       -passwordFile   file whose first line is the master password, mode 0600 (instead of -password)\n"
        << "                  \"-password -\" reads the master password from standard input\n"
        << "       -domain    migrated/printed domain (required if user is specified)\n"
        << "       -user      migrated user (optional)\n"
        << "       -force     migrate users who already exist in Vantrel (optional)\n"
        << "       -incremental   with -migrate: migrate into existing users too, sending only the messages\n"
        << "                  Vantrel does not hold yet and setting their flags to the store's (optional)\n"
        << "       -verify    compare every folder with Vantrel after each user; without -migrate\n"
        << "                  only compare, changing nothing (needs -server and -password) (optional)\n"
        << "       -setPass   password for migrated user (optional), see readme.html\n"
        << "       -forceSetPass   password for migrated user (optional), see readme.html\n"
        << "       -primaryDomain  the name of primary domain (optional but recommended)\n"
        << "       -quiet     disable standard output (optional)\n"
        << "       -version   print the version and exit (optional)\n"
        << "       -help      print help and exit (optional)\n"
        << "       -ssl       connect over TLS, verifying the server's certificate (optional, default port 993)\n"
        << "       -insecure  with -ssl, accept a certificate that cannot be verified (optional)\n"
        << "       -timeout   seconds to wait for each answer of Vantrel (optional, default 180)\n"
        << "       -shard     K/N: only the accounts in part K of N of the store (optional), see the README\n"
        << "       -report    FILE: one JSON line per account and one for the run, appended (optional), see the README\n"
        << "       -window    appends sent ahead of their answers (optional, default 32, 1 waits for each)\n"
        << "       -jobs      accounts migrated at once, each on its own connection (optional, default 1, at most 64)\n"
        << "\n"
        << "Notes: CommuniGate must be stopped before migration!\n"
        << "       migration process is logged into tarmig_[datetime].log file\n"
        << "       exit status: 0 success, 1 something failed, 2 argument error, 3 Vantrel unusable (run ended early)\n"
        << "\n"
        << "For more details, see readme.html\n"
        << "\n";
    out.flush();
}

}  // namespace tarmig

#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

#include "driver/Help.h"
#include "driver/RunFiles.h"
#include "store/CGException.h"
#include "migrator/Migrator.h"

namespace {

// Exit statuses: the run's outcome, so scripts need not parse the log.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace tarmig;

    std::string path, domain, user, password, setPass, forceSetPass, server, primaryDomain, unknownArgument;
    int port = 0;
    bool migrate = false, force = false, quiet = false, help = false, version = false, fixLineEnds = true;
    bool useTls = false, insecure = false;
    int timeoutSeconds = 0;
    int window = 0;
    Migrator::parseArgs(argc, argv, path, domain, user, password, setPass, forceSetPass, server, port, primaryDomain,
                        migrate, force, quiet, help, version, fixLineEnds, useTls, insecure, unknownArgument,
                        timeoutSeconds, window);

    if (help || argc == 1) {
        printHelp(std::cout);
        return exitSuccess;
    }
    if (version) {
        std::cout << "tarmig " << getProductVersion() << "\n";
        return exitSuccess;
    }
    if (!unknownArgument.empty()) {
        std::cout << "Argument error: unknown option " << unknownArgument << ", for help use \"-help\"\n";
        return exitUsage;
    }
    if (path.empty() || (migrate && (server.empty() || password.empty()))) {
        std::cout << "Argument error: missing required command line arguments, for help use \"-help\"\n";
        return exitUsage;
    }
    if (!user.empty() && domain.empty()) {
        std::cout << "Argument error: unknown domain for user <" << user << ">\n";
        return exitUsage;
    }
    if (timeoutSeconds < 1) {
        std::cout << "Argument error: -timeout needs a whole number of seconds, at least 1, for help use \"-help\"\n";
        return exitUsage;
    }
    if (window < 1) {
        std::cout << "Argument error: -window needs a whole number of appends, at least 1, for help use \"-help\"\n";
        return exitUsage;
    }
    std::string hostName;
    bool primaryGiven = !primaryDomain.empty();
    if (!primaryGiven) {
        hostName = getHostname();
        primaryDomain = hostName;
    }
    if (initSockets() != 0) {
        std::cout << "Error: socket initialization failed" << std::flush;
        return exitUsage;
    }

    std::time_t startTime = std::time(nullptr);
    std::string stamp = formatRunStamp(startTime);
    std::ofstream logFile;
    std::ostream* output = &logFile;
    if (!openPrivateFile(logFile, "./tarmig_" + stamp + ".log")) {
        output = &std::clog;
        quiet = true;
    }
    if (user.empty()) {
        setPass.clear();
        forceSetPass.clear();
    }

    bool failed = false;
    {
        Migrator migrator(*output, static_cast<unsigned>(timeoutSeconds));
        migrator.initialize(path, server, port, password, migrate, force, setPass, forceSetPass, quiet, fixLineEnds);
        migrator.setTls(useTls, !insecure);
        migrator.setAppendWindow(static_cast<unsigned>(window));
        // Created when the first account is about to be provisioned.
        migrator.passwordReport.setPath("./tarmig_" + stamp + ".pass");
        migrator << "\n"
                 << "Stalker CommuniGate Pro to Vantrel migration tool " << getProductVersion() << "\n"
                 << productNotice << "\n"
                 << "\n"
                 << "CommuniGate path: \"" << path << "\"\n";

        std::string domainMask = domain.empty() ? "*" : domain;
        std::string userMask = user.empty() ? "*" : user;
        if (!migrate) {
            try {
                migrator.migrateAll(domainMask, userMask, primaryDomain);
            } catch (const CGException& e) {
                failed = true;
                if (!quiet) std::cout << "\nError: " << e.what() << "\n" << std::flush;
            }
            migrator << "\n";
        } else {
            migrator << "Vantrel hostname: " << server << ":" << port << "\n"
                     << "Start time: " << std::ctime(&startTime)
                     << "Info: domains to migrate (mask): " << domainMask << "\n"
                     << "Info: users to migrate (mask): " << userMask << "\n";
            if (primaryGiven)
                migrator << "Info: primary domain: " << primaryDomain << "\n";
            else
                migrator << "Info: primary domain is not specified, the hostname is used instead: " << hostName << "\n";
            if (useTls && insecure)
                migrator << "Warning: the server's TLS certificate is not verified (-insecure)\n";
            try {
                migrator.migrateAll(domainMask, userMask, primaryDomain);
            } catch (const CGNetworkException& e) {
                migrator.succeeded = false;
                if (migrator.targetTimedOut())
                    migrator << "Network error: Vantrel did not answer within " << timeoutSeconds
                             << " seconds (-timeout)\n";
                migrator << "\nError: " << e.what();
            } catch (const CGException& e) {
                migrator.succeeded = false;
                if (!quiet) std::cout << "\nError: " << e.what() << "\n" << std::flush;
            }
            std::time_t finishTime = std::time(nullptr);
            migrator << "\n";
            migrator.writeSummary();
            migrator << "Finish time: " << std::ctime(&finishTime) << "\n"
                     << "Result: migration " << (migrator.succeeded ? "successful\n" : "failed\n");
        }

        if (!migrator.succeeded) failed = true;
    }
    return failed ? exitFailure : exitSuccess;
}

#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

#include "driver/Help.h"
#include "driver/MasterPassword.h"
#include "driver/RunFiles.h"
#include "store/CGException.h"
#include "migrator/Migrator.h"
#include "utils/ShownText.h"

namespace {

// Exit statuses: the run's outcome, so scripts need not parse the log.
constexpr int exitSuccess = 0;
// The run went to its end, but something in it failed.
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
// The run ended early because the target could not be used: worth trying
// again later, where a failure of the store's data is not.
constexpr int exitTargetUnusable = 3;

// The width of the terminal on standard output; 80 when it does not say.
unsigned terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarmig;
    using zenqa::utils::shownText;

    RunOptions options = Migrator::parseArgs(argc, argv);
    // The run reads these often; the names keep the checks below short.
    const std::string& path = options.path;
    const std::string& domain = options.domain;
    const std::string& user = options.user;
    const std::string& server = options.server;
    std::string& primaryDomain = options.primaryDomain;
    bool& quiet = options.quiet;

    if (options.help || argc == 1) {
        printHelp(std::cout);
        return exitSuccess;
    }
    if (options.version) {
        std::cout << "tarmig " << getProductVersion() << "\n";
        return exitSuccess;
    }
    if (!options.unknownArgument.empty()) {
        std::cout << "Argument error: unknown option " << options.unknownArgument << ", for help use \"-help\"\n";
        return exitUsage;
    }
    if (!options.optionWithoutValue.empty()) {
        std::cout << "Argument error: option " << options.optionWithoutValue << " needs a value, for help use \"-help\"\n";
        return exitUsage;
    }
    const bool passwordGiven = !options.password.empty() || !options.passwordFile.empty();
    // -verify alone compares a migration done earlier: it needs the target as a migration does.
    const bool verifyOnly = options.verify && !options.migrate;
    if (verifyOnly) options.migrate = true;
    if (path.empty() || (options.migrate && (server.empty() || !passwordGiven))) {
        std::cout << "Argument error: missing required command line arguments, for help use \"-help\"\n";
        return exitUsage;
    }
    if (!user.empty() && domain.empty()) {
        std::cout << "Argument error: unknown domain for user <" << user << ">\n";
        return exitUsage;
    }
    if (options.timeoutSeconds < 1) {
        std::cout << "Argument error: -timeout needs a whole number of seconds, at least 1, for help use \"-help\"\n";
        return exitUsage;
    }
    if (options.window < 1) {
        std::cout << "Argument error: -window needs a whole number of appends, at least 1, for help use \"-help\"\n";
        return exitUsage;
    }
    if (options.jobs < 1) {
        std::cout << "Argument error: -jobs needs a whole number of accounts from 1 to 64, for help use \"-help\"\n";
        return exitUsage;
    }
    Shard shard;
    if (options.shard && !parseShard(*options.shard, shard)) {
        std::cout << "Argument error: -shard needs K/N, whole numbers with 1 <= K <= N, for help use \"-help\"\n";
        return exitUsage;
    }
    std::string password;
    if (options.migrate) {
        std::string error;
        password = masterPassword(options, error);
        if (!error.empty()) {
            std::cout << error << "\n";
            return exitUsage;
        }
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

    // Scripts rely on the report: a run that cannot write it does not start.
    std::ofstream reportFile;
    if (options.migrate && !options.report.empty() && !openPrivateFile(reportFile, options.report)) {
        std::cout << "Argument error: cannot create the report file \"" << options.report << "\"\n";
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
        options.setPass.clear();
        options.forceSetPass.clear();
    }

    bool failed = false;
    bool targetUnusable = false;
    int exitStatus = exitSuccess;
    {
        Migrator migrator(*output, static_cast<unsigned>(options.timeoutSeconds));
        migrator.initialize(path, server, options.port, password, options.migrate, options.force,
                            options.setPass, options.forceSetPass, quiet, options.fixLineEnds);
        migrator.setTls(options.useTls, !options.insecure);
        migrator.setAppendWindow(static_cast<unsigned>(options.window));
        migrator.setJobs(static_cast<unsigned>(options.jobs));
        migrator.setReconciliation(options.incremental, options.verify, verifyOnly);
        if (!quiet && ::isatty(STDOUT_FILENO) == 1) migrator.showStatusLine(terminalColumns());
        migrator.setShard(shard);
        if (reportFile.is_open()) migrator.setReport(&reportFile);
        // Created when the first account is about to be provisioned.
        migrator.passwordReport().setPath("./tarmig_" + stamp + ".pass");
        migrator << "\n"
                 << "Stalker CommuniGate Pro to Vantrel migration tool " << getProductVersion() << "\n"
                 << productNotice << "\n"
                 << "\n"
                 << "CommuniGate path: \"" << shownText(path) << "\"\n";
        if (shard.count > 1)
            migrator << "Info: accounts of part " << std::to_string(shard.index) << " of "
                     << std::to_string(shard.count) << " only (-shard " << *options.shard << ")\n";

        std::string domainMask = domain.empty() ? "*" : domain;
        std::string userMask = user.empty() ? "*" : user;
        if (!options.migrate) {
            try {
                migrator.migrateAll(domainMask, userMask, primaryDomain);
            } catch (const CGException& e) {
                failed = true;
                if (!quiet) std::cout << "\nError: " << e.what() << "\n" << std::flush;
            }
            migrator << "\n";
        } else {
            migrator << "Vantrel hostname: " << shownText(server) << ":" << options.port << "\n"
                     << "Start time: " << std::ctime(&startTime)
                     << "Info: domains to migrate (mask): " << shownText(domainMask) << "\n"
                     << "Info: users to migrate (mask): " << shownText(userMask) << "\n";
            if (primaryGiven)
                migrator << "Info: primary domain: " << shownText(primaryDomain) << "\n";
            else
                migrator << "Info: primary domain is not specified, the hostname is used instead: "
                         << shownText(hostName) << "\n";
            if (options.useTls && options.insecure)
                migrator << "Warning: the server's TLS certificate is not verified (-insecure)\n";
            try {
                migrator.migrateAll(domainMask, userMask, primaryDomain);
            } catch (const CGNetworkException& e) {
                migrator.markFailed();
                // Only a password report that cannot be written ends the run for a reason of our own.
                targetUnusable = !migrator.passwordReport().failed();
                if (migrator.targetTimedOut())
                    migrator << "Network error: Vantrel did not answer within " << options.timeoutSeconds
                             << " seconds (-timeout)\n";
                migrator << "\nError: " << e.what();
            } catch (const CGException& e) {
                migrator.markFailed();
                if (!quiet) std::cout << "\nError: " << e.what() << "\n" << std::flush;
            }
            std::time_t finishTime = std::time(nullptr);
            migrator << "\n";
            migrator.writeSummary();
            migrator << "Finish time: " << std::ctime(&finishTime) << "\n"
                     << "Result: migration " << (migrator.succeeded() ? "successful\n" : "failed\n");
        }

        if (!migrator.succeeded()) failed = true;
        exitStatus = targetUnusable ? exitTargetUnusable : failed ? exitFailure : exitSuccess;
        migrator.writeRunReport(exitStatus);
    }
    return exitStatus;
}

#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

namespace tarmig {

class Domain;
class Mailbox;

// The engine of a run: walks the selected domains and accounts of a store and
// lists them (print mode) or moves them to the target server (migrate mode).
// Everything it reports goes to the console and to its output stream (the log).
class Migrator {
public:
    explicit Migrator(std::ostream& output);
    virtual ~Migrator() = default;
    Migrator(const Migrator&) = delete;
    Migrator& operator=(const Migrator&) = delete;

    // Reads the command line into the caller's variables. Option names match
    // whole arguments without regard to case; values are taken verbatim.
    static void parseArgs(int argc, char** argv, std::string& path, std::string& domain, std::string& user,
                          std::string& password, std::string& setPass, std::string& forceSetPass,
                          std::string& server, int& port, std::string& primaryDomain, bool& migrate,
                          bool& force, bool& quiet, bool& help, bool& fixLineEnds);

    void initialize(std::string storePath, std::string server, int port, std::string masterPassword, bool migrate,
                    bool force, std::string setPass, std::string forceSetPass, bool quiet, bool fixLineEnds);

    void migrateAll(const std::string& domainMask, const std::string& userMask, const std::string& primaryDomain);
    void migrateDomain(Domain& domain, const std::string& userMask);
    void migrateMailbox(Mailbox& mailbox);

    // Console (unless quiet) and output, each flushed.
    Migrator& operator<<(const char* text);
    Migrator& operator<<(const std::string& text);
    Migrator& operator<<(int value);

    // In-place console counter "current/total"; returns its length.
    int printProgress(int current, int total, bool quiet);
    // Erases the last count characters of the console line.
    void clearOutput(int count, bool quiet);
    std::string formatSize(std::int64_t size);

    // Cleared by every failure the engine reports.
    bool succeeded = true;
    // One line per provisioned account; the driver saves it to the .pass file.
    std::ostringstream passwordReport;

private:
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
    std::ostream& output;
};

}  // namespace tarmig

#include "migrator/Migrator.h"

#include <utility>

#include "migrator/AccountWorkers.h"

namespace tarmig {

Migrator::Migrator(std::ostream& output, unsigned imapTimeoutSeconds)
    : shared(output), output(shared.output.logBuffer()), client(imapTimeoutSeconds) {
    settings.timeoutSeconds = imapTimeoutSeconds;
}

Migrator::~Migrator() = default;

void Migrator::initialize(std::string storePath, std::string server, int port, std::string masterPassword,
                          bool migrate, bool force, std::string setPass, std::string forceSetPass, bool quiet,
                          bool fixLineEnds) {
    this->storePath = std::move(storePath);
    settings.server = std::move(server);
    settings.port = port;
    settings.masterPassword = std::move(masterPassword);
    this->migrate = migrate;
    settings.force = force;
    settings.setPass = std::move(setPass);
    settings.forceSetPass = std::move(forceSetPass);
    shared.output.setQuiet(quiet);
    settings.fixLineEnds = fixLineEnds;
}

void Migrator::setTls(bool useTls, bool verifyPeer) {
    settings.useTls = useTls;
    settings.verifyPeer = verifyPeer;
    client.setTls(useTls, verifyPeer);
}

}  // namespace tarmig

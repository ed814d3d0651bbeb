#include "migrator/Migrator.h"

#include <utility>

namespace tarmig {

Migrator::Migrator(std::ostream& output, unsigned imapTimeoutSeconds) : client(imapTimeoutSeconds), errorLines(output.rdbuf()), output(&errorLines) {}

void Migrator::initialize(std::string storePath, std::string server, int port, std::string masterPassword,
                          bool migrate, bool force, std::string setPass, std::string forceSetPass, bool quiet,
                          bool fixLineEnds) {
    this->storePath = std::move(storePath);
    this->server = std::move(server);
    this->port = port;
    this->masterPassword = std::move(masterPassword);
    this->migrate = migrate;
    this->force = force;
    this->setPass = std::move(setPass);
    this->forceSetPass = std::move(forceSetPass);
    this->quiet = quiet;
    this->fixLineEnds = fixLineEnds;
}

void Migrator::setTls(bool useTls, bool verifyPeer) { client.setTls(useTls, verifyPeer); }

}  // namespace tarmig

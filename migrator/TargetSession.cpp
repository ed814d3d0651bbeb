#include "migrator/TargetSession.h"

#include "migrator/JobSettings.h"
#include "store/CGException.h"

namespace tarmig {

void failNetwork(std::ostream& log, const std::string& logLine, const std::string& text) {
    log << logLine << std::flush;
    throw CGNetworkException(text);
}

void failUnexpected(std::ostream& log, SimpleImapClient::ImapClientResult result) {
    std::string text = "Error: unspecified Imap error " + std::to_string(result) + ".\n";
    failNetwork(log, text, text);
}

void failSession(std::ostream& log, SimpleImapClient::ImapClientResult result, const std::string& what,
                 const std::string& notConnectedPrefix) {
    if (result == SimpleImapClient::NotConnected)
        failNetwork(log, notConnectedPrefix + "client isn't connected to Vantrel\n", "client isn't connected to Vantrel");
    if (result == SimpleImapClient::ConnectionError)
        failNetwork(log, "Network error: cannot " + what + "\n", "cannot " + what);
    failUnexpected(log, result);
}

void connectMaster(SimpleImapClient& client, const JobSettings& settings, std::ostream& log, bool logoutAfterwards) {
    // The socket layer keeps only the low 16 bits of a port: 65679 would reach 143.
    const int port = settings.port;
    SimpleImapClient::ImapClientResult result =
        port < 1 || port > 65535 ? SimpleImapClient::ConnectionError
                                 : client.connect(settings.server, static_cast<unsigned>(port), settings.masterPassword, 0);
    switch (result) {
        case SimpleImapClient::Ok:
            if (logoutAfterwards) client.disconnect(true);
            return;
        case SimpleImapClient::AlreadyConnected:
            log << "Warning: client already connected to Vantrel\n" << std::flush;
            return;
        case SimpleImapClient::ConnectionError:
            failNetwork(log, "Network error: cannot connect to Vantrel\n", "cannot connect to Vantrel");
        case SimpleImapClient::AuthenticationFailed:
            failNetwork(log, "Error: problem with authentication to Vantrel\n", "problem with authentication to Vantrel");
        default:
            failUnexpected(log, result);
    }
}

}  // namespace tarmig

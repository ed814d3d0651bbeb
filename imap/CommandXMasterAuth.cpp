#include "imap/CommandXMasterAuth.h"

#include "utils/Crypto.h"

CommandXMasterAuth::CommandXMasterAuth(ImapTransport& transport,
                                       const std::string& masterPassword)
    : Command(transport, "X-MASTERAUTH"), masterPassword(masterPassword) {}

int CommandXMasterAuth::execute() {
    return executeChallenge([this](const std::string& continuation, std::string& answer) {
        return makeMasterResponse(continuation, masterPassword, answer);
    });
}

bool CommandXMasterAuth::makeMasterResponse(const std::string& continuation,
                                            const std::string& masterPassword,
                                            std::string& answer) {
    const auto open = continuation.find('<');
    if (open == std::string::npos) {
        return false;
    }
    const auto close = continuation.find('>', open);
    const std::string token = close == std::string::npos
                                  ? continuation.substr(open)
                                  : continuation.substr(open, close - open + 1);
    answer = zenqa::crypto::md5Hex(token + masterPassword);
    return true;
}

#include "imap/CommandAuthCramMD5.h"

#include "utils/Crypto.h"

CommandAuthCramMD5::CommandAuthCramMD5(ImapTransport& transport, const std::string& user,
                                       const std::string& password)
    : Command(transport, "AUTHENTICATE CRAM-MD5"), password(password), user(user) {}

int CommandAuthCramMD5::execute() {
    return executeChallenge([this](const std::string& continuation, std::string& answer) {
        answer = makeCramMD5Response(continuation.substr(1));
        return true;
    });
}

std::string CommandAuthCramMD5::makeCramMD5Response(const std::string& challengeText) const {
    const std::string challenge = zenqa::crypto::base64Decode(challengeText);
    return zenqa::crypto::base64Encode(user + " " + zenqa::crypto::hmacMd5Hex(password, challenge));
}

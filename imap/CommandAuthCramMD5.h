#pragma once

#include "imap/Command.h"

#include <string>

// AUTHENTICATE CRAM-MD5 (RFC 2195).
class CommandAuthCramMD5 : public Command {
public:
    CommandAuthCramMD5(ImapTransport& transport, const std::string& user,
                       const std::string& password);

    int execute();

    // The Base64 answer to one challenge: the continuation without its
    // leading "+" (spaces and line end are skipped when decoding).
    std::string makeCramMD5Response(const std::string& challengeText) const;

private:
    std::string password;
    std::string user;
};

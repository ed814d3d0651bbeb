#pragma once

#include "imap/Command.h"

#include <string>

// X-MASTERAUTH: answers the server's bracketed token with the MD5 of the
// token followed by the master password, in lowercase hexadecimal.
class CommandXMasterAuth : public Command {
public:
    CommandXMasterAuth(ImapTransport& transport, const std::string& masterPassword);

    // 0 only when the server accepted the digest.
    int execute();

    // The digest line for one continuation; false when it holds no "<".
    static bool makeMasterResponse(const std::string& continuation,
                                   const std::string& masterPassword, std::string& answer);

private:
    std::string masterPassword;
};

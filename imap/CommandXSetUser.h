#pragma once

#include "imap/Command.h"

#include <string>

// X-SETUSER "<user>@<domain>": the following commands act in that account.
// Run through ConnectionInternal::setUser, which remembers the account for a
// reconnect.
class CommandXSetUser : public Command {
public:
    CommandXSetUser(ImapTransport& transport, const std::string& account);

    const std::string& getAccount() const { return account; }

private:
    std::string account;
};

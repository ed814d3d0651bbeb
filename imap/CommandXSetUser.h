#pragma once

#include "imap/Command.h"

#include <string>

// X-SETUSER "<user>@<domain>": the following commands act in that account.
class CommandXSetUser : public Command {
public:
    CommandXSetUser(ConnectionInternal& connection, const std::string& account);

    // Command::execute; on OK the connection remembers the account, so a
    // reconnect switches to it again before resending.
    Response execute(IMessage* message = nullptr);

private:
    std::string account;
};

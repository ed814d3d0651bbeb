#pragma once

#include "imap/Command.h"

#include <string>

// STATUS "<name>" (MESSAGES).
class CommandStatus : public Command {
public:
    CommandStatus(ImapTransport& transport, const std::string& name);

    // The MESSAGES value of the first STATUS reply of the last execute; 0 without one.
    int getMessagesCount();
};

// The MESSAGES value of one STATUS reply text after the keyword ("<mailbox>
// (MESSAGES <n> ...)"); 0 when the first pair is not MESSAGES.
int parseStatusMessages(std::string statusText);

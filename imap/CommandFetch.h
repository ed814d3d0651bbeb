#pragma once

#include "imap/Command.h"

class FetchMessage;

// FETCH <n> (INTERNALDATE FLAGS): the date and flags of one message.
class CommandFetch : public Command {
public:
    // Also attaches the connection to the message.
    CommandFetch(ImapTransport& transport, unsigned number, FetchMessage& message);

    // Reads the first FETCH reply of the last execute into the message;
    // true when both data items were taken.
    bool getDateAndFlags(FetchMessage& message);
};

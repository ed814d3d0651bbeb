#pragma once

#include "imap/Command.h"

class FetchMessage;

// FETCH <n> BODY.PEEK[]: reads only the reply's first line, up to the
// literal announcement; the literal stays on the connection for the
// message's data parts, and the tagged completion for the next command.
class CommandFetchBody : public Command {
public:
    // Also attaches the connection to the message.
    CommandFetchBody(ImapTransport& transport, unsigned number, FetchMessage& message);

    // 0 when the reply announced the body literal, 1 otherwise. Throws
    // ImapServerBrokeConnection on BYE, ImapTimeoutException on silence.
    int execute();

private:
    FetchMessage* message;
};

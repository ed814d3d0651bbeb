#include "imap/CommandFetchBody.h"

#include "imap/FetchMessage.h"
#include "imap/ImapTransport.h"

CommandFetchBody::CommandFetchBody(ImapTransport& transport, unsigned number,
                                   FetchMessage& message)
    : Command(transport, "FETCH"), message(&message) {
    addParam(number);
    addParam("BODY.PEEK[]");
    message.attach(transport);
}

int CommandFetchBody::execute() {
    ImapTransport& transport = getTransport();
    completeCommandString();
    transport.send(getCommandString());
    std::string line;
    recvResponseLine(transport, line);
    return message->parseResponse(line) ? 0 : 1;
}

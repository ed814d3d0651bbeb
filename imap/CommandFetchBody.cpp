#include "imap/CommandFetchBody.h"

#include "imap/ConnectionInternal.h"
#include "imap/FetchMessage.h"

CommandFetchBody::CommandFetchBody(ConnectionInternal& connection, unsigned number,
                                   FetchMessage& message)
    : Command(connection, "FETCH"), message(&message) {
    addParam(number);
    addParam("BODY.PEEK[]");
    message.attach(connection);
}

int CommandFetchBody::execute() {
    ConnectionInternal& connection = getConnection();
    completeCommandString();
    connection.send(getCommandString());
    std::string line;
    recvResponseLine(connection, line);
    return message->parseResponse(line) ? 0 : 1;
}

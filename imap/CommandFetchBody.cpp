#include "imap/CommandFetchBody.h"

#include "imap/ConnectionInternal.h"
#include "imap/FetchMessage.h"
#include "imap/ImapException.h"

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
    connection.recvLine(line);
    if (line.starts_with("* BYE")) {
        connection.close();
        throw ImapServerBrokeConnection();
    }
    if (line.empty()) throw ImapTimeoutException();
    return message->parseResponse(line) ? 0 : 1;
}

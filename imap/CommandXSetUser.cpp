#include "imap/CommandXSetUser.h"

#include "imap/ConnectionInternal.h"

CommandXSetUser::CommandXSetUser(ConnectionInternal& connection, const std::string& account)
    : Command(connection, "X-SETUSER"), account(account) {
    addParamString(account);
}

Command::Response CommandXSetUser::execute(IMessage* message) {
    const Response result = Command::execute(message);
    if (result == OK) {
        getConnection().rememberAccount(account);
    }
    return result;
}

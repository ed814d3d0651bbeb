#include "imap/CommandXSetUser.h"

CommandXSetUser::CommandXSetUser(ImapTransport& transport, const std::string& account)
    : Command(transport, "X-SETUSER"), account(account) {
    addParamString(account);
}

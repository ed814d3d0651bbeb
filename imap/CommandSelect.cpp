#include "imap/CommandSelect.h"

CommandSelect::CommandSelect(ImapTransport& transport, const std::string& name)
    : Command(transport, "SELECT") {
    addParamString(name);
}

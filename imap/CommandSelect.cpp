#include "imap/CommandSelect.h"

CommandSelect::CommandSelect(ConnectionInternal& connection, const std::string& name)
    : Command(connection, "SELECT") {
    addParamString(name);
}

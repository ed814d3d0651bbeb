#include "imap/CommandAppend.h"

CommandAppend::CommandAppend(ConnectionInternal& connection, const std::string& mailbox,
                             const std::string& flags, const std::string& date,
                             std::uint64_t size, bool useXAppend)
    : Command(connection, useXAppend ? "X-APPEND" : "APPEND") {
    params(mailbox, flags, date);
    addParam("{" + std::to_string(size) + "+}\r\n");
}

void CommandAppend::params(const std::string& mailbox, const std::string& flags,
                           const std::string& date) {
    addParamString(mailbox);
    if (!flags.empty()) addParamVector(flags);
    if (!date.empty()) addParamString(date);
}

#include "imap/CommandAppend.h"

CommandAppend::CommandAppend(ImapTransport& transport, const std::string& mailbox,
                             const std::string& flags, const std::string& date,
                             std::uint64_t size, bool useXAppend)
    : Command(transport, useXAppend ? "X-APPEND" : "APPEND") {
    params(mailbox, flags, date);
    std::string announcement = "{";
    announcement += std::to_string(size);
    announcement += "+}\r\n";
    addParam(announcement);
}

void CommandAppend::params(const std::string& mailbox, const std::string& flags,
                           const std::string& date) {
    addParamString(mailbox);
    if (!flags.empty()) addParamVector(flags);
    if (!date.empty()) addParamString(date);
}

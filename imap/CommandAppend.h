#pragma once

#include "imap/Command.h"

#include <cstdint>
#include <string>

// APPEND (or the target's X-APPEND) "<mailbox>" [(<flags>)] ["<date>"] {size+}:
// the line ends with the literal announcement and execute(message) streams
// the message's data parts into the literal.
class CommandAppend : public Command {
public:
    CommandAppend(ImapTransport& transport, const std::string& mailbox,
                  const std::string& flags, const std::string& date, std::uint64_t size,
                  bool useXAppend);

    void params(const std::string& mailbox, const std::string& flags, const std::string& date);
};

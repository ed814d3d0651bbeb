#pragma once

#include "imap/Command.h"

#include <string>

// SELECT "<name>"; its untagged replies are collected and not read.
class CommandSelect : public Command {
public:
    CommandSelect(ImapTransport& transport, const std::string& name);
};

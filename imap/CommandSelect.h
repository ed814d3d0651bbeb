#pragma once

#include "imap/Command.h"

#include <string>

// SELECT "<name>"; its untagged replies are collected and not read.
class CommandSelect : public Command {
public:
    CommandSelect(ConnectionInternal& connection, const std::string& name);
};

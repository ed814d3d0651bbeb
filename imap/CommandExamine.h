#pragma once

#include "imap/Command.h"

#include <cstdint>
#include <optional>
#include <string>

// EXAMINE "<name>": opens a folder read-only.
class CommandExamine : public Command {
public:
    CommandExamine(ImapTransport& transport, const std::string& name);
};

// The message count of the last EXISTS among the command's untagged
// responses (after SELECT or EXAMINE), or none.
std::optional<std::uint32_t> lastExists(const Command& command);

#pragma once

#include "imap/Command.h"

#include <cstdint>
#include <string>
#include <vector>

// UID STORE <uid> FLAGS (<flags>): replaces the flags of one message of the
// selected folder.
class CommandUidStore : public Command {
public:
    // Each flag must pass isFlagText.
    CommandUidStore(ImapTransport& transport, std::uint32_t uid,
                    const std::vector<std::string>& flags);
};

// Whether the text can stand in a flag list as a flag: an atom, or a
// backslash and an atom (RFC 3501 flag syntax).
bool isFlagText(const std::string& flag);

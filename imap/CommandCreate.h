#pragma once

#include "imap/Command.h"

#include <string>

// CREATE [(<type word> [GUID "<guid>"])] "<name>": the target server takes
// the folder type as an extension parameter before the name.
class CommandCreate : public Command {
public:
    CommandCreate(ImapTransport& transport, const std::string& name, unsigned bits,
                  const std::string& guid);
};

#pragma once

#include "imap/Command.h"

#include <string>
#include <vector>

// X-CREATEUSER (NAME {n+} ... DOMAIN {n+} ... PASSWORD "..." [FULLNAME "..."]
// [GROUPS ("..." ...)]): creates an account on the target server. Name and
// domain travel as non-synchronizing literals, so any byte may occur in them.
class CommandXCreateUser : public Command {
public:
    CommandXCreateUser(ImapTransport& transport, const std::string& name,
                       const std::string& domain, const std::string& password,
                       const std::string& fullName, const std::vector<std::string>& groups);
};

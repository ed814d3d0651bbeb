#pragma once

#include "imap/Command.h"

#include <string>
#include <vector>

// One entry of a LIST reply.
struct FolderInfo {
    std::string name;
    bool selectable = true;
};

// LIST "<reference>" "<pattern>".
class CommandList : public Command {
public:
    CommandList(ImapTransport& transport, const std::string& reference,
                const std::string& pattern);

    // The LIST and LSUB replies of the last execute, in reply order; with
    // checkNoSelect, folders marked \Noselect (any letter case) are not
    // selectable. Returns the number of entries.
    int getList(std::vector<FolderInfo>& out, bool checkNoSelect);
};

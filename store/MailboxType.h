#pragma once

namespace tarmig {

// Storage form of an account or a folder.
enum MailboxType {
    MailboxMacnt = 0,  // <name>.macnt directory holding .mbox files or .mdir directories
    MailboxMbox = 1,   // single <name>.mbox file
    MailboxMdir = 2,   // <name>.mdir directory, one file per message
    MailboxNone = 3,   // not set
};

}  // namespace tarmig

#pragma once

#include "migrator/MessageKey.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TargetMessage;

namespace tarmig {

// One message of a store folder as the reconciliation sees it.
struct StoreMessageState {
    MessageKey key;
    std::string flags;  // IMAP flag list text as the store's Message gives it ("\Seen \Draft ")
};

// Flags to set on a target message so that they are the store's.
struct FlagUpdate {
    std::uint32_t uid = 0;
    std::vector<std::string> flags;  // the whole new list, for UID STORE ... FLAGS
};

// What to do for one folder so that the target holds each store message
// exactly once, with the store's flags.
struct FolderReconciliation {
    std::vector<std::size_t> toSend;      // store positions (from 0), in store order
    std::vector<FlagUpdate> flagUpdates;  // in store order of the matched messages
    std::size_t alreadyPresent = 0;       // store messages found on the target
    std::size_t notInStore = 0;           // target messages no store message matched
};

// Matches the store's messages of one folder (in store order) against the
// target's (in UID order). Messages with a date match on all three keys;
// those without one, afterwards, on size and Message-ID whatever their date
// on the target. Messages that share a key are paired in store order
// against UID order, so each one the target lacks is sent.
FolderReconciliation reconcileFolder(const std::vector<StoreMessageState>& store,
                                     const std::vector<TargetMessage>& target);

// The flags a target message must carry to show the store's flags: the
// store's system flags (\Recent is the server's own and never set), then
// the target's keywords, which the store cannot hold and so does not
// overrule. Empty result and false when the target already shows them.
bool flagsToStore(const std::string& storeFlags, const std::vector<std::string>& targetFlags,
                  std::vector<std::string>& newFlags);

}  // namespace tarmig

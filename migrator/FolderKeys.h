#pragma once

#include <string>
#include <vector>

#include "migrator/FolderReconciliation.h"
#include "store/StoreProblem.h"

namespace tarmig {

class Folder;

// One read of a folder's storage: the key and flags of every message in
// store order, read as each message would be sent, and what the store could
// not hand out, oldest first (for whichever pass reports it).
struct FolderKeys {
    std::vector<StoreMessageState> messages;
    std::vector<StoreProblem> problems;
};

// Reads the folder's keys; a store failure passes on (CGStoreException)
// with the file closed and the problems met so far dropped.
FolderKeys readFolderKeys(Folder& folder, const std::string& accountName, bool fixLineEnds);

}  // namespace tarmig

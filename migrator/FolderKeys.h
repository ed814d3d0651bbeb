#pragma once

#include <string>
#include <vector>

#include "migrator/FolderReconciliation.h"

namespace tarmig {

class Folder;

// The key and flags of every message in a folder's storage, in store order,
// read as each message would be sent. What the store cannot hand out is left
// for the pass that sends, which reports it; a store failure passes on
// (CGStoreException) with the file closed.
std::vector<StoreMessageState> readFolderKeys(Folder& folder, const std::string& accountName, bool fixLineEnds);

}  // namespace tarmig

#include "migrator/FolderKeys.h"

#include "store/Folder.h"
#include "store/Message.h"
#include "store/MessageId.h"

namespace tarmig {

std::vector<StoreMessageState> readFolderKeys(Folder& folder, const std::string& accountName, bool fixLineEnds) {
    std::vector<StoreMessageState> states;
    Message message(folder);
    folder.openMessagesFile(accountName);
    try {
        for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
             more = folder.getNextMessage(message, fixLineEnds)) {
            const auto size = static_cast<std::uint64_t>(message.getFixedSize());
            states.push_back({storeMessageKey(message.getDate(), size, readMessageId(message)), message.getFlags()});
        }
    } catch (...) {
        folder.takeProblems();
        folder.closeMessagesFile();
        throw;
    }
    folder.takeProblems();
    folder.closeMessagesFile();
    return states;
}

}  // namespace tarmig

#include "migrator/FolderKeys.h"

#include "store/Folder.h"
#include "store/Message.h"
#include "store/MessageId.h"

namespace tarmig {

FolderKeys readFolderKeys(Folder& folder, const std::string& accountName, bool fixLineEnds) {
    FolderKeys keys;
    Message message(folder);
    folder.openMessagesFile(accountName);
    try {
        for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
             more = folder.getNextMessage(message, fixLineEnds)) {
            const auto size = static_cast<std::uint64_t>(message.getFixedSize());
            keys.messages.push_back(
                {storeMessageKey(message.getDate(), size, readMessageId(message)), message.getFlags()});
        }
    } catch (...) {
        folder.takeProblems();
        folder.closeMessagesFile();
        throw;
    }
    keys.problems = folder.takeProblems();
    folder.closeMessagesFile();
    return keys;
}

}  // namespace tarmig

#include "migrator/MessageKey.h"

#include "imap/TargetMessage.h"
#include "utils/ImapDateTime.h"

namespace tarmig {

MessageKey storeMessageKey(const std::string& date, std::uint64_t fixedSize,
                           std::optional<std::string> messageId) {
    return MessageKey{zenqa::mail::parseImapDateTime(date), fixedSize, std::move(messageId)};
}

MessageKey targetMessageKey(const TargetMessage& message) {
    return MessageKey{message.arrival, message.size, message.messageId};
}

}  // namespace tarmig

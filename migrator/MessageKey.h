#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct TargetMessage;

namespace tarmig {

// What identifies a message on both sides of a migration, as it survives
// the transfer: the arrival date the tool sets, the size after line-end
// fixing and the Message-ID header field.
struct MessageKey {
    // None for a store message whose date cannot be read: it was sent
    // without one and the target gave it its own time.
    std::optional<std::time_t> arrival;
    std::uint64_t size = 0;
    std::optional<std::string> messageId;  // unfolded and trimmed; none without the field

    bool operator==(const MessageKey&) const = default;
};

// The key of a store message from its IMAP date text (empty when the store
// had none), the size it is sent with and its Message-ID.
MessageKey storeMessageKey(const std::string& date, std::uint64_t fixedSize,
                           std::optional<std::string> messageId);

// The key of a message the target holds.
MessageKey targetMessageKey(const TargetMessage& message);

}  // namespace tarmig

#pragma once

#include <optional>
#include <string>

class IMessage;

namespace tarmig {

// The Message-ID of a message as it is sent: the value of the first
// Message-ID field of its header (name in any letter case), unfolded and
// trimmed as the target's header fields are read; none without one. Reads
// the data parts only as far as the field, or the end of the header, so a
// large message costs its first part. Moves the message's read position
// (send from getFirstDataPart afterwards); passes on what the message throws.
std::optional<std::string> readMessageId(IMessage& message);

}  // namespace tarmig

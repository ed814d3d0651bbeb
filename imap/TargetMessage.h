#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// What the server tells about one message of a folder, enough to recognise
// a message sent before: its UID, flags, arrival date, size and Message-ID.
struct TargetMessage {
    std::uint32_t uid = 0;
    std::vector<std::string> flags;  // as the server lists them
    std::string internalDate;        // the INTERNALDATE text, without quotes
    std::optional<std::time_t> arrival;  // internalDate in seconds; none when unreadable
    std::uint64_t size = 0;              // RFC822.SIZE
    // The Message-ID field's value, unfolded and trimmed; none without one.
    std::optional<std::string> messageId;
};

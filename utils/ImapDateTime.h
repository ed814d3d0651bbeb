#pragma once

#include <ctime>
#include <optional>
#include <string_view>

namespace zenqa::mail {

// Seconds since the epoch of an IMAP date-time text (RFC 3501):
// "dd-Mon-yyyy hh:mm:ss +zzzz", the day also as one digit with or without a
// leading space, the month name in any letter case. None for any other text
// or a value out of range.
std::optional<std::time_t> parseImapDateTime(std::string_view text);

}  // namespace zenqa::mail

#pragma once

#include <string_view>

// ASCII case folding for IMAP keywords and flags, which are case-insensitive
// on the wire.
bool equalsNoCase(std::string_view a, std::string_view b);
bool containsNoCase(std::string_view text, std::string_view word);

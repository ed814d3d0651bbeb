#pragma once

#include <string>
#include <string_view>

namespace zenqa::utils {

// A value from the store or from the server as it may stand inside one line
// of the console, the log or a report: a file name may hold any byte but "/"
// and NUL, and a server's answer may hold a bare CR, so one value could
// otherwise end a line and start one the tool never wrote. Each control byte
// (0x00-0x1F, 0x7F) is shown as an escape: "\t", "\n", "\r", else "\xNN"
// with two lower-case hex digits. Bytes from 0x80 up stay, so UTF-8 names
// show as they are.
//
// A backslash stays a backslash: text without control bytes comes out byte
// for byte as before, the way names have always been shown and matched by
// the administrator's scripts. A backslash is rare in a store's names, and
// one read as the start of an escape misleads a reader about a name, never
// about which lines the tool wrote. This also makes the function idempotent,
// so a text shown once may pass through it again unchanged.
std::string shownText(std::string_view text);

}  // namespace zenqa::utils

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zenqa::mail {

// Where a message's header ends: the offset just past the first empty line
// (CR LF or a bare LF), or npos when no empty line has been seen. A message
// that starts with an empty line has an empty header.
std::string_view::size_type headerEnd(std::string_view message);

// The value of the first header field called `name` (ASCII letters in any
// case) in `header`, which ends at the first empty line or at its end:
// continuation lines are joined without their line ends, and spaces and tabs
// around the value are removed. None when the header has no such field.
std::optional<std::string> headerFieldValue(std::string_view header, std::string_view name);

}  // namespace zenqa::mail

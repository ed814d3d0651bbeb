#pragma once

#include <string>

namespace zenqa::utils {

// Shell wildcard match of the whole name ("*", "?", bracket sets with "!" or
// "^"), with backslash an ordinary byte and "/" and a leading "." ordinary.
bool fileNameMatch(const std::string& mask, const std::string& name, bool ignoreCase);

}  // namespace zenqa::utils

#pragma once

#include <string>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Parser.h"
#include "utils/KMemoryStream.h"

namespace tarmig::testing {

inline void parseText(const std::string& text, TreeNode& root) {
    zenqa::utils::KMemoryStream stream(text);
    Parser::parse(&stream, root);
}

// The parser's message for text, or "" when it parses.
inline std::string errorOf(const std::string& text) {
    TreeNode root;
    return errorText<CGParseException>([&] { parseText(text, root); });
}

}  // namespace tarmig::testing

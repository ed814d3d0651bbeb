#include "utils/HeaderField.h"

#include <strings.h>

namespace zenqa::mail {

namespace {

constexpr std::string_view blanks = " \t";

// The line at `from` without its line end, and the offset of the next line.
std::string_view lineAt(std::string_view text, std::string_view::size_type from,
                        std::string_view::size_type& next) {
    auto end = text.find('\n', from);
    next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    if (end > from && text[end - 1] == '\r') --end;
    return text.substr(from, end - from);
}

bool isContinuation(std::string_view line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

bool namesField(std::string_view line, std::string_view name) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view field = line.substr(0, colon);
    // Old mail puts blanks between the name and the colon.
    field = field.substr(0, field.find_last_not_of(blanks) + 1);
    return field.size() == name.size() &&
           strncasecmp(field.data(), name.data(), name.size()) == 0;
}

}  // namespace

std::string_view::size_type headerEnd(std::string_view message) {
    std::string_view::size_type from = 0;
    while (from < message.size()) {
        std::string_view::size_type next = 0;
        const bool lineEnded = message.find('\n', from) != std::string_view::npos;
        if (lineEnded && lineAt(message, from, next).empty()) return next;
        if (!lineEnded) break;
        from = next;
    }
    return std::string_view::npos;
}

std::optional<std::string> headerFieldValue(std::string_view header, std::string_view name) {
    std::string_view::size_type from = 0;
    while (from < header.size()) {
        std::string_view::size_type next = 0;
        std::string_view line = lineAt(header, from, next);
        if (line.empty()) break;
        if (!isContinuation(line) && namesField(line, name)) {
            std::string value(line.substr(line.find(':') + 1));
            while (next < header.size()) {
                std::string_view::size_type after = 0;
                std::string_view more = lineAt(header, next, after);
                if (!isContinuation(more)) break;
                value += more;
                next = after;
            }
            const auto first = value.find_first_not_of(blanks);
            if (first == std::string::npos) return std::string();
            return value.substr(first, value.find_last_not_of(blanks) + 1 - first);
        }
        from = next;
    }
    return std::nullopt;
}

}  // namespace zenqa::mail

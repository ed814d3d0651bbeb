#include "store/MessageId.h"

#include "utils/HeaderField.h"
#include "utils/IMessage.h"

#include <strings.h>

#include <string_view>

namespace tarmig {

namespace {

constexpr std::string_view fieldName = "Message-ID";

bool startsField(std::string_view line) {
    if (line.size() <= fieldName.size() || strncasecmp(line.data(), fieldName.data(), fieldName.size()) != 0)
        return false;
    const auto colon = line.find_first_not_of(" \t", fieldName.size());
    return colon != std::string_view::npos && line[colon] == ':';
}

bool isEmptyLine(std::string_view line) { return line == "\n" || line == "\r\n"; }

}  // namespace

std::optional<std::string> readMessageId(IMessage& message) {
    // Whole lines are looked at as they complete; only the line still open
    // and the lines of the field itself are kept.
    std::string pending, field, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) {
        pending += part;
        std::string_view::size_type from = 0;
        for (auto lf = pending.find('\n'); lf != std::string::npos; lf = pending.find('\n', from)) {
            const std::string_view line(pending.data() + from, lf + 1 - from);
            from = lf + 1;
            const bool continues = line[0] == ' ' || line[0] == '\t';
            if (!field.empty() && !continues) return zenqa::mail::headerFieldValue(field, fieldName);
            if (isEmptyLine(line)) return std::nullopt;
            if (!field.empty() || startsField(line)) field += line;
        }
        pending.erase(0, from);
    }
    // The data ended inside the header: its last line counts too.
    if (!pending.empty() && (!field.empty() ? pending[0] == ' ' || pending[0] == '\t' : startsField(pending)))
        field += pending;
    if (field.empty()) return std::nullopt;
    return zenqa::mail::headerFieldValue(field, fieldName);
}

}  // namespace tarmig

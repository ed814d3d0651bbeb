#include "imap/FetchMessage.h"

#include "imap/CaseInsensitive.h"
#include "imap/ImapException.h"
#include "imap/ImapTransport.h"
#include "imap/Parser.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr std::array<const char*, 6> StdImapFlag{"\\Seen",  "\\Answered", "\\Flagged",
                                                 "\\Deleted", "\\Draft",  "\\Recent"};

constexpr std::uint64_t maxPart = 10240;

}  // namespace

bool FetchMessage::getFirstDataPart(std::string& part) {
    return getNextDataPart(part);
}

bool FetchMessage::getNextDataPart(std::string& part) {
    part.clear();
    if (remaining == 0 || !transport) return false;
    auto wanted = static_cast<unsigned>(std::min(remaining, maxPart));
    unsigned delivered = transport->recvData(part, wanted);
    if (delivered < wanted) throw ImapConnectionFailed("message data ended early");
    remaining -= delivered;
    if (remaining == 0) {
        // The rest of the FETCH reply after the literal, normally ")".
        std::string rest;
        transport->recvLine(rest);
    }
    return true;
}

bool FetchMessage::setSize(const std::string& text) {
    if (text.size() <= 4 || text.front() != '{' || text[text.size() - 3] != '}') return false;
    const char* first = text.data() + 1;
    const char* last = text.data() + text.size() - 3;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return false;
    size = value;
    remaining = value;
    return value != 0;
}

bool FetchMessage::setFlags(const std::string& text) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
    flags = removeNonStandartFlags(text.substr(1, text.size() - 2));
    // \Recent belongs to the source's session; servers refuse it in APPEND.
    if (flags.ends_with("\\Recent")) {
        flags.erase(flags.size() - std::string_view("\\Recent").size());
        if (!flags.empty()) flags.pop_back();
    }
    return true;
}

bool FetchMessage::setData(const std::string& key, const std::string& value) {
    if (equalsNoCase(key, "INTERNALDATE")) {
        date = value;
        return true;
    }
    if (equalsNoCase(key, "FLAGS")) {
        setFlags(value);
        return true;
    }
    return false;
}

bool FetchMessage::parseResponse(const std::string& line) {
    Parser reader(line);
    std::string star, number, keyword, rest;
    if (!reader.getNode(star) || star != "*" || !reader.getNode(number) ||
        !reader.getNode(keyword) || !equalsNoCase(keyword, "FETCH") || !reader.getRest(rest))
        return false;
    std::string items = rest.substr(1);
    Parser itemReader(items);
    std::string item, announcement;
    if (!itemReader.getNode(item) || !equalsNoCase(item, "BODY[]") ||
        !itemReader.getRest(announcement))
        return false;
    return setSize(announcement);
}

void FetchMessage::reset() {
    date.clear();
    flags.clear();
    size = 0;
    remaining = 0;
}

std::string removeNonStandartFlags(const std::string& text) {
    std::string result;
    for (const char* flag : StdImapFlag) {
        if (!containsNoCase(text, flag)) continue;
        if (!result.empty()) result += ' ';
        result += flag;
    }
    return result;
}

bool loadFetchResponse(const std::string& line, FetchMessage& message) {
    message.reset();
    Parser reader(line);
    std::string star, number, keyword, rest;
    if (!reader.getNode(star) || star != "*" || !reader.getNode(number) ||
        !reader.getNode(keyword) || !equalsNoCase(keyword, "FETCH") || !reader.getRest(rest) ||
        rest.front() != '(')
        return false;
    return loadFetchResponseInsideInfo(rest.substr(1), message);
}

bool loadFetchResponseInsideInfo(const std::string& text, FetchMessage& message) {
    Parser reader(text);
    std::string node, value;
    while (reader.getNode(node)) {
        if (equalsNoCase(node, "INTERNALDATE")) {
            reader.getNodeData(value);
            message.setData(node, value);
        } else if (equalsNoCase(node, "FLAGS")) {
            reader.getNode(value);
            message.setFlags(value);
        } else {
            break;
        }
    }
    if (!equalsNoCase(node, "BODY[]")) return false;
    std::string announcement;
    reader.getRest(announcement);
    return message.setSize(announcement);
}

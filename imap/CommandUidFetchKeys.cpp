#include "imap/CommandUidFetchKeys.h"

#include "imap/CaseInsensitive.h"
#include "imap/Parser.h"
#include "utils/HeaderField.h"
#include "utils/ImapDateTime.h"

#include <algorithm>
#include <limits>
#include <map>

namespace {

using zenqa::mail::imap::Position;

// An item name; a section in brackets may hold spaces and parentheses.
std::string readItemName(const std::string& text, Position& it) {
    std::string name;
    while (it < text.size() && text[it] != ' ' && text[it] != '(') {
        if (text[it] == '[') {
            std::string section;
            zenqa::mail::imap::readParenthesis(text, it, '[', ']', section);
            name += section;
        } else {
            name += text[it++];
        }
    }
    return name;
}

bool readNumber(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

std::vector<std::string> splitFlags(const std::string& list) {
    std::vector<std::string> flags;
    std::string inner = list;
    zenqa::mail::imap::trim(inner);
    Position it = 0;
    while (zenqa::mail::imap::skipSpace(inner, it)) {
        const Position end = zenqa::mail::imap::findCharacter(inner, it, ' ');
        flags.push_back(inner.substr(it, end - it));
        it = end;
    }
    return flags;
}

bool isHeaderFieldsItem(const std::string& name) {
    static const std::string prefix = "BODY[HEADER.FIELDS";
    return name.size() > prefix.size() && equalsNoCase(name.substr(0, prefix.size()), prefix);
}

}  // namespace

CommandUidFetchKeys::CommandUidFetchKeys(ImapTransport& transport)
    : Command(transport, "UID") {
    addParam("FETCH 1:* (UID FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])");
}

bool CommandUidFetchKeys::getMessages(std::vector<TargetMessage>& messages) const {
    std::map<std::uint32_t, TargetMessage> byUid;
    bool readable = true;
    visitUntagged({ImapResponseType::Fetch}, [&](const ResponseResult& response) {
        std::string items;
        Parser(response.getString()).getNodeData(items);
        TargetMessage message;
        bool complete = false;
        if (readTargetMessage(items, message, complete)) {
            byUid[message.uid] = std::move(message);
        } else if (complete) {
            readable = false;
        }
        return readable;
    });
    messages.clear();
    for (auto& [uid, message] : byUid) messages.push_back(std::move(message));
    return readable;
}

bool readTargetMessage(const std::string& items, TargetMessage& message, bool& complete) {
    message = TargetMessage();
    enum Seen { Uid = 1, Flags = 2, Date = 4, Size = 8, Header = 16, All = 31 };
    unsigned seen = 0;
    bool readable = true;
    Position it = 0;
    while (zenqa::mail::imap::skipSpace(items, it)) {
        const std::string name = readItemName(items, it);
        std::string value;
        zenqa::mail::imap::skipSpace(items, it);
        if (it < items.size() && items[it] == '(') {
            zenqa::mail::imap::readParenthesis(items, it, '(', ')', value);
        } else if (!zenqa::mail::imap::readString(items, it, value)) {
            return false;  // a name without a value
        }
        std::uint64_t number = 0;
        if (equalsNoCase(name, "UID")) {
            seen |= Uid;
            readable &= readNumber(value, std::numeric_limits<std::uint32_t>::max(), number) && number > 0;
            message.uid = static_cast<std::uint32_t>(number);
        } else if (equalsNoCase(name, "FLAGS")) {
            seen |= Flags;
            readable &= !value.empty() && value.front() == '(';
            message.flags = splitFlags(value);
        } else if (equalsNoCase(name, "INTERNALDATE")) {
            seen |= Date;
            message.internalDate = value;
            message.arrival = zenqa::mail::parseImapDateTime(value);
        } else if (equalsNoCase(name, "RFC822.SIZE")) {
            seen |= Size;
            readable &= readNumber(value, std::numeric_limits<std::uint64_t>::max(), number);
            message.size = number;
        } else if (isHeaderFieldsItem(name)) {
            seen |= Header;
            message.messageId = zenqa::mail::headerFieldValue(value, "Message-ID");
        }
    }
    complete = seen == All;
    return complete && readable;
}

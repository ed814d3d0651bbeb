#include "imap/Parser.h"

#include "imap/ImapException.h"

#include <cstdlib>
#include <limits>
#include <utility>

namespace zenqa::mail::imap {

bool skipSpace(const std::string& text, Position& it) {
    while (it < text.size() && text[it] == ' ') {
        ++it;
    }
    return it < text.size();
}

bool skipSpaceEx(const std::string& text, Position& it) {
    if (!skipSpace(text, it)) {
        throw ImapParserException("Space not presented");
    }
    return true;
}

bool testWord(const std::string& text, Position& it, const std::string& word) {
    if (it > text.size() || text.compare(it, word.size(), word) != 0) {
        return false;
    }
    it += word.size();
    return true;
}

Position findCharacter(const std::string& text, Position it, char ch) {
    Position found = it < text.size() ? text.find(ch, it) : std::string::npos;
    return found == std::string::npos ? text.size() : found;
}

Position findCharacterEx(const std::string& text, Position it, char ch) {
    Position found = findCharacter(text, it, ch);
    if (found == text.size()) {
        throw ImapParserException("Character not found");
    }
    return found;
}

Position testCharacter(const std::string& text, Position it, char ch) {
    if (it >= text.size()) {
        throw ImapParserException("Bad ");
    }
    if (text[it] != ch) {
        throw ImapParserException("Character different");
    }
    return it + 1;
}

void readNCharacters(const std::string& text, Position& it, std::int64_t n, std::string& out) {
    // Checked before anything is allocated: a hostile count must not reserve memory.
    if (n < 0 || it > text.size() || static_cast<std::uint64_t>(n) > text.size() - it) {
        throw ImapParserException("");
    }
    out.assign(text, it, static_cast<std::size_t>(n));
}

bool readString(const std::string& text, Position& it, std::string& out) {
    out.clear();
    if (!skipSpace(text, it)) {
        return false;
    }
    const char first = text[it];
    if (first == '"') {
        const Position close = findCharacterEx(text, it + 1, '"');
        out.assign(text, it + 1, close - it - 1);
        it = close + 1;
        return true;
    }
    if (first == '{') {
        const Position close = findCharacterEx(text, it + 1, '}');
        const std::string digits = text.substr(it + 1, close - it - 1);
        const long long count = std::strtoll(digits.c_str(), nullptr, 10);
        Position data = testCharacter(text, close + 1, '\r');
        data = testCharacter(text, data, '\n');
        readNCharacters(text, data, count, out);
        it = data + out.size();
        return true;
    }
    if (text.compare(it, 3, "NIL") == 0) {
        it += 3;
        return true;
    }
    const Position space = text.find(' ', it + 1);
    if (space == std::string::npos) {
        out.assign(text, it);
        it = text.size();
    } else {
        out.assign(text, it, space - it);
        it = space + 1;
    }
    return true;
}

bool skipString(const std::string& text, Position& it) {
    std::string scratch;
    return readString(text, it, scratch);
}

bool readParenthesis(const std::string& text, Position& it, char open, char close,
                     std::string& out) {
    out.clear();
    if (!skipSpace(text, it)) {
        return false;
    }
    if (text.compare(it, 3, "NIL") == 0) {
        it += 3;
        return true;
    }
    if (text[it] != open) {
        throw ImapParserException("");
    }
    const Position start = it;
    long depth = 0;
    while (it < text.size()) {
        const char ch = text[it];
        if (ch == '"' || ch == '{') {
            skipString(text, it);
            continue;
        }
        if (ch == open) {
            ++depth;
        } else if (ch == close && --depth == 0) {
            out.assign(text, start, it + 1 - start);
            ++it;
            return true;
        }
        ++it;
    }
    throw ImapParserException("");
}

void trim(std::string& text) {
    if (text.size() >= 2) {
        text = text.substr(1, text.size() - 2);
    }
}

std::int32_t toNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace zenqa::mail::imap

namespace {

using Table = std::pair<const char*, int>;
namespace type = ImapResponseType;

constexpr Table imapResponseGroup1[] = {
    {"OK", type::Ok}, {"NO", type::No}, {"BAD", type::Bad},
    {"PREAUTH", type::Preauth}, {"BYE", type::Bye},
};

constexpr Table imapResponseGroup2[] = {
    {"LISTRIGHTS", type::ListRights}, {"CAPABILITY", type::Capability},
    {"LIST", type::List}, {"LSUB", type::Lsub}, {"STATUS", type::Status},
    {"SEARCH", type::Search}, {"SORT", type::Sort}, {"ASORT", type::ASort},
    {"GROUP", type::Group}, {"AGROUP", type::AGroup}, {"FLAGS", type::Flags},
    {"ACL", type::Acl}, {"MYRIGHTS", type::MyRights}, {"ANNOTATION", type::Annotation},
    {"X-WATCH", type::XWatch}, {"X-LISTMAP", type::XListMap},
    {"X-GETSCRIPT", type::XGetScript}, {"X-USERINFO", type::XUserInfo},
};

constexpr Table imapResponseGroup3[] = {
    {"EXISTS", type::Exists}, {"RECENT", type::Recent}, {"EXPUNGE", type::Expunge},
    {"AEXPUNGE", type::AExpunge}, {"FETCH", type::Fetch}, {"AFETCH", type::AFetch},
};

constexpr Table imapResponseGroupOptions[] = {
    {"ALERT", type::Alert}, {"NEWNAME", type::NewName}, {"PARSE", type::Parse},
    {"PERMANENTFLAGS", type::PermanentFlags}, {"READ-ONLY", type::ReadOnly},
    {"READ-WRITE", type::ReadWrite}, {"TRYCREATE", type::TryCreate},
    {"UIDVALIDITY", type::UidValidity}, {"UIDNEXT", type::UidNext},
    {"UNSEEN", type::Unseen}, {"INTERNALDATE", type::InternalDate},
    {"REFERRAL", type::Referral},
};

// The entry's type number, or 0 when the word is not in the table.
template <std::size_t N>
int lookup(const Table (&table)[N], const std::string& word) {
    for (const Table& entry : table) {
        if (word == entry.first) {
            return entry.second;
        }
    }
    return 0;
}

}  // namespace

void Parser::parseResponse(ResponseResult& result) {
    result.clear();
    std::string first;
    getNode(first);
    if (first == "*") {
        result.tagged = false;
        parseUntagged(result);
    } else {
        result.tagged = true;
        result.tag = first;
        parseTagged(result);
    }
}

void Parser::parseTagged(ResponseResult& result) {
    std::string word;
    if (!getNode(word)) {
        throw ImapParserException("");
    }
    result.type = lookup(imapResponseGroup1, word);
    std::string next;
    if (!getNode(next)) {
        return;
    }
    if (!next.empty() && next[0] == '[') {
        result.code = next;
        getRest(result.string);
        return;
    }
    result.string = next;
    std::string rest;
    if (getRest(rest)) {
        result.string += ' ';
        result.string += rest;
    }
}

void Parser::parseUntagged(ResponseResult& result) {
    std::string word;
    if (!getNode(word)) {
        throw ImapParserException("");
    }
    if (word == "OK") {
        std::string next;
        if (getNode(next)) {
            if (!next.empty() && next[0] == '[') {
                result.code = next;
                getRest(result.string);
                parseResponseOption(result);
                return;
            }
            result.string = next;
            std::string rest;
            if (getRest(rest)) {
                result.string += ' ';
                result.string += rest;
            }
            return;
        }
    }
    if (const int found = lookup(imapResponseGroup2, word)) {
        result.type = found;
        getRest(result.string);
        return;
    }
    result.number = zenqa::mail::imap::toNumber(word);
    std::string keyword;
    if (!getNode(keyword)) {
        throw ImapParserException("");
    }
    const int found = lookup(imapResponseGroup3, keyword);
    if (found == 0) {
        throw ImapParserException("");
    }
    result.type = found;
    getRest(result.string);
}

void Parser::parseResponseOption(ResponseResult& result) {
    std::string inner = result.code;
    zenqa::mail::imap::trim(inner);
    Parser parser(inner);
    std::string word;
    parser.getNode(word);
    const int found = lookup(imapResponseGroupOptions, word);
    if (found == 0) {
        return;
    }
    result.type = found;
    std::string value;
    if (!parser.getNode(value)) {
        return;
    }
    if (found == ImapResponseType::PermanentFlags) {
        result.data = value;
    } else if (found >= ImapResponseType::UidValidity && found <= ImapResponseType::Unseen) {
        result.number = zenqa::mail::imap::toNumber(value);
    }
}

bool Parser::getNode(std::string& out) {
    using namespace zenqa::mail::imap;
    if (position >= text.size()) {
        return false;
    }
    out.clear();
    if (!skipSpace(text, position)) {
        return false;
    }
    switch (text[position]) {
    case '(':
        return readParenthesis(text, position, '(', ')', out);
    case '[':
        return readParenthesis(text, position, '[', ']', out);
    default:
        return readString(text, position, out);
    }
}

bool Parser::getNodeData(std::string& out) {
    zenqa::mail::imap::Position start = position;
    zenqa::mail::imap::skipSpace(text, start);
    const bool group = start < text.size() && (text[start] == '(' || text[start] == '[');
    if (!getNode(out)) {
        return false;
    }
    if (group) {
        zenqa::mail::imap::trim(out);
    }
    return true;
}

bool Parser::getRest(std::string& out) {
    out.clear();
    if (!zenqa::mail::imap::skipSpace(text, position)) {
        position = text.size();
        return false;
    }
    out.assign(text, position);
    position = text.size();
    return true;
}

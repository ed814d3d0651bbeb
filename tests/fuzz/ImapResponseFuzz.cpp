// A server's response text either parses or raises ImapParserException.
// Token reading always moves forward and stays inside the text, a literal
// holds the bytes after its announcement and as many as it announces, and
// any bytes at all sent as a literal inside a FETCH response come back whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "imap/ImapException.h"
#include "imap/Parser.h"
#include "imap/ResponseResult.h"

namespace {

namespace imap = zenqa::mail::imap;

// The count of "{123}" or "{123+}" between open and close; -1 for other text.
long long announcedCount(const std::string& text, std::size_t open, std::size_t close) {
    std::string digits = text.substr(open + 1, close - open - 1);
    if (!digits.empty() && digits.back() == '+') digits.pop_back();
    if (digits.empty() || digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        return -1;
    }
    return std::stoll(digits);
}

void checkStrings(const std::string& text) {
    imap::Position it = 0;
    std::string token;
    try {
        for (;;) {
            imap::Position start = it;
            imap::skipSpace(text, start);
            imap::Position before = it;
            if (!imap::readString(text, it, token)) break;
            FUZZ_CHECK(it > before && it <= text.size(), "a string read does not move forward inside the text");
            if (text[start] != '{') continue;
            std::size_t close = text.find('}', start);
            FUZZ_CHECK(close != std::string::npos && text.compare(close + 1, 2, "\r\n") == 0,
                       "a literal read without its announcement");
            long long count = announcedCount(text, start, close);
            FUZZ_CHECK(count < 0 || token.size() == static_cast<std::size_t>(count),
                       "a literal's length differs from its announced count");
            FUZZ_CHECK(it == close + 3 + token.size() && text.compare(close + 3, token.size(), token) == 0,
                       "a literal is not the bytes after its announcement");
        }
    } catch (const ImapParserException&) {
    }
}

void checkNodes(const std::string& text) {
    Parser parser(text);
    std::string node;
    try {
        for (std::size_t calls = 0; parser.getNode(node); ++calls) {
            FUZZ_CHECK(calls < text.size(), "getNode does not move forward");
        }
    } catch (const ImapParserException&) {
    }
}

void checkResponse(const std::string& text) {
    ResponseResult result;
    try {
        Parser(text).parseResponse(result);
    } catch (const ImapParserException&) {
    }
}

// A FETCH answer with the bytes as the message body between two other items,
// read as the client reads it: the response, its item list, then the items.
void readFetchItems(const std::string& body) {
    std::string text = "* 7 FETCH (UID 9 BODY[] {" + std::to_string(body.size()) + "}\r\n" + body + " FLAGS (\\Seen))";
    ResponseResult result;
    Parser(text).parseResponse(result);
    FUZZ_CHECK(!result.isTagged() && result.getType() == ImapResponseType::Fetch && result.getNumber() == 7,
               "a FETCH response with a literal is not taken for one");
    std::string items;
    FUZZ_CHECK(Parser(result.getString()).getNodeData(items), "a FETCH response without its items");
    Parser reader(items);
    std::string uid, uidValue, name, value, flags, flagsValue;
    FUZZ_CHECK(reader.getNode(uid) && reader.getNode(uidValue) && uid == "UID" && uidValue == "9",
               "the item before a literal is lost");
    FUZZ_CHECK(reader.getNode(name) && reader.getNode(value) && name == "BODY[]", "a FETCH literal is not read");
    FUZZ_CHECK(value == body, "a FETCH literal does not hold the bytes sent");
    FUZZ_CHECK(reader.getNode(flags) && reader.getNode(flagsValue) && flags == "FLAGS" && flagsValue == "(\\Seen)",
               "the item after a literal is lost");
    FUZZ_CHECK(!reader.getNode(name), "text after the last item");
}

void checkLiteralInFetch(const std::string& body) {
    try {
        readFetchItems(body);
    } catch (const ImapParserException&) {
        FUZZ_CHECK(false, "a FETCH response with a literal does not parse");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkResponse(text);
    checkNodes(text);
    checkStrings(text);
    checkLiteralInFetch(text);
    return 0;
}

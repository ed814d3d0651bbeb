#include "support/VantrelDump.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tarmig::testing {

namespace {

// Just enough JSON for the dump: objects, arrays, strings, integers, literals.
struct Json {
    enum Kind { Null, Literal, Number, String, Array, Object };
    Kind kind = Null;
    std::string text;  // string bytes, number digits or literal word
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& at(const std::string& key) const {
        for (const auto& [name, value] : members)
            if (name == key) return value;
        throw std::runtime_error("Vantrel dump: missing key \"" + key + "\"");
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    Json document() {
        Json result = value();
        skipSpace();
        if (pos_ != text_.size()) fail("text after the document");
        return result;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("Vantrel dump: " + what + " at offset " + std::to_string(pos_));
    }

    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t'))
            ++pos_;
    }

    char peek() {
        skipSpace();
        if (pos_ == text_.size()) fail("unexpected end");
        return text_[pos_];
    }

    void expect(char c) {
        if (peek() != c) fail(std::string("expected '") + c + "'");
        ++pos_;
    }

    Json value() {
        Json result;
        char c = peek();
        if (c == '{') {
            result.kind = Json::Object;
            ++pos_;
            if (peek() == '}') return ++pos_, result;
            do {
                std::string key = string();
                expect(':');
                result.members.emplace_back(std::move(key), value());
            } while (peek() == ',' && ++pos_);
            expect('}');
        } else if (c == '[') {
            result.kind = Json::Array;
            ++pos_;
            if (peek() == ']') return ++pos_, result;
            do {
                result.items.push_back(value());
            } while (peek() == ',' && ++pos_);
            expect(']');
        } else if (c == '"') {
            result.kind = Json::String;
            result.text = string();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            result.kind = Json::Number;
            while (pos_ < text_.size() && std::string_view("-+.eE0123456789").find(text_[pos_]) != std::string_view::npos)
                result.text += text_[pos_++];
        } else {
            for (const char* word : {"true", "false", "null"}) {
                if (text_.compare(pos_, std::char_traits<char>::length(word), word) == 0) {
                    result.kind = Json::Literal;
                    result.text = word;
                    pos_ += result.text.size();
                    return result;
                }
            }
            fail("unexpected character");
        }
        return result;
    }

    // Each code point is one byte of the original string, so only \u00XX occurs.
    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (pos_ >= text_.size()) fail("unterminated string");
            char c = text_[pos_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) fail("unterminated escape");
            char e = text_[pos_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::string digits = text_.substr(pos_, 4);
                if (digits.size() != 4 || !std::all_of(digits.begin(), digits.end(), [](unsigned char d) { return std::isxdigit(d) != 0; }))
                    fail("malformed \\u escape");
                unsigned long code = std::stoul(digits, nullptr, 16);
                if (code > 0xff) fail("escape outside one byte");
                out += static_cast<char>(code);
                pos_ += 4;
                break;
            }
            default: fail("unknown escape");
            }
        }
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

const std::string& text(const Json& value) {
    if (value.kind != Json::String) throw std::runtime_error("Vantrel dump: string expected");
    return value.text;
}

std::uint64_t number(const Json& value) {
    if (value.kind != Json::Number) throw std::runtime_error("Vantrel dump: number expected");
    return std::stoull(value.text);
}

const std::vector<Json>& array(const Json& value) {
    if (value.kind != Json::Array) throw std::runtime_error("Vantrel dump: array expected");
    return value.items;
}

std::vector<std::string> texts(const Json& value) {
    std::vector<std::string> out;
    for (const Json& item : array(value)) out.push_back(text(item));
    return out;
}

std::string decodeBase64(const std::string& encoded) {
    if (encoded.size() % 4 != 0) throw std::runtime_error("Vantrel dump: bad Base64 length");
    std::string out(encoded.size() / 4 * 3, '\0');
    int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(encoded.data()), static_cast<int>(encoded.size()));
    if (length < 0) throw std::runtime_error("Vantrel dump: bad Base64 data");
    // The block decoder counts the padding as zero bytes.
    std::size_t padding = 0;
    for (auto it = encoded.rbegin(); it != encoded.rend() && *it == '=' && padding < 2; ++it) ++padding;
    out.resize(static_cast<std::size_t>(length) - padding);
    return out;
}

VantrelMessage message(const Json& value) {
    VantrelMessage m;
    m.uid = number(value.at("uid"));
    m.flags = texts(value.at("flags"));
    m.date = text(value.at("date"));
    m.internalDate = text(value.at("internalDate"));
    m.via = text(value.at("via"));
    m.size = number(value.at("size"));
    m.data = decodeBase64(text(value.at("data")));
    return m;
}

VantrelFolder folder(const Json& value) {
    VantrelFolder f;
    f.name = text(value.at("name"));
    f.type = text(value.at("type"));
    f.guid = text(value.at("guid"));
    f.messageCount = number(value.at("messageCount"));
    for (const Json& item : array(value.at("messages"))) f.messages.push_back(message(item));
    return f;
}

VantrelAccount account(const Json& value) {
    VantrelAccount a;
    a.name = text(value.at("name"));
    a.domain = text(value.at("domain"));
    a.password = text(value.at("password"));
    a.fullName = text(value.at("fullName"));
    a.groups = texts(value.at("groups"));
    for (const Json& item : array(value.at("folders"))) a.folders.push_back(folder(item));
    return a;
}

}  // namespace

const VantrelFolder* VantrelAccount::folder(const std::string& folderName) const {
    for (const VantrelFolder& f : folders)
        if (f.name == folderName) return &f;
    return nullptr;
}

const VantrelAccount* VantrelDump::account(const std::string& name, const std::string& domain) const {
    for (const VantrelAccount& a : accounts)
        if (a.name == name && a.domain == domain) return &a;
    return nullptr;
}

VantrelDump parseVantrelDump(const std::string& json) {
    Json document = JsonReader(json).document();
    VantrelDump dump;
    for (const Json& item : array(document.at("accounts"))) dump.accounts.push_back(account(item));
    const Json& stats = document.at("stats");
    dump.stats.connections = number(stats.at("connections"));
    dump.stats.commands = number(stats.at("commands"));
    dump.stats.appends = number(stats.at("appends"));
    dump.stats.appendedBytes = number(stats.at("appendedBytes"));
    dump.stats.refusedAppends = number(stats.at("refusedAppends"));
    dump.stats.masterLogins = number(stats.at("masterLogins"));
    dump.stats.failedLogins = number(stats.at("failedLogins"));
    dump.stats.stores = number(stats.at("stores"));
    return dump;
}

}  // namespace tarmig::testing

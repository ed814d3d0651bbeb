#include "store/Parser.h"

#include <cstring>

#include "store/CGException.h"
#include "utils/KFile.h"

namespace tarmig {

using zenqa::utils::KStream;

namespace {

bool isAtomTerminator(int c) {
    return (c >= 0x00 && c <= 0x20) || c == ')' || c == ',' || c == ';' || c == '=';
}

bool isTimeStampChar(int c) { return (c >= '0' && c <= '9') || c == '-' || c == ':' || c == '_'; }

bool isAddressChar(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == ':' ||
           c == '%';
}

// Follows the markup of an XML value byte by byte until its outermost
// element is closed. Quoted attribute values may hold '>'; declarations,
// processing instructions and comments open nothing.
class XmlExtent {
public:
    enum State { Open, Complete, Broken };

    State current() const { return state; }

    State feed(int c) {
        if (state != Open) return state;
        if (!inTag) {
            if (c == '<') {
                inTag = true;
                tagBytes = 0;
                kind = Start;
            }
            return state;
        }
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            inTag = false;
            if (kind == Start && previous != '/') ++depth;
            else if (kind == End) --depth;
            if (depth < 0) state = Broken;
            else if (depth == 0 && kind != Markup) state = Complete;
        } else if (tagBytes == 0) {
            if (c == '/') kind = End;
            else if (c == '?' || c == '!') kind = Markup;
        }
        previous = c;
        ++tagBytes;
        return state;
    }

private:
    enum Kind { Start, End, Markup };
    State state = Open;
    bool inTag = false;
    Kind kind = Start;
    int quote = 0;
    int previous = 0;
    long tagBytes = 0;
    long depth = 0;
};

}  // namespace

void Parser::parse(const std::string& path, TreeNode& root) {
    zenqa::utils::KFile file;
    if (!file.open(path)) throw CGParseException("cannot open file " + path);
    try {
        Parser parser(&file, " in " + path);
        parser.getObject(root, nullptr);
    } catch (const CGParseException&) {
        if (!file.readFailed()) throw;
    }
    // What was read before a read error cannot be trusted, even when it parses.
    if (file.readFailed()) throw CGParseException("cannot read file " + path);
}

void Parser::parse(KStream* stream, TreeNode& root) {
    Parser parser(stream, "");
    parser.getObject(root, nullptr);
}

int Parser::get() {
    int c = stream->get();
    if (c == KStream::EndOfInput) {
        errorLine = line;
        errorByte = offset - lineStart + 1;
        return c;
    }
    ++offset;
    errorLine = line;
    errorByte = offset - lineStart;
    if (c == '\n') {
        ++line;
        previousLineStart = lineStart;
        lineStart = offset;
    }
    if (recording) recorded += static_cast<char>(c);
    return c;
}

void Parser::unget(int c) {
    if (c == KStream::EndOfInput) return;
    stream->unget(c);
    if (c == '\n') {
        --line;
        lineStart = previousLineStart;
    }
    --offset;
    // The byte pushed back is the one an error is found at.
    errorLine = line;
    errorByte = offset - lineStart + 1;
    if (recording) recorded.pop_back();
}

int Parser::peek() {
    int c = get();
    unget(c);
    return c;
}

void Parser::fail(const std::string& message) const {
    throw CGParseException(message + where + " at line " + std::to_string(errorLine) + ", byte " +
                           std::to_string(errorByte));
}

void Parser::expect(char byte) {
    if (get() != static_cast<unsigned char>(byte)) fail(std::string("expected '") + byte + "'");
}

bool Parser::skipWhiteChars() {
    int c;
    do {
        c = get();
        if (c == KStream::EndOfInput) return false;
    } while (isWhiteChar(c));
    unget(c);
    return true;
}

void Parser::skipWhiteCharsOrFail() {
    if (!skipWhiteChars()) fail("unexpected EOF");
}

void Parser::getObject(TreeNode& node, const char* followers) {
    if (!skipWhiteChars()) return;
    switch (peek()) {
    case '"':
        node.value = getSSymbols(followers);
        break;
    case '#': {
        int hash = get();
        int next = get();
        unget(next);
        unget(hash);
        switch (next) {
        case 'T':
            node.value = getTimeStamp();
            break;
        case 'I':
            node.value = getAddress();
            break;
        case 'N':
            node.value = getNull();
            break;
        case '(':
            node.value = getTypedArray();
            break;
        default:
            node.value = getNumber();
        }
        break;
    }
    case '(':
        getArray(node);
        break;
    case '[':
        node.value = getDataBlocks(followers);
        break;
    case '{':
        getDictionary(node);
        break;
    case '<':
        node.value = getXml(followers);
        break;
    default:
        node.value = getAtom();
    }
}

bool Parser::continuesWith(int opening, const char* followers) {
    // At the top level nothing after the first value is read.
    if (!followers || !skipWhiteChars()) return false;
    return peek() == opening;
}

std::string Parser::getString(const char* followers) {
    skipWhiteCharsOrFail();
    return peek() == '"' ? getSSymbols(followers) : getAtom();
}

std::string Parser::collect(bool (*keep)(int)) {
    std::string text;
    int c;
    while ((c = get()) != KStream::EndOfInput && keep(c)) text += static_cast<char>(c);
    unget(c);
    return text;
}

std::string Parser::getAtom() {
    std::string atom = collect([](int c) { return !isAtomTerminator(c); });
    if (atom.empty()) fail("atom expected");
    return atom;
}

std::string Parser::getXml(const char* followers) {
    // Read as a bare string first: markup without blanks or separators reads
    // as it always did. Only an element still open where the bare string
    // ends, and not followed by what may follow the value, goes on.
    std::string text = getAtom();
    if (!followers) return text;
    XmlExtent extent;
    for (char c : text) extent.feed(static_cast<unsigned char>(c));
    XmlExtent::State state = extent.current();
    if (state != XmlExtent::Open) return text;
    int c = peek();
    std::string white;
    while (c != KStream::EndOfInput && isWhiteChar(c)) {
        white += static_cast<char>(get());
        c = peek();
    }
    if (c == KStream::EndOfInput || std::strchr(followers, c)) return text;
    text += white;
    for (char w : white) extent.feed(static_cast<unsigned char>(w));
    while (state == XmlExtent::Open) {
        c = get();
        if (c == KStream::EndOfInput) fail("unexpected EOF");
        text += static_cast<char>(c);
        state = extent.feed(c);
    }
    if (state == XmlExtent::Broken) fail("bad XML value");
    return text;
}

std::string Parser::getSSymbols(const char* followers) {
    std::string text = getSSymbol();
    while (continuesWith('"', followers)) text += getSSymbol();
    return text;
}

std::string Parser::getSSymbol() {
    expect('"');
    std::string text;
    for (;;) {
        int c = get();
        if (c == KStream::EndOfInput) fail("unexpected EOF");
        if (c == '"') return text;
        if (c != '\\') {
            text += static_cast<char>(c);
            continue;
        }
        c = get();
        switch (c) {
        case 'n':
        case 'e':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case '"':
        case '\\':
            text += static_cast<char>(c);
            break;
        default:
            if (!isDigit(c)) {
                // At the end of the input the offending byte reads as 0xFF.
                fail(std::string("unknown escpae sequence '\\") + static_cast<char>(c) + "'");
            }
            int d2 = get();
            int d3 = isDigit(d2) ? get() : KStream::EndOfInput;
            if (!isDigit(d3)) fail("expected numerical escape sequence '\\nnn'");
            text += static_cast<char>(((c - '0') * 100 + (d2 - '0') * 10 + (d3 - '0')) % 256);
        }
    }
}

std::string Parser::getNumber() {
    expect('#');
    std::string number;
    int c = get();
    if (c == '-') {
        number += '-';
        c = get();
    }
    if (c == KStream::EndOfInput) fail("unexpected EOF");
    if (!isDigit(c)) fail("digit expected");
    unget(c);
    return number + collect(isDigit);
}

std::string Parser::getTimeStamp() {
    expect('#');
    expect('T');
    return collect(isTimeStampChar);
}

std::string Parser::getAddress() {
    expect('#');
    expect('I');
    expect('[');
    std::string address = collect(isAddressChar);
    int c = get();
    if (c == KStream::EndOfInput) fail("unexpected EOF");
    if (c != ']' || address.empty()) fail("bad char in address");
    std::string text = "#I[" + address + "]";
    if (peek() != ':') return text;
    get();
    c = peek();
    if (c == KStream::EndOfInput) fail("unexpected EOF");
    if (!isDigit(c)) {
        get();
        fail("digit expected");
    }
    return text + ":" + collect(isDigit);
}

std::string Parser::getNull() {
    for (char c : std::string("#NULL#")) {
        int got = get();
        if (got == KStream::EndOfInput) fail("unexpected EOF");
        if (got != static_cast<unsigned char>(c)) fail("expected '#NULL#'");
    }
    return "#NULL#";
}

std::string Parser::getTypedArray() {
    // Nested typed arrays are part of the outermost one's text.
    bool outermost = !recording;
    if (outermost) {
        recording = true;
        recorded.clear();
    }
    expect('#');
    TreeNode elements;
    getArray(elements);
    if (!outermost) return "";
    recording = false;
    return std::move(recorded);
}

std::string Parser::getDataBlock() {
    expect('[');
    std::string block;
    for (;;) {
        int c = get();
        if (c == KStream::EndOfInput) fail("unexpected EOF");
        if (c == ']') return block;
        if (!isBSymbol(c)) fail("bad char in datablock");
        block += static_cast<char>(c);
    }
}

std::string Parser::getDataBlocks(const char* followers) {
    std::string block = getDataBlock();
    while (continuesWith('[', followers)) block += getDataBlock();
    return block;
}

void Parser::getDictionary(TreeNode& node) {
    expect('{');
    if (++depth > MaxDepth) fail("nesting too deep");
    for (;;) {
        skipWhiteCharsOrFail();
        if (peek() == '}') {
            get();
            break;
        }
        std::string key = getString("=");
        skipWhiteCharsOrFail();
        if (get() != '=') fail("expected '='");
        getObject(node[key], ";");
        skipWhiteCharsOrFail();
        if (get() != ';') fail("expected ';'");
    }
    --depth;
}

void Parser::getArray(TreeNode& node) {
    expect('(');
    if (++depth > MaxDepth) fail("nesting too deep");
    for (int index = 0;; ++index) {
        skipWhiteCharsOrFail();
        if (peek() == ')') {
            get();
            break;
        }
        if (index > 0 && get() != ',') fail("expected ','");
        getObject(node[index], ",)");
    }
    --depth;
}

}  // namespace tarmig

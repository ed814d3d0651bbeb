#include "store/Parser.h"

#include "store/CGException.h"
#include "utils/KFile.h"

namespace tarmig {

using zenqa::utils::KStream;

namespace {

[[noreturn]] void fail(const std::string& message) { throw CGParseException(message); }

bool isAtomTerminator(int c) {
    return (c >= 0x00 && c <= 0x20) || c == ')' || c == ',' || c == ';' || c == '=';
}

bool isTimeStampChar(int c) { return (c >= '0' && c <= '9') || c == '-' || c == ':' || c == '_'; }

}  // namespace

void Parser::parse(const std::string& path, TreeNode& root) {
    zenqa::utils::KFile file;
    if (!file.open(path)) fail("cannot open file " + path);
    try {
        parse(&file, root);
    } catch (const CGParseException&) {
        if (!file.readFailed()) throw;
    }
    // What was read before a read error cannot be trusted, even when it parses.
    if (file.readFailed()) fail("cannot read file " + path);
}

void Parser::parse(KStream* stream, TreeNode& root) {
    Parser parser(stream);
    parser.getObject(root);
}

int Parser::peek() {
    int c = stream->get();
    stream->unget(c);
    return c;
}

void Parser::expect(char byte) {
    if (stream->get() != static_cast<unsigned char>(byte)) fail(std::string("expected '") + byte + "'");
}

bool Parser::skipWhiteChars() {
    int c;
    do {
        c = stream->get();
        if (c == KStream::EndOfInput) return false;
    } while (isWhiteChar(c));
    stream->unget(c);
    return true;
}

void Parser::skipWhiteCharsOrFail() {
    if (!skipWhiteChars()) fail("unexpected EOF");
}

void Parser::getObject(TreeNode& node) {
    if (!skipWhiteChars()) return;
    switch (peek()) {
    case '"':
        node.value = getSSymbol();
        break;
    case '#': {
        int hash = stream->get();
        int next = stream->get();
        stream->unget(next);
        stream->unget(hash);
        node.value = next == 'T' ? getTimeStamp() : getNumber();
        break;
    }
    case '(':
        getArray(node);
        break;
    case '[':
        node.value = getDataBlock();
        break;
    case '{':
        getDictionary(node);
        break;
    default:
        node.value = getAtom();
    }
}

std::string Parser::getString() {
    skipWhiteCharsOrFail();
    return peek() == '"' ? getSSymbol() : getAtom();
}

std::string Parser::collect(bool (*keep)(int)) {
    std::string text;
    int c;
    while ((c = stream->get()) != KStream::EndOfInput && keep(c)) text += static_cast<char>(c);
    stream->unget(c);
    return text;
}

std::string Parser::getAtom() {
    std::string atom = collect([](int c) { return !isAtomTerminator(c); });
    if (atom.empty()) fail("atom expected");
    return atom;
}

std::string Parser::getSSymbol() {
    expect('"');
    std::string text;
    for (;;) {
        int c = stream->get();
        if (c == KStream::EndOfInput) fail("unexpected EOF");
        if (c == '"') return text;
        if (c != '\\') {
            text += static_cast<char>(c);
            continue;
        }
        c = stream->get();
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
            int d2 = stream->get();
            int d3 = isDigit(d2) ? stream->get() : KStream::EndOfInput;
            if (!isDigit(d3)) fail("expected numerical escape sequence '\\nnn'");
            text += static_cast<char>(((c - '0') * 100 + (d2 - '0') * 10 + (d3 - '0')) % 256);
        }
    }
}

std::string Parser::getNumber() {
    expect('#');
    std::string number;
    int c = stream->get();
    if (c == '-') {
        number += '-';
        c = stream->get();
    }
    if (c == KStream::EndOfInput) fail("unexpected EOF");
    if (!isDigit(c)) fail("digit expected");
    stream->unget(c);
    return number + collect(isDigit);
}

std::string Parser::getTimeStamp() {
    expect('#');
    expect('T');
    return collect(isTimeStampChar);
}

std::string Parser::getDataBlock() {
    expect('[');
    std::string block;
    for (;;) {
        int c = stream->get();
        if (c == KStream::EndOfInput) fail("unexpected EOF");
        if (c == ']') return block;
        if (!isBSymbol(c)) fail("bad char in datablock");
        block += static_cast<char>(c);
    }
}

void Parser::getDictionary(TreeNode& node) {
    expect('{');
    if (++depth > MaxDepth) fail("nesting too deep");
    for (;;) {
        skipWhiteCharsOrFail();
        if (peek() == '}') {
            stream->get();
            break;
        }
        std::string key = getString();
        skipWhiteCharsOrFail();
        if (stream->get() != '=') fail("expected '='");
        getObject(node[key]);
        skipWhiteCharsOrFail();
        if (stream->get() != ';') fail("expected ';'");
    }
    --depth;
}

void Parser::getArray(TreeNode& node) {
    expect('(');
    if (++depth > MaxDepth) fail("nesting too deep");
    for (int index = 0;; ++index) {
        skipWhiteCharsOrFail();
        if (peek() == ')') {
            stream->get();
            break;
        }
        if (index > 0 && stream->get() != ',') fail("expected ','");
        getObject(node[index]);
    }
    --depth;
}

}  // namespace tarmig

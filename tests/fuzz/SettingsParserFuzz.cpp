// Settings text either parses or raises CGParseException. What it yields
// does not depend on how the bytes arrive in blocks, and a parsed tree written
// out in plain quoted form reads back as the same tree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "store/CGException.h"
#include "store/Parser.h"
#include "store/TreeNode.h"
#include "utils/KStream.h"

namespace {

using tarmig::TreeNode;

// Hands out the caller's buffer, which ends exactly where the input does, in
// blocks of blockSize bytes (0: all at once), optionally with an empty block
// before each, so a read past the input is a sanitizer report and a block
// boundary falls inside every token.
class BlockStream : public zenqa::utils::KStream {
public:
    BlockStream(const char* data, std::size_t size, std::size_t blockSize, bool emptyBlocks)
        : data_(data), size_(size), blockSize_(blockSize == 0 ? size : blockSize), emptyBlocks_(emptyBlocks) {}

protected:
    bool nextBlock(const char*& begin, const char*& end) override {
        if (position_ == size_) return false;
        begin = end = data_ + position_;
        if (emptyBlocks_ && (emptyNext_ = !emptyNext_)) return true;
        position_ = std::min(size_, position_ + blockSize_);
        end = data_ + position_;
        return true;
    }

private:
    const char* data_;
    std::size_t size_;
    std::size_t blockSize_;
    bool emptyBlocks_;
    bool emptyNext_ = false;
    std::size_t position_ = 0;
};

struct Outcome {
    bool parsed = false;
    std::string error;
    TreeNode root;
};

void parse(const char* data, std::size_t size, std::size_t blockSize, bool emptyBlocks, Outcome& outcome) {
    BlockStream stream(data, size, blockSize, emptyBlocks);
    try {
        tarmig::Parser::parse(&stream, outcome.root);
        outcome.parsed = true;
    } catch (const tarmig::CGParseException& e) {
        outcome.error = e.what();
    }
}

bool sameTree(const TreeNode& a, const TreeNode& b) {
    if (a.value != b.value || a.children.size() != b.children.size() || a.elements.size() != b.elements.size()) {
        return false;
    }
    for (auto i = a.children.begin(), j = b.children.begin(); i != a.children.end(); ++i, ++j) {
        if (i->first != j->first || !sameTree(*i->second, *j->second)) return false;
    }
    for (auto i = a.elements.begin(), j = b.elements.begin(); i != a.elements.end(); ++i, ++j) {
        if (i->first != j->first || !sameTree(*i->second, *j->second)) return false;
    }
    return true;
}

// Whether every node holds one kind of content with elements numbered from 0.
// A key given twice merges both values into one node, which no text shows.
bool writable(const TreeNode& node) {
    int kinds = static_cast<int>(!node.value.empty()) + static_cast<int>(!node.children.empty()) +
                static_cast<int>(!node.elements.empty());
    if (kinds > 1) return false;
    int expected = 0;
    for (const auto& [index, element] : node.elements) {
        if (index != expected++ || !writable(*element)) return false;
    }
    for (const auto& [key, child] : node.children) {
        if (!writable(*child)) return false;
    }
    return true;
}

void writeString(const std::string& text, std::string& out) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += '\\';
            out += static_cast<char>('0' + c / 100);
            out += static_cast<char>('0' + c / 10 % 10);
            out += static_cast<char>('0' + c % 10);
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

bool byteLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

// Every scalar as a quoted string: the parser keeps scalars as text, so the
// quoted form stands for atoms, numbers, time stamps and data blocks alike.
void write(const TreeNode& node, std::string& out) {
    if (!node.children.empty()) {
        out += '{';
        const std::string* previous = nullptr;
        for (const auto& [key, child] : node.children) {
            // Keys come out in unsigned byte order, the order written files keep.
            FUZZ_CHECK(!previous || byteLess(*previous, key), "dictionary keys not in byte order");
            previous = &key;
            writeString(key, out);
            out += '=';
            write(*child, out);
            out += ';';
        }
        out += '}';
    } else if (!node.elements.empty()) {
        out += '(';
        for (const auto& [index, element] : node.elements) {
            if (index > 0) out += ',';
            write(*element, out);
        }
        out += ')';
    } else {
        writeString(node.value, out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    Outcome whole;
    parse(text, size, 0, false, whole);

    Outcome bytewise;
    parse(text, size, 1, true, bytewise);
    FUZZ_CHECK(whole.parsed == bytewise.parsed && whole.error == bytewise.error,
               "outcome depends on the stream's blocks");
    FUZZ_CHECK(sameTree(whole.root, bytewise.root), "tree depends on the stream's blocks");

    if (whole.parsed && writable(whole.root)) {
        std::string written;
        write(whole.root, written);
        Outcome reread;
        parse(written.data(), written.size(), 0, false, reread);
        FUZZ_CHECK(reread.parsed, "written tree does not parse");
        FUZZ_CHECK(sameTree(whole.root, reread.root), "written tree reads back different");
    }
    return 0;
}

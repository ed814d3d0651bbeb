#pragma once

#include <string>

// The target server's folder types travel as bits of a 32-bit set: written as
// one extension word with CREATE, read back as attribute flags of LIST.
namespace ListExtension {
constexpr unsigned Contact = 0x1;
constexpr unsigned Calendar = 0x2;
constexpr unsigned Todo = 0x4;
constexpr unsigned Journal = 0x8;
constexpr unsigned Mail = 0x10;
constexpr unsigned Mapi = 0x20;
constexpr unsigned Note = 0x40;
constexpr unsigned Search = 0x80;
constexpr unsigned All = 0x7fff;
constexpr unsigned NoSelect = 0x10000;
}  // namespace ListExtension

// The CREATE extension word of a bit set: "X-ALL" when every type bit is set,
// otherwise the word of the lowest type bit, or empty.
std::string convertListExtension(unsigned bits);
// The bits named by the attribute flags found anywhere in a LIST attribute text.
unsigned convertListExtension(const std::string& flagText);

#include "utils/ModifiedUtf7.h"

#include <cstdint>
#include <vector>

namespace zenqa::mail {

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool printable(std::uint32_t c) { return c >= 0x20 && c <= 0x7e; }

// The next code point of `text` at `at`, advancing `at`; none when the bytes
// there are not well-formed UTF-8.
std::optional<std::uint32_t> nextCodePoint(const std::string& text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) return lead;
    int more = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if ((lead & 0xe0) == 0xc0) {
        more = 1, c = lead & 0x1f, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        more = 2, c = lead & 0x0f, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        more = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    for (int i = 0; i < more; ++i) {
        if (at >= text.size()) return std::nullopt;
        const auto next = static_cast<unsigned char>(text[at++]);
        if ((next & 0xc0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3f);
    }
    if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return std::nullopt;
    return c;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// "&", the UTF-16 units in modified base64, "-".
void appendShifted(std::string& out, const std::vector<std::uint16_t>& units) {
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (std::uint16_t unit : units) {
        bits = (bits << 16) | unit;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += alphabet[(bits >> count) & 0x3f];
        }
    }
    if (count > 0) out += alphabet[(bits << (6 - count)) & 0x3f];
    out += '-';
}

int alphabetIndex(char ch) {
    if (ch >= 'A' && ch <= 'Z') return ch - 'A';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9') return ch - '0' + 52;
    if (ch == '+') return 62;
    if (ch == ',') return 63;
    return -1;
}

// The characters of one shifted run (the text between "&" and "-"), added
// to `out` as UTF-8; false when the run is not valid modified base64 of
// UTF-16 text that needs the shift.
bool decodeShifted(const std::string& run, std::string& out) {
    std::uint32_t bits = 0;
    int count = 0;
    std::uint32_t highSurrogate = 0;
    for (char ch : run) {
        const int value = alphabetIndex(ch);
        if (value < 0) return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count < 16) continue;
        count -= 16;
        const std::uint32_t unit = (bits >> count) & 0xffff;
        bits &= (1u << count) - 1;
        if (highSurrogate != 0) {
            if (unit < 0xdc00 || unit > 0xdfff) return false;
            appendUtf8(out, 0x10000 + ((highSurrogate - 0xd800) << 10) + (unit - 0xdc00));
            highSurrogate = 0;
        } else if (unit >= 0xd800 && unit <= 0xdbff) {
            highSurrogate = unit;
        } else if ((unit >= 0xdc00 && unit <= 0xdfff) || printable(unit)) {
            return false;
        } else {
            appendUtf8(out, unit);
        }
    }
    // Leftover bits are padding: fewer than six, all zero.
    return highSurrogate == 0 && count < 6 && bits == 0;
}

}  // namespace

std::optional<std::string> utf8ToModifiedUtf7(const std::string& name) {
    std::string out;
    std::vector<std::uint16_t> units;
    std::size_t at = 0;
    while (at < name.size()) {
        const std::optional<std::uint32_t> c = nextCodePoint(name, at);
        if (!c) return std::nullopt;
        if (printable(*c)) {
            if (!units.empty()) {
                appendShifted(out, units);
                units.clear();
            }
            out += static_cast<char>(*c);
            if (*c == '&') out += '-';
        } else if (*c < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(*c));
        } else {
            const std::uint32_t offset = *c - 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xd800 + (offset >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xdc00 + (offset & 0x3ff)));
        }
    }
    if (!units.empty()) appendShifted(out, units);
    return out;
}

std::optional<std::string> modifiedUtf7ToUtf8(const std::string& name) {
    std::string out;
    std::size_t at = 0;
    while (at < name.size()) {
        const char ch = name[at];
        if (!printable(static_cast<unsigned char>(ch))) return std::nullopt;
        if (ch != '&') {
            out += ch;
            ++at;
            continue;
        }
        const std::size_t end = name.find('-', at + 1);
        if (end == std::string::npos) return std::nullopt;
        const std::string run = name.substr(at + 1, end - at - 1);
        if (run.empty()) {
            out += '&';
        } else if (!decodeShifted(run, out)) {
            return std::nullopt;
        }
        at = end + 1;
    }
    return out;
}

}  // namespace zenqa::mail

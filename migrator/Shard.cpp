#include "migrator/Shard.h"

#include <charconv>

namespace tarmig {

namespace {

// Digits only: no sign, no spaces, no empty number.
bool wholeNumber(std::string_view text, unsigned& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool Shard::contains(const std::string& account, const std::string& domain) const {
    if (count <= 1) return true;
    std::string address = account + "@" + domain;
    // ASCII only, so that no locale can move an account to another part.
    for (char& c : address)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return fnv1a64(address) % count + 1 == index;
}

bool parseShard(const std::string& text, Shard& shard) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    unsigned index = 0, count = 0;
    std::string_view view(text);
    if (!wholeNumber(view.substr(0, slash), index) || !wholeNumber(view.substr(slash + 1), count)) return false;
    if (index < 1 || index > count) return false;
    shard = Shard{index, count};
    return true;
}

}  // namespace tarmig

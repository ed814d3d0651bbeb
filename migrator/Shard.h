#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarmig {

// 64-bit FNV-1a of the bytes.
std::uint64_t fnv1a64(std::string_view bytes);

// One part of a store split among several runs (-shard K/N): an account
// belongs to part hash mod N + 1, where hash is fnv1a64 of "account@domain"
// with ASCII letters lower-cased. The same on every machine and every run, so
// the N parts together take every account exactly once.
struct Shard {
    unsigned index = 1;  // K, from 1
    unsigned count = 1;  // N

    bool contains(const std::string& account, const std::string& domain) const;
};

// Reads "K/N" with 1 <= K <= N, both plain decimal numbers; false for anything else.
bool parseShard(const std::string& text, Shard& shard);

}  // namespace tarmig

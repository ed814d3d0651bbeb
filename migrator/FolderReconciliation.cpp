#include "migrator/FolderReconciliation.h"

#include "imap/TargetMessage.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <sstream>
#include <tuple>

namespace tarmig {

namespace {

// The system flags a client may set, in the order the store lists them.
constexpr std::array<const char*, 5> settableFlags = {"\\Seen", "\\Deleted", "\\Answered", "\\Flagged",
                                                      "\\Draft"};

// Bit i for settableFlags[i]; -1 for any other flag.
int settableBit(const std::string& flag) {
    for (std::size_t i = 0; i < settableFlags.size(); ++i)
        if (strcasecmp(flag.c_str(), settableFlags[i]) == 0) return 1 << i;
    return -1;
}

unsigned settableMask(const std::vector<std::string>& flags) {
    unsigned mask = 0;
    for (const std::string& flag : flags) {
        const int bit = settableBit(flag);
        if (bit > 0) mask |= static_cast<unsigned>(bit);
    }
    return mask;
}

std::vector<std::string> splitFlagText(const std::string& text) {
    std::vector<std::string> flags;
    std::istringstream words(text);
    for (std::string flag; words >> flag;) flags.push_back(flag);
    return flags;
}

using FullKey = std::tuple<std::optional<std::time_t>, std::uint64_t, std::optional<std::string>>;
using LooseKey = std::tuple<std::uint64_t, std::optional<std::string>>;

FullKey fullKey(const MessageKey& key) { return {key.arrival, key.size, key.messageId}; }
LooseKey looseKey(const MessageKey& key) { return {key.size, key.messageId}; }

}  // namespace

bool flagsToStore(const std::string& storeFlags, const std::vector<std::string>& targetFlags,
                  std::vector<std::string>& newFlags) {
    newFlags.clear();
    const unsigned wanted = settableMask(splitFlagText(storeFlags));
    if (wanted == settableMask(targetFlags)) return false;
    for (std::size_t i = 0; i < settableFlags.size(); ++i)
        if (wanted & (1u << i)) newFlags.emplace_back(settableFlags[i]);
    for (const std::string& flag : targetFlags)
        if (!flag.empty() && flag[0] != '\\') newFlags.push_back(flag);
    return true;
}

FolderReconciliation reconcileFolder(const std::vector<StoreMessageState>& store,
                                     const std::vector<TargetMessage>& target) {
    std::vector<bool> taken(target.size(), false);
    std::vector<std::optional<std::size_t>> match(store.size());

    // Dated messages first: they match exactly, so a message without a date
    // cannot take the copy of one that has its date.
    std::vector<MessageKey> targetKeys;
    for (const TargetMessage& message : target) targetKeys.push_back(targetMessageKey(message));
    std::map<FullKey, std::deque<std::size_t>> byFullKey;
    for (std::size_t t = 0; t < target.size(); ++t) byFullKey[fullKey(targetKeys[t])].push_back(t);
    for (std::size_t s = 0; s < store.size(); ++s) {
        const MessageKey& key = store[s].key;
        if (!key.arrival) continue;
        auto found = byFullKey.find(fullKey(key));
        if (found == byFullKey.end() || found->second.empty()) continue;
        match[s] = found->second.front();
        taken[found->second.front()] = true;
        found->second.pop_front();
    }

    std::map<LooseKey, std::deque<std::size_t>> byLooseKey;
    for (std::size_t t = 0; t < target.size(); ++t)
        if (!taken[t]) byLooseKey[looseKey(targetKeys[t])].push_back(t);
    for (std::size_t s = 0; s < store.size(); ++s) {
        const MessageKey& key = store[s].key;
        if (key.arrival) continue;
        auto found = byLooseKey.find(looseKey(key));
        if (found == byLooseKey.end() || found->second.empty()) continue;
        match[s] = found->second.front();
        found->second.pop_front();
    }

    FolderReconciliation plan;
    for (std::size_t s = 0; s < store.size(); ++s) {
        if (!match[s]) {
            plan.toSend.push_back(s);
            continue;
        }
        ++plan.alreadyPresent;
        const TargetMessage& copy = target[*match[s]];
        FlagUpdate update{copy.uid, {}};
        if (flagsToStore(store[s].flags, copy.flags, update.flags)) plan.flagUpdates.push_back(std::move(update));
    }
    plan.notInStore = target.size() - plan.alreadyPresent;
    return plan;
}

}  // namespace tarmig

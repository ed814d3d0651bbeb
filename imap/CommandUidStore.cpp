#include "imap/CommandUidStore.h"

#include <algorithm>

CommandUidStore::CommandUidStore(ImapTransport& transport, std::uint32_t uid,
                                 const std::vector<std::string>& flags)
    : Command(transport, "UID") {
    addParam("STORE");
    addParam(uid);
    addParam("FLAGS");
    addParamVector(flags);
}

bool isFlagText(const std::string& flag) {
    const std::size_t start = !flag.empty() && flag[0] == '\\' ? 1 : 0;
    if (flag.size() == start) return false;
    return std::all_of(flag.begin() + static_cast<std::ptrdiff_t>(start), flag.end(), [](unsigned char c) {
        // atom-specials of RFC 3501, with CTL, space and 8-bit bytes.
        return c > 0x20 && c < 0x7f && std::string_view("(){%*\"\\]").find(static_cast<char>(c)) == std::string_view::npos;
    });
}

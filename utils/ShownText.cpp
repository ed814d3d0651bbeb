#include "utils/ShownText.h"

namespace zenqa::utils {

namespace {

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7f; }

}  // namespace

std::string shownText(std::string_view text) {
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!isControl(byte)) {
            shown += c;
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else {
            shown += "\\x";
            shown += hexDigits[byte >> 4];
            shown += hexDigits[byte & 0x0f];
        }
    }
    return shown;
}

}  // namespace zenqa::utils

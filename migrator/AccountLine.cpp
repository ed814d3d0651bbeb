#include "migrator/AccountLine.h"

#include <cstdio>
#include <cstdlib>

#include "store/Mailbox.h"

namespace tarmig {

std::string formatSize(std::int64_t size) {
    constexpr std::int64_t kilo = 1024, mega = 1048576, giga = 1073741824;
    const char* unit;
    double scaled;
    if (size / kilo == 0) return std::to_string(size) + "B";
    if (size / mega == 0) {
        scaled = static_cast<double>(size) * (1.0 / kilo);
        unit = "KB";
    } else if (size / giga != 0) {
        scaled = static_cast<double>(size) * (1.0 / giga);
        unit = "GB";
    } else {
        scaled = static_cast<double>(size) * (1.0 / mega);
        unit = "MB";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.1f%s", scaled, unit);
    return text;
}

std::string accountSize(const Mailbox& mailbox) {
    return formatSize(std::strtoll(mailbox.size.c_str(), nullptr, 10));
}

std::string accountTime(std::time_t when) {
    char text[64];  // ctime_r needs 26
    if (::ctime_r(&when, text) == nullptr) return ", time: ?\n";
    return std::string(", time: ") + text;
}

}  // namespace tarmig

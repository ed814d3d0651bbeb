#include "utils/ImapDateTime.h"

#include <strings.h>

#include <array>
#include <cstdint>
#include <string>

namespace zenqa::mail {

namespace {

constexpr std::array<const char*, 12> monthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads exactly `count` decimal digits at `at`.
bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian); a day
// past the month's end runs on into the next month, as the store's dates may.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

std::optional<std::time_t> parseImapDateTime(std::string_view text) {
    // A one-digit day comes bare or after a space; make it two columns wide.
    std::string padded;
    if (text.size() == 25 && text[1] == '-') {
        padded = " " + std::string(text);
        text = padded;
    }
    if (text.size() != 26 || text[2] != '-' || text[6] != '-' || text[11] != ' ' ||
        text[14] != ':' || text[17] != ':' || text[20] != ' ' ||
        (text[21] != '+' && text[21] != '-'))
        return std::nullopt;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, zoneHours = 0, zoneMinutes = 0;
    const bool dayRead = text[0] == ' ' ? digits(text, 1, 1, day) : digits(text, 0, 2, day);
    if (!dayRead || !digits(text, 7, 4, year) || !digits(text, 12, 2, hour) ||
        !digits(text, 15, 2, minute) || !digits(text, 18, 2, second) ||
        !digits(text, 22, 2, zoneHours) || !digits(text, 24, 2, zoneMinutes))
        return std::nullopt;
    int month = 0;
    for (std::size_t i = 0; i < monthNames.size(); ++i)
        if (strncasecmp(text.data() + 3, monthNames[i], 3) == 0) month = static_cast<int>(i) + 1;
    if (month == 0 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60 || zoneMinutes > 59)
        return std::nullopt;
    std::int64_t seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                           hour * 3600 + minute * 60 + second;
    const int zone = (zoneHours * 60 + zoneMinutes) * 60;
    seconds -= text[21] == '+' ? zone : -zone;
    return static_cast<std::time_t>(seconds);
}

}  // namespace zenqa::mail

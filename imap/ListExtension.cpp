#include "imap/ListExtension.h"

#include <array>

namespace {

struct TypeWords {
    unsigned bit;
    const char* createWord;
    const char* listFlag;
};

constexpr std::array<TypeWords, 8> typeWords{{
    {ListExtension::Contact, "X-CONTACT", "\\ZenqaContact"},
    {ListExtension::Calendar, "X-CALENDAR", "\\ZenqaCalendar"},
    {ListExtension::Todo, "X-TODO", "\\ZenqaTodo"},
    {ListExtension::Journal, "X-JOURNAL", "\\ZenqaJournal"},
    {ListExtension::Mail, "X-MAIL", "\\ZenqaMail"},
    {ListExtension::Mapi, "X-MAPI", "\\ZenqaMapi"},
    {ListExtension::Note, "X-NOTE", "\\ZenqaNote"},
    {ListExtension::Search, "X-SEARCH", "\\ZenqaSearch"},
}};

}  // namespace

std::string convertListExtension(unsigned bits) {
    if ((bits & ListExtension::All) == ListExtension::All) return "X-ALL";
    for (const auto& t : typeWords)
        if (bits & t.bit) return t.createWord;
    return "";
}

unsigned convertListExtension(const std::string& flagText) {
    unsigned bits = 0;
    for (const auto& t : typeWords)
        if (flagText.find(t.listFlag) != std::string::npos) bits |= t.bit;
    if (flagText.find("\\Noselect") != std::string::npos) bits |= ListExtension::NoSelect;
    return bits;
}

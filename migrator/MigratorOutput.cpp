#include <cstdio>
#include <iostream>
#include <string>

#include "migrator/Migrator.h"

namespace tarmig {

Migrator& Migrator::operator<<(const char* text) {
    if (!quiet) std::cout << text << std::flush;
    output << text << std::flush;
    return *this;
}

Migrator& Migrator::operator<<(const std::string& text) { return *this << text.c_str(); }

Migrator& Migrator::operator<<(int value) { return *this << std::to_string(value); }

int Migrator::printProgress(int current, int total, bool quiet) {
    if (quiet) return 0;
    std::string counter = std::to_string(current) + "/" + std::to_string(total);
    std::cout << counter << std::flush;
    return static_cast<int>(counter.size());
}

void Migrator::clearOutput(int count, bool quiet) {
    if (quiet) return;
    for (int i = 0; i < count; ++i) std::cout << "\b \b" << std::flush;
}

std::string Migrator::formatSize(std::int64_t size) {
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

}  // namespace tarmig

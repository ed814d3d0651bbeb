#pragma once

#include "utils/IMessage.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarmig::testing {

// A message source over fixed parts, as the store's messages deliver them.
class TestMessage : public IMessage {
public:
    TestMessage(std::vector<std::string> parts, std::string flags, std::string date)
        : parts(std::move(parts)), flags(std::move(flags)), date(std::move(date)) {}

    // Makes the part with this index fail as a store read error does.
    void failAtPart(std::size_t index) { failingPart = index; }

    bool getFirstDataPart(std::string& part) override {
        next = 0;
        return getNextDataPart(part);
    }
    bool getNextDataPart(std::string& part) override {
        if (next == failingPart) throw std::runtime_error("message cannot be read");
        if (next >= parts.size()) return false;
        part = parts[next++];
        return true;
    }
    std::string getFlags() override { return flags; }
    std::string getDate() override { return date; }
    std::int64_t getSize() override { return getFixedSize(); }
    std::int64_t getFixedSize() override {
        std::int64_t size = 0;
        for (const auto& p : parts) size += static_cast<std::int64_t>(p.size());
        return size;
    }

private:
    std::vector<std::string> parts;
    std::string flags;
    std::string date;
    std::size_t next = 0;
    std::size_t failingPart = SIZE_MAX;
};

}  // namespace tarmig::testing

#pragma once

#include "utils/IMessage.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// A message source with given data parts. beforePart runs before each part
// is handed out (with its index) and may throw to simulate a failing source.
class ScriptedMessage : public IMessage {
public:
    explicit ScriptedMessage(std::vector<std::string> parts) : parts(std::move(parts)) {}

    std::function<void(std::size_t index)> beforePart;

    bool getFirstDataPart(std::string& part) override {
        next = 0;
        return getNextDataPart(part);
    }
    bool getNextDataPart(std::string& part) override {
        if (next >= parts.size()) {
            return false;
        }
        if (beforePart) {
            beforePart(next);
        }
        part = parts[next++];
        return true;
    }
    std::string getFlags() override { return ""; }
    std::string getDate() override { return ""; }
    std::int64_t getSize() override { return getFixedSize(); }
    std::int64_t getFixedSize() override {
        std::int64_t total = 0;
        for (const std::string& part : parts) {
            total += static_cast<std::int64_t>(part.size());
        }
        return total;
    }

private:
    std::vector<std::string> parts;
    std::size_t next = 0;
};

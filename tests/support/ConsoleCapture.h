#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace tarmig::testing {

// Redirects std::cout into a string for the lifetime of the object.
class ConsoleCapture {
public:
    ConsoleCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~ConsoleCapture() { std::cout.rdbuf(old_); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

}  // namespace tarmig::testing

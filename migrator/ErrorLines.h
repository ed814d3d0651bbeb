#pragma once

#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace tarmig {

// Passes everything written through to another stream buffer and, while
// recording, keeps the lines that start "Error: " (without their line ends):
// the engine writes its errors to the log from many places, and the report
// lists each account's errors as the log has them.
class ErrorLines : public std::streambuf {
public:
    explicit ErrorLines(std::streambuf* target) : target_(target) {}

    // Starts recording afresh; the lines of an earlier account are dropped.
    void start();
    // Stops recording and returns the lines recorded since start().
    std::vector<std::string> stop();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    void take(std::string_view text);

    std::streambuf* target_;
    bool recording_ = false;
    std::string line_;
    std::vector<std::string> lines_;
};

}  // namespace tarmig

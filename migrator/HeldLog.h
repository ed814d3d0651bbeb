#pragma once

#include <cstdio>
#include <streambuf>
#include <string>

namespace tarmig {

// An account's log text, held until the account ends so that it reaches the
// log in one piece: in memory up to a limit, then in an unnamed temporary
// file, so a large account does not grow the process. If no temporary file
// can be made the text stays in memory: it is never dropped.
class HeldLog : public std::streambuf {
public:
    explicit HeldLog(std::size_t memoryLimit = 1 << 20) : limit_(memoryLimit) {}
    ~HeldLog() override;
    HeldLog(const HeldLog&) = delete;
    HeldLog& operator=(const HeldLog&) = delete;

    // Writes everything held to target, in order, and starts empty.
    void moveTo(std::streambuf& target);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    void spill();

    std::size_t limit_;
    std::string memory_;
    std::FILE* file_ = nullptr;
    bool fileFull_ = false;  // the file took no more: the rest is in memory
};

}  // namespace tarmig

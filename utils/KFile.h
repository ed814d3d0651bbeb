#pragma once

#include <string>

#include "utils/KStream.h"

namespace zenqa::utils {

// A regular file read as raw bytes in blocks of 4096.
class KFile : public KStream {
public:
    static constexpr std::size_t BlockSize = 4096;

    KFile() = default;
    ~KFile() override;

    // Opens path for reading. Only regular files (or links to them) open:
    // a directory, a FIFO or a device is refused without blocking.
    bool open(const std::string& path);
    void close();

protected:
    bool nextBlock(const char*& begin, const char*& end) override;

private:
    int fd_ = -1;
    char buffer_[BlockSize];
};

}  // namespace zenqa::utils

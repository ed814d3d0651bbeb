#pragma once

#include <string>
#include <utility>

#include "utils/KStream.h"

namespace zenqa::utils {

// Bytes held in memory, read as one block.
class KMemoryStream : public KStream {
public:
    explicit KMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

protected:
    bool nextBlock(const char*& begin, const char*& end) override {
        if (delivered_) return false;
        delivered_ = true;
        begin = bytes_.data();
        end = bytes_.data() + bytes_.size();
        return true;
    }

private:
    std::string bytes_;
    bool delivered_ = false;
};

}  // namespace zenqa::utils

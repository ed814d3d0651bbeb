#include "utils/KStream.h"

#include <stdexcept>

namespace zenqa::utils {

void KStream::unget(int byte) {
    if (byte == EndOfInput) return;
    if (pushedCount_ == 2) throw std::logic_error("KStream: more than two bytes pushed back");
    pushed_[pushedCount_++] = byte;
}

bool KStream::refill() {
    while (!atEnd_) {
        if (!nextBlock(next_, end_)) {
            atEnd_ = true;
            next_ = end_ = nullptr;
        } else if (next_ != end_) {
            return true;
        }
    }
    return false;
}

}  // namespace zenqa::utils

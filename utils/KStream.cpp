#include "utils/KStream.h"

#include <stdexcept>

namespace zenqa::utils {

void KStream::tooManyPushedBack() { throw std::logic_error("KStream: more than two bytes pushed back"); }

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

#include "store/Message.h"

#include "store/Folder.h"

namespace tarmig {

Message::Message(Folder& folder) : folder_(folder) {}

void Message::initialize(std::int64_t offset, std::int64_t size, bool fixLineEnds) {
    offset_ = offset;
    size_ = size;
    fixLineEnds_ = fixLineEnds;
    fixedSize_ = 0;
    readPosition_ = offset;
    followsCr_ = false;
}

}  // namespace tarmig

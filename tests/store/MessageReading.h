#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/Folder.h"
#include "store/Message.h"

// What a folder handed out for one message, data streamed through the parts.
struct ReadMessage {
    std::string uid;
    std::string flags;
    std::string date;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::int64_t fixedSize = 0;
    std::string data;
    std::vector<std::size_t> partSizes;
};

inline std::string streamData(tarmig::Message& message, std::vector<std::size_t>* partSizes = nullptr) {
    std::string data;
    std::string part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) {
        data += part;
        if (partSizes) partSizes->push_back(part.size());
    }
    return data;
}

// Reads every message of an opened folder the way the engine does: fixed
// size first, then the data.
inline std::vector<ReadMessage> readAll(tarmig::Folder& folder, bool fixLineEnds) {
    std::vector<ReadMessage> out;
    tarmig::Message message(folder);
    for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
         more = folder.getNextMessage(message, fixLineEnds)) {
        ReadMessage read;
        read.fixedSize = message.getFixedSize();
        read.uid = message.getUid();
        read.flags = message.getFlags();
        read.date = message.getDate();
        read.offset = message.getOffset();
        read.size = message.getSize();
        read.data = streamData(message, &read.partSizes);
        out.push_back(read);
    }
    return out;
}

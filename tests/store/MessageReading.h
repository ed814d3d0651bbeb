#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "store/Folder.h"
#include "store/Message.h"
#include "support/StoreBuilder.h"

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

// Every bare LF of the whole message turned into CR LF, as a reference.
inline std::string fixedWhole(const std::string& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
        out += in[i];
    }
    return out;
}

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

// An empty .macnt account "ann" in a temporary store, and one folder object.
class AccountFolder : public ::testing::Test {
protected:
    tarmig::testing::TempDir tmp;
    tarmig::testing::StoreBuilder store{tmp.path()};
    std::string account = store.addMacnt("", "ann", "{}\n", "{}\n");
    std::ostringstream output;
    tarmig::Folder folder{output};

    // Opens the folder `name` of account ann.
    void open(const std::string& name) {
        folder.initialize(name, account, tarmig::MailboxMacnt);
        folder.openMessagesFile("ann");
    }

    // Opens a folder of any account, reads all its messages and closes it.
    std::vector<ReadMessage> readFolder(const std::string& name, const std::string& accountDir,
                                        tarmig::MailboxType type, const std::string& accountName = "ann",
                                        bool fixLineEnds = true) {
        folder.initialize(name, accountDir, type);
        folder.openMessagesFile(accountName);
        auto messages = readAll(folder, fixLineEnds);
        folder.closeMessagesFile();
        return messages;
    }
};

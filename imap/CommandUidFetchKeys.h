#pragma once

#include "imap/Command.h"
#include "imap/TargetMessage.h"

#include <string>
#include <vector>

// UID FETCH 1:* (UID FLAGS INTERNALDATE RFC822.SIZE
// BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)]): what identifies each message of the
// selected folder, without marking any as seen.
class CommandUidFetchKeys : public Command {
public:
    explicit CommandUidFetchKeys(ImapTransport& transport);

    // Every FETCH answer of the last execute that carries all the items
    // asked for, in UID order (a UID answered twice counts once, the later
    // answer wins). Answers with fewer items (flag changes the server
    // reports on its own) are passed over. False when an answer that
    // carries them cannot be read.
    bool getMessages(std::vector<TargetMessage>& messages) const;
};

// Reads the data items of one FETCH answer (the text inside its
// parentheses). True with `message` filled when UID, FLAGS, INTERNALDATE,
// RFC822.SIZE and the Message-ID header fields were all there and readable;
// `complete` tells whether all of them were there. Throws
// ImapParserException on text that is not an item list.
bool readTargetMessage(const std::string& items, TargetMessage& message, bool& complete);

#include "imap/CommandQueue.h"

#include "imap/ImapTransport.h"

std::unique_ptr<Command> CommandQueue::popCompleted() {
    std::unique_ptr<Command> oldest = std::move(commands.front());
    commands.pop_front();
    if (oldest->isCompleted()) return oldest;
    ImapTransport::AnswerDeadline deadline(transport);
    std::string response;
    while (!oldest->isCompleted()) {
        Command::recvResponse(transport, response);
        fileResponse(*oldest, response);
    }
    return oldest;
}

void CommandQueue::fileResponse(Command& oldest, std::string& response) {
    Command::Response ignored = Command::BAD;
    for (const auto& later : commands) {
        if (!later->isCompleted() && later->isTaggedResponse(response, ignored)) {
            later->fileResponse(response);
            return;
        }
    }
    oldest.fileResponse(response);
}

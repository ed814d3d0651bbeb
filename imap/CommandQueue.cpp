#include "imap/CommandQueue.h"

#include "imap/ConnectionInternal.h"

std::unique_ptr<Command> CommandQueue::popCompleted() {
    std::unique_ptr<Command> oldest = std::move(commands.front());
    commands.pop_front();
    if (oldest->isCompleted()) return oldest;
    ConnectionInternal::AnswerDeadline deadline(connection);
    std::string response;
    while (!oldest->isCompleted()) {
        Command::recvResponse(connection, response);
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

#pragma once

#include "imap/Command.h"

#include <cstddef>
#include <deque>
#include <memory>

class ImapTransport;

// Commands started on one connection whose answers are still to be read, in
// the order they were sent. Each tagged line goes to the command whose tag
// it carries, so an answer arriving ahead of an older one is kept for its
// command; untagged responses read while waiting go to the oldest command.
class CommandQueue {
public:
    explicit CommandQueue(ImapTransport& transport) : transport(transport) {}
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // A command after its start().
    void push(std::unique_ptr<Command> command) { commands.push_back(std::move(command)); }
    std::size_t size() const { return commands.size(); }
    bool empty() const { return commands.empty(); }
    // Forgets every command (its answer will not be read).
    void clear() { commands.clear(); }

    // Removes the oldest command and reads until its tagged line, which must
    // be whole within the receive time-out. Throws as Command::finish does;
    // the oldest command is removed either way.
    std::unique_ptr<Command> popCompleted();

private:
    void fileResponse(Command& oldest, std::string& response);

    ImapTransport& transport;
    std::deque<std::unique_ptr<Command>> commands;
};

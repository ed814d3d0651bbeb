#include "support/TerminalReader.h"

#include <poll.h>
#include <unistd.h>

namespace tarmig::testing {

void readTerminal(int fd, std::string& shown, const std::string& until, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while ((until.empty() || shown.find(until) == std::string::npos) && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) return;  // EIO once the child has closed the terminal
        shown.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace tarmig::testing

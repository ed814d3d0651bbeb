#include "support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tarmig::testing {

namespace {

// A socket bound to 127.0.0.1 at a port the kernel picked; -1 on failure.
int bindLoopback(unsigned& port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return -1;
    }
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopbackAddress();
    socklen_t length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket);
        return -1;
    }
    port = ntohs(address.sin_port);
    return socket;
}

}  // namespace

sockaddr_in loopbackAddress(unsigned port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

int listenOnLoopback(int backlog, unsigned& port) {
    const int socket = bindLoopback(port);
    if (socket >= 0 && ::listen(socket, backlog) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

unsigned freeLoopbackPort() {
    unsigned port = 0;
    const int socket = bindLoopback(port);
    if (socket < 0) {
        return 0;
    }
    ::close(socket);
    return port;
}

}  // namespace tarmig::testing

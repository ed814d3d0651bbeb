#include "support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tarmig::testing {

namespace {

// A socket bound to the loopback address at a port the kernel picked; -1 on failure.
int bindLoopback(unsigned& port, Loopback family) {
    const bool v6 = family == Loopback::V6;
    const int socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return -1;
    }
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
    } else {
        *reinterpret_cast<sockaddr_in*>(&address) = loopbackAddress();
    }
    socklen_t length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket);
        return -1;
    }
    port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
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

int listenOnLoopback(int backlog, unsigned& port, Loopback family) {
    const int socket = bindLoopback(port, family);
    if (socket >= 0 && ::listen(socket, backlog) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

unsigned freeLoopbackPort(Loopback family) {
    unsigned port = 0;
    const int socket = bindLoopback(port, family);
    if (socket < 0) {
        return 0;
    }
    ::close(socket);
    return port;
}

}  // namespace tarmig::testing

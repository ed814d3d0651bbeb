#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

namespace zenqa::utils {

// One IPv4 or IPv6 socket address with its port.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // "127.0.0.1" or "::1", without the port.
    std::string addressText() const;
};

// A host and port with every address the host resolved to, IPv6 and IPv4, in
// the resolver's order of preference; a client tries them in turn. The host
// name is kept as given (without the brackets of an IPv6 address), because
// TLS needs it for the server name and the certificate check.
class InetSocketAddress {
public:
    // From an address text "scheme://[user[:password]@]host[:port][/path]"; an
    // IPv6 host is written in brackets there ("imap://[::1]:143"). A literal
    // address is used without a lookup. Throws CantResolveException.
    explicit InetSocketAddress(const std::string& url);
    // host: a name, an IPv4 address, or an IPv6 address with or without brackets.
    InetSocketAddress(const std::string& host, unsigned port);
    // Addresses found by the caller, tried in the order given.
    InetSocketAddress(std::string hostName, std::vector<SocketAddress> addresses);

    // The wildcard addresses of both families, port 0: the local end of a client socket.
    static InetSocketAddress any();

    const std::string& getHostName() const { return hostName; }
    unsigned getPort() const;
    const std::vector<SocketAddress>& getAddresses() const { return addresses; }

private:
    InetSocketAddress() = default;
    void resolve(const std::string& host, unsigned port);

    std::string hostName;
    std::vector<SocketAddress> addresses;
};

}  // namespace zenqa::utils

#pragma once

#include <netinet/in.h>

#include <string>

namespace zenqa::utils {

// An IPv4 address and port, resolved when built. The host name is kept as
// given, because TLS needs it for the server name and the certificate check.
class InetSocketAddress {
public:
    // From an address text "scheme://[user[:password]@]host[:port][/path]";
    // a dotted address is used without a lookup. Throws CantResolveException.
    explicit InetSocketAddress(const std::string& url);
    InetSocketAddress(const std::string& host, unsigned port);

    // 0.0.0.0, port 0: the local end of a client socket.
    static InetSocketAddress any();

    const std::string& getHostName() const { return hostName; }
    unsigned getPort() const;
    const sockaddr_in& getSockAddr() const { return address; }

private:
    InetSocketAddress();
    void resolve(const std::string& host, unsigned port);

    std::string hostName;
    sockaddr_in address{};
};

}  // namespace zenqa::utils

#pragma once

#include "utils/TcpBuffer.h"

#include <cstddef>
#include <cstdint>
#include <iostream>

namespace zenqa::utils {

// A standard iostream over one client TCP (or TLS) connection: line
// reading, block reads, << and flush work as on any stream. Failures of
// create() and close() set the fail bit; nothing here throws.
class basic_tcpclientiostream : public std::iostream {
public:
    basic_tcpclientiostream(const InetSocketAddress& remote, const InetSocketAddress& local,
                            std::size_t inputSize, std::size_t outputSize);
    basic_tcpclientiostream(const InetSocketAddress& remote, const InetSocketAddress& local,
                            std::size_t inputSize, std::size_t outputSize, bool useTls,
                            TlsSettings tls = {});

    // Opens, binds, connects and, with TLS, verifies the server.
    void create();
    void close();
    bool isConnected() const { return buffer.isConnected(); }
    int getSocketState() const { return buffer.getSocketState(); }
    std::uint64_t bytesSent() const { return buffer.bytesSent(); }

    // std::getline with a length limit: false when the line is longer than `limit`.
    bool getLine(std::string& line, std::size_t limit);

    void setTimeoutInSeconds(unsigned seconds) { buffer.setTimeoutInSeconds(seconds); }
    void setTimeoutInuSeconds(unsigned microseconds) { buffer.setTimeoutInuSeconds(microseconds); }

    // See tcpbuffer: the reads until clearReadDeadline() share one timeout.
    void startReadDeadline() { buffer.startReadDeadline(); }
    void clearReadDeadline() { buffer.clearReadDeadline(); }
    // The last read ended because its time ran out, not because the peer closed.
    bool timedOut() const { return buffer.timedOut(); }

private:
    tcpbuffer buffer;
};

}  // namespace zenqa::utils

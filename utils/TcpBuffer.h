#pragma once

#include "utils/InetSocketAddress.h"
#include "utils/TlsSettings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <streambuf>
#include <vector>

struct iovec;

namespace zenqa::ssl {
class TlsSession;
}

namespace zenqa::utils {

// Stream buffer over one client TCP socket, optionally wrapped in TLS.
// Reads wait at most the timeout; a timed-out read and a closed peer both
// look like end of input, a socket error also sets the socket state to -1.
class tcpbuffer : public std::streambuf {
public:
    tcpbuffer(const InetSocketAddress& remote, const InetSocketAddress& local,
              std::size_t inputSize, std::size_t outputSize,
              bool useTls = false, TlsSettings tls = {});
    ~tcpbuffer() override;
    tcpbuffer(const tcpbuffer&) = delete;
    tcpbuffer& operator=(const tcpbuffer&) = delete;

    // Socket, bind, connect (to each address of the remote host in turn until
    // one answers) and, with TLS, the verified handshake.
    bool create();
    // Flushes pending output and closes the socket; false when none was open.
    bool close();
    bool isConnected() const { return connected; }
    int getSocketState() const { return socketState; }
    // Bytes the system accepted for sending on this connection so far.
    std::uint64_t bytesSent() const { return sentBytes; }

    enum LineResult { LineRead, LineEnded, LineTooLong };
    // Appends the bytes before the next LF to `line` and consumes the LF;
    // LineEnded when the input ends first, LineTooLong past `limit` bytes.
    LineResult getLine(std::string& line, std::size_t limit);

    // Zero seconds and zero microseconds: wait without limit.
    void setTimeoutInSeconds(unsigned seconds);
    void setTimeoutInuSeconds(unsigned microseconds);

    // From now until clearReadDeadline() the reads together wait at most the
    // timeout, so a peer that trickles its bytes cannot stretch an exchange.
    // Bytes already buffered are still delivered. No effect without a timeout.
    void startReadDeadline();
    void clearReadDeadline() { deadlineSet = false; }
    // Whether the last read from the socket ended because its time ran out
    // rather than because the peer closed.
    bool timedOut() const { return readTimedOut; }

protected:
    int sync() override;
    int_type underflow() override;
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;

private:
    bool openSocket(int family);
    bool connectSocket(const SocketAddress& remote);
    bool startSession();
    bool sendAll(const char* data, std::size_t length);
    bool sendAfterPending(const char* data, std::size_t length);
    bool sendGathered(iovec* parts, std::size_t count);
    long receive(char* data, std::size_t size);
    long receivePlain(char* data, std::size_t size, long long waitMicros);
    long receiveTls(char* data, std::size_t size, long long waitMicros);
    long long timeoutMicroseconds() const;
    long long nextWaitMicroseconds() const;
    void applySocketTimeout();
    void setReceiveWait(long long microseconds);
    void closeSocket();

    InetSocketAddress remoteAddress;
    InetSocketAddress localAddress;
    std::size_t inputSize;
    std::size_t outputSize;
    std::vector<char> buffer;  // put area first, then get area
    unsigned timeoutSeconds = 30;
    unsigned timeoutMicros = 0;
    bool deadlineSet = false;
    std::chrono::steady_clock::time_point deadline;
    long long receiveWaitMicros = 0;  // what the socket's receive time-out holds
    bool readTimedOut = false;
    int socketDescriptor = -1;
    bool connected = false;
    int socketState = 0;
    std::uint64_t sentBytes = 0;
    bool useTls;
    TlsSettings tlsSettings;
    std::unique_ptr<zenqa::ssl::TlsSession> tls;
};

}  // namespace zenqa::utils

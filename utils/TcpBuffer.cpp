#include "utils/TcpBuffer.h"

#include "utils/TlsSession.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

namespace zenqa::utils {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the socket is readable; false on time-out or failure.
// A negative wait means no limit.
bool waitReadable(int socket, long long microseconds) {
    // Clamped: a time-out beyond poll's range must not wrap into "no limit".
    const int milliseconds =
        microseconds < 0 ? -1
                         : static_cast<int>(std::min<long long>(
                               (microseconds + 999) / 1000, std::numeric_limits<int>::max()));
    pollfd entry{socket, POLLIN, 0};
    int eagainRetries = 3;
    for (;;) {
        const int result = poll(&entry, 1, milliseconds);
        if (result > 0) {
            return true;
        }
        if (result == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || eagainRetries-- == 0) {
            return false;
        }
    }
}

}  // namespace

tcpbuffer::tcpbuffer(const InetSocketAddress& remote, const InetSocketAddress& local,
                     std::size_t inputSize, std::size_t outputSize, bool useTls,
                     TlsSettings tls)
    : remoteAddress(remote),
      localAddress(local),
      inputSize(inputSize == 0 ? 1 : inputSize),
      outputSize(outputSize == 0 ? 1 : outputSize),
      buffer(this->inputSize + this->outputSize, 0),
      useTls(useTls),
      tlsSettings(std::move(tls)) {
    setp(buffer.data(), buffer.data() + this->outputSize);
    char* getArea = buffer.data() + this->outputSize;
    setg(getArea, getArea, getArea);
}

tcpbuffer::~tcpbuffer() {
    if (connected) {
        close();
    }
    this->tls.reset();
    closeSocket();
}

// Each address of the host in turn, until one accepts the connection. A TLS
// handshake that fails ends the attempt: another address of the same host
// would present the same certificate.
bool tcpbuffer::create() {
    for (const SocketAddress& remote : remoteAddress.getAddresses()) {
        if (!openSocket(remote.family())) {
            continue;
        }
        if (connectSocket(remote)) {
            return startSession();
        }
        closeSocket();
    }
    return false;
}

bool tcpbuffer::openSocket(int family) {
    closeSocket();
    setp(buffer.data(), buffer.data() + outputSize);
    socketDescriptor = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketDescriptor < 0) {
        return false;
    }
    // Command lines are small writes answered at once; do not let Nagle hold them.
    const int on = 1;
    setsockopt(socketDescriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (const SocketAddress& local : localAddress.getAddresses()) {
        if (local.family() == family && ::bind(socketDescriptor, local.get(), local.length) != 0) {
            closeSocket();
            return false;
        }
    }
    // Also bounds the connect: an address that does not answer is given up
    // after the timeout and the next one tried.
    applySocketTimeout();
    return true;
}

bool tcpbuffer::connectSocket(const SocketAddress& remote) {
    int eagainRetries = 2;
    for (;;) {
        if (::connect(socketDescriptor, remote.get(), remote.length) == 0) {
            return true;
        }
        if (errno == EINTR || (errno == EAGAIN && eagainRetries-- > 0)) {
            continue;
        }
        return errno == EISCONN;
    }
}

bool tcpbuffer::startSession() {
    connected = true;
    if (useTls) {
        tls = std::make_unique<zenqa::ssl::TlsSession>(tlsSettings);
        if (!tls->handshake(socketDescriptor, remoteAddress.getHostName())) {
            tls.reset();
            connected = false;
            closeSocket();
            return false;
        }
    }
    return true;
}

bool tcpbuffer::close() {
    if (connected) {
        connected = false;
        sync();
    }
    tls.reset();
    if (socketDescriptor < 0) {
        return false;
    }
    const bool closed = ::close(socketDescriptor) == 0;
    socketDescriptor = -1;
    return closed;
}

void tcpbuffer::closeSocket() {
    if (socketDescriptor >= 0) {
        ::close(socketDescriptor);
        socketDescriptor = -1;
    }
}

void tcpbuffer::setTimeoutInSeconds(unsigned seconds) {
    timeoutSeconds = seconds;
    applySocketTimeout();
}

void tcpbuffer::setTimeoutInuSeconds(unsigned microseconds) {
    timeoutMicros = microseconds;
    applySocketTimeout();
}

long long tcpbuffer::timeoutMicroseconds() const {
    return static_cast<long long>(timeoutSeconds) * 1000000 + timeoutMicros;
}

void tcpbuffer::startReadDeadline() {
    const long long limit = timeoutMicroseconds();
    deadlineSet = limit != 0;
    deadline = Clock::now() + std::chrono::microseconds(limit);
}

// What the next read may wait, in microseconds: the timeout, or what a
// deadline leaves of it (0: nothing); -1 without a timeout.
long long tcpbuffer::nextWaitMicroseconds() const {
    const long long limit = timeoutMicroseconds();
    if (limit == 0) {
        return -1;
    }
    if (!deadlineSet) {
        return limit;
    }
    const long long left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return std::clamp<long long>(left, 0, limit);
}

// Moving the socket's receive time-out costs a system call, so under a
// deadline it follows the time left in steps of a tenth of the timeout (at
// most a second): an answer that comes at once needs none, a trickling peer
// one per step, and a read overshoots the deadline by less than a step.
void tcpbuffer::setReceiveWait(long long waitMicros) {
    const long long limit = timeoutMicroseconds();
    long long wanted = waitMicros < 0 ? 0 : waitMicros;  // 0 on the socket: no limit
    if (waitMicros > 0 && waitMicros < limit) {
        const long long step = std::clamp<long long>(limit / 10, 1000, 1000000);
        wanted = std::min(limit, (waitMicros + step - 1) / step * step);
    }
    if (wanted == receiveWaitMicros || socketDescriptor < 0) {
        return;
    }
    timeval wait{static_cast<time_t>(wanted / 1000000), static_cast<suseconds_t>(wanted % 1000000)};
    setsockopt(socketDescriptor, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    receiveWaitMicros = wanted;
}

// Bounds the blocking calls: plain reads, the TLS handshake and writes to a
// server that stopped reading (TLS reads wait in poll first).
void tcpbuffer::applySocketTimeout() {
    if (socketDescriptor < 0) {
        return;
    }
    const long long total = timeoutMicroseconds();
    timeval limit{static_cast<time_t>(total / 1000000), static_cast<suseconds_t>(total % 1000000)};
    setsockopt(socketDescriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socketDescriptor, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    receiveWaitMicros = total;
}

bool tcpbuffer::sendAll(const char* data, std::size_t length) {
    while (length > 0) {
        long sent;
        if (tls) {
            sent = tls->write(data, length);
        } else {
            do {
                sent = ::send(socketDescriptor, data, length, MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
        }
        if (sent <= 0) {
            if (sent < 0) {
                socketState = -1;
            }
            return false;
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
        sentBytes += static_cast<std::uint64_t>(sent);
    }
    return true;
}

int tcpbuffer::sync() {
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (pending == 0) {
        return 0;
    }
    // Pending bytes are dropped on failure too: the connection is unusable then.
    const bool sent = socketDescriptor >= 0 && sendAll(pbase(), pending);
    setp(buffer.data(), buffer.data() + outputSize);
    return sent ? 0 : -1;
}

tcpbuffer::int_type tcpbuffer::overflow(int_type ch) {
    if (sync() == -1) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

// A block that fits waits in the put area. One that does not leaves at once,
// with the pending bytes before it in the same write, so a command line and
// the first part of its message share one system call.
std::streamsize tcpbuffer::xsputn(const char* data, std::streamsize count) {
    const auto length = static_cast<std::size_t>(count);
    if (length <= static_cast<std::size_t>(epptr() - pptr())) {
        std::copy_n(data, length, pptr());
        pbump(static_cast<int>(length));
        return count;
    }
    return sendAfterPending(data, length) ? count : 0;
}

// TLS has no gathered write: there the pending bytes go first, on their own.
bool tcpbuffer::sendAfterPending(const char* data, std::size_t length) {
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (tls || pending == 0) {
        return sync() == 0 && socketDescriptor >= 0 && sendAll(data, length);
    }
    iovec parts[2] = {{pbase(), pending}, {const_cast<char*>(data), length}};
    // Pending bytes are dropped on failure too, as in sync().
    const bool sent = socketDescriptor >= 0 && sendGathered(parts, 2);
    setp(buffer.data(), buffer.data() + outputSize);
    return sent;
}

bool tcpbuffer::sendGathered(iovec* parts, std::size_t count) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    while (message.msg_iovlen > 0) {
        long sent;
        do {
            sent = ::sendmsg(socketDescriptor, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent <= 0) {
            if (sent < 0) {
                socketState = -1;
            }
            return false;
        }
        sentBytes += static_cast<std::uint64_t>(sent);
        auto done = static_cast<std::size_t>(sent);
        while (message.msg_iovlen > 0 && done >= message.msg_iov->iov_len) {
            done -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + done;
            message.msg_iov->iov_len -= done;
        }
    }
    return true;
}

tcpbuffer::int_type tcpbuffer::underflow() {
    if (socketDescriptor < 0) {
        return traits_type::eof();
    }
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    char* getArea = buffer.data() + outputSize;
    const long received = receive(getArea, inputSize);
    if (received <= 0) {
        setg(getArea, getArea, getArea);
        return traits_type::eof();
    }
    setg(getArea, getArea, getArea + received);
    return traits_type::to_int_type(*gptr());
}

// Searched a buffer at a time rather than taken a byte at a time.
tcpbuffer::LineResult tcpbuffer::getLine(std::string& line, std::size_t limit) {
    for (;;) {
        if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) {
            return LineEnded;
        }
        const auto available = static_cast<std::size_t>(egptr() - gptr());
        const auto* lf = static_cast<const char*>(std::memchr(gptr(), '\n', available));
        const std::size_t length = lf ? static_cast<std::size_t>(lf - gptr()) : available;
        if (line.size() + length > limit) {
            return LineTooLong;
        }
        line.append(gptr(), length);
        gbump(static_cast<int>(lf ? length + 1 : length));
        if (lf) {
            return LineRead;
        }
    }
}

// Bytes read into data; 0 when the peer closed or nothing came in time,
// negative (and the socket state -1) on an error.
long tcpbuffer::receive(char* data, std::size_t size) {
    sync();
    readTimedOut = false;
    const long long wait = nextWaitMicroseconds();
    if (wait == 0) {
        readTimedOut = true;
        return 0;
    }
    return tls ? receiveTls(data, size, wait) : receivePlain(data, size, wait);
}

// The socket's own receive time-out bounds the wait: one system call per
// read instead of a poll and a recv.
long tcpbuffer::receivePlain(char* data, std::size_t size, long long waitMicros) {
    setReceiveWait(waitMicros);
    long result;
    do {
        result = ::recv(socketDescriptor, data, size, MSG_NOSIGNAL);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        readTimedOut = true;
        return 0;
    }
    if (result < 0) {
        socketState = -1;
    }
    return result;
}

long tcpbuffer::receiveTls(char* data, std::size_t size, long long waitMicros) {
    const auto until = Clock::now() + std::chrono::microseconds(std::max(waitMicros, 0LL));
    for (;;) {
        long long wait = -1;
        if (waitMicros > 0) {
            wait = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count());
        }
        if (!tls->hasPending() && !waitReadable(socketDescriptor, wait)) {
            readTimedOut = true;
            return 0;
        }
        const long result = tls->read(data, size);
        if (result == zenqa::ssl::TlsSession::WantRead) {
            continue;
        }
        if (result < 0) {
            socketState = -1;
        }
        return result;
    }
}

}  // namespace zenqa::utils

#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace tarmig::testing {

LoopbackClient::LoopbackClient(unsigned port, bool tls) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("loopback client: socket failed");
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        throw std::runtime_error("loopback client: cannot connect to port " + std::to_string(port));
    }
    if (!tls) return;
    context_ = SSL_CTX_new(TLS_client_method());
    ssl_ = context_ ? SSL_new(context_) : nullptr;
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1 || SSL_connect(ssl_) != 1) {
        release();
        throw std::runtime_error("loopback client: TLS handshake failed");
    }
}

LoopbackClient::~LoopbackClient() { release(); }

void LoopbackClient::release() {
    if (ssl_) SSL_free(ssl_);
    if (context_) SSL_CTX_free(context_);
    if (fd_ >= 0) close(fd_);
    ssl_ = nullptr;
    context_ = nullptr;
    fd_ = -1;
}

void LoopbackClient::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        int n = ssl_ ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                     : static_cast<int>(::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL));
        if (n <= 0) throw std::runtime_error("loopback client: send failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string LoopbackClient::line() {
    while (buffer_.find('\n') == std::string::npos) fill();
    std::size_t end = buffer_.find('\n') + 1;
    std::string out = buffer_.substr(0, end);
    buffer_.erase(0, end);
    return out;
}

std::string LoopbackClient::bytes(std::size_t count) {
    while (buffer_.size() < count) fill();
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return out;
}

void LoopbackClient::fill() {
    char chunk[65536];
    int n = ssl_ ? SSL_read(ssl_, chunk, sizeof chunk) : static_cast<int>(recv(fd_, chunk, sizeof chunk, 0));
    if (n <= 0) throw std::runtime_error("loopback client: connection closed or timed out");
    buffer_.append(chunk, static_cast<std::size_t>(n));
}

}  // namespace tarmig::testing

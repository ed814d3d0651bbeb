#include "utils/TcpClientIOStream.h"

#include <utility>

namespace zenqa::utils {

basic_tcpclientiostream::basic_tcpclientiostream(const InetSocketAddress& remote,
                                                 const InetSocketAddress& local,
                                                 std::size_t inputSize, std::size_t outputSize)
    : std::iostream(nullptr), buffer(remote, local, inputSize, outputSize) {
    rdbuf(&buffer);
}

basic_tcpclientiostream::basic_tcpclientiostream(const InetSocketAddress& remote,
                                                 const InetSocketAddress& local,
                                                 std::size_t inputSize, std::size_t outputSize,
                                                 bool useTls, TlsSettings tls)
    : std::iostream(nullptr), buffer(remote, local, inputSize, outputSize, useTls, std::move(tls)) {
    rdbuf(&buffer);
}

void basic_tcpclientiostream::create() {
    if (!buffer.create()) {
        setstate(std::ios::failbit);
    }
}

bool basic_tcpclientiostream::getLine(std::string& line, std::size_t limit) {
    switch (buffer.getLine(line, limit)) {
    case tcpbuffer::LineRead:
        return true;
    case tcpbuffer::LineTooLong:
        return false;
    case tcpbuffer::LineEnded:
        break;
    }
    setstate(line.empty() ? std::ios::eofbit | std::ios::failbit : std::ios::eofbit);
    return true;
}

void basic_tcpclientiostream::close() {
    if (!buffer.close()) {
        setstate(std::ios::failbit);
    }
}

}  // namespace zenqa::utils

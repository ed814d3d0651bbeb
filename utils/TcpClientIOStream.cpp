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

void basic_tcpclientiostream::close() {
    if (!buffer.close()) {
        setstate(std::ios::failbit);
    }
}

}  // namespace zenqa::utils

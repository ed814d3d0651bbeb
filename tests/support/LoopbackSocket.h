#pragma once

#include <netinet/in.h>

namespace tarmig::testing {

// The address 127.0.0.1 with this port (0: the kernel picks one on bind).
sockaddr_in loopbackAddress(unsigned port = 0);

// A socket listening on 127.0.0.1 at a port the kernel picked, stored in
// `port`; -1 on failure.
int listenOnLoopback(int backlog, unsigned& port);

// A 127.0.0.1 port that was free a moment ago (bound, then released), so
// nothing listens on it; 0 on failure.
unsigned freeLoopbackPort();

}  // namespace tarmig::testing

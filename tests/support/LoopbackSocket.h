#pragma once

#include <netinet/in.h>

namespace tarmig::testing {

// The address 127.0.0.1 with this port (0: the kernel picks one on bind).
sockaddr_in loopbackAddress(unsigned port = 0);

// Which loopback address a test server uses: 127.0.0.1 or ::1.
enum class Loopback { V4, V6 };

// A socket listening on the loopback address at a port the kernel picked,
// stored in `port`; -1 on failure.
int listenOnLoopback(int backlog, unsigned& port, Loopback family = Loopback::V4);

// A loopback port that was free a moment ago (bound, then released), so
// nothing listens on it; 0 on failure.
unsigned freeLoopbackPort(Loopback family = Loopback::V4);

}  // namespace tarmig::testing

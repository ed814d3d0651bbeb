#pragma once

#include <shared_mutex>

namespace zenqa::tiny {

// A read-write lock of which only the exclusive side is needed: the IMAP
// facade guards its abort flag with it, and folder copies running side by
// side share one for their progress output.
class KMutex {
public:
    void lockWrite() { mutex.lock(); }
    void unlock() { mutex.unlock(); }

private:
    std::shared_mutex mutex;
};

}  // namespace zenqa::tiny

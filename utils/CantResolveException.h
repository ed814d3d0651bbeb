#pragma once

#include <stdexcept>
#include <string>

namespace zenqa::utils {

// A host name that cannot be turned into an IP address. Raised while an
// address is built, before any stream exists.
class CantResolveException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zenqa::utils

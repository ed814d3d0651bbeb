#pragma once

#include <stdexcept>

// The tool's own failures, raised by the store reader and the engine; they carry
// only their message text.
namespace tarmig {

class CGException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One item of the store or of the target failed; the walk skips it.
class CGStoreException : public CGException {
public:
    using CGException::CGException;
};

// Settings text that cannot be parsed.
class CGParseException : public CGException {
public:
    using CGException::CGException;
};

// The target server cannot be used; ends the run.
class CGNetworkException : public CGException {
public:
    using CGException::CGException;
};

}  // namespace tarmig

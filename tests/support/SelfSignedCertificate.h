#pragma once

#include <string>

namespace tarmig::testing {

// Writes a fresh self-signed certificate for 127.0.0.1 (P-256 key, valid for
// a day) and its unencrypted private key as PEM files, for TLS test servers.
// Throws std::runtime_error when OpenSSL or the files fail.
void writeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile);

}  // namespace tarmig::testing

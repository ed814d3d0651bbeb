#pragma once

#include <string>

// Digests and encodings from OpenSSL, as the logins need them.
namespace zenqa::crypto {

// MD5 of the bytes as 32 lowercase hexadecimal digits.
std::string md5Hex(const std::string& data);
// HMAC-MD5 (RFC 2104) as 32 lowercase hexadecimal digits.
std::string hmacMd5Hex(const std::string& key, const std::string& data);
// Standard Base64 with "=" padding and no line breaks.
std::string base64Encode(const std::string& data);
// Decodes Base64, skipping every byte outside the alphabet (spaces, line ends).
std::string base64Decode(const std::string& text);

}  // namespace zenqa::crypto

#include "utils/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace zenqa::crypto {

namespace {

std::string toHex(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0x0f];
    }
    return hex;
}

bool isBase64Character(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
           ch == '+' || ch == '/' || ch == '=';
}

}  // namespace

std::string md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("MD5 digest failed");
    }
    return toHex(digest, length);
}

std::string hmacMd5Hex(const std::string& key, const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    // HMAC() replaces a key longer than the 64-byte block by its digest.
    if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
             &length) == nullptr) {
        throw std::runtime_error("HMAC-MD5 failed");
    }
    return toHex(digest, length);
}

std::string base64Encode(const std::string& data) {
    std::string encoded(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                       reinterpret_cast<const unsigned char*>(data.data()),
                                       static_cast<int>(data.size()));
    encoded.resize(static_cast<std::size_t>(length));
    return encoded;
}

std::string base64Decode(const std::string& text) {
    std::string filtered;
    filtered.reserve(text.size());
    for (char ch : text) {
        if (isBase64Character(ch)) {
            filtered += ch;
        }
    }
    std::string decoded(filtered.size() / 4 * 3 + 3, '\0');
    EVP_ENCODE_CTX* context = EVP_ENCODE_CTX_new();
    if (context == nullptr) {
        throw std::runtime_error("Base64 decoder unavailable");
    }
    EVP_DecodeInit(context);
    int length = 0;
    int last = 0;
    auto* out = reinterpret_cast<unsigned char*>(decoded.data());
    const int status = EVP_DecodeUpdate(context, out, &length,
                                        reinterpret_cast<const unsigned char*>(filtered.data()),
                                        static_cast<int>(filtered.size()));
    if (status >= 0) {
        EVP_DecodeFinal(context, out + length, &last);
    }
    EVP_ENCODE_CTX_free(context);
    decoded.resize(status < 0 ? 0 : static_cast<std::size_t>(length + last));
    return decoded;
}

}  // namespace zenqa::crypto

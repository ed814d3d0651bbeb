#include "support/SelfSignedCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tarmig::testing {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("self-signed certificate: ") + what + " failed");
}

std::unique_ptr<std::FILE, FileClose> openForWriting(const std::string& path) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "w"));
    check(file != nullptr, ("opening " + path).c_str());
    return file;
}

}  // namespace

void writeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile) {
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    std::unique_ptr<X509, CertificateFree> certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* c = certificate.get();
    check(X509_set_version(c, 2) == 1, "setting the version");
    check(ASN1_INTEGER_set(X509_get_serialNumber(c), 1) == 1, "setting the serial number");
    check(X509_gmtime_adj(X509_getm_notBefore(c), -3600) != nullptr, "setting the start");
    check(X509_gmtime_adj(X509_getm_notAfter(c), 24 * 3600) != nullptr, "setting the end");
    check(X509_set_pubkey(c, key.get()) == 1, "setting the key");
    X509_NAME* name = X509_get_subject_name(c);
    check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                     -1, 0) == 1,
          "setting the name");
    check(X509_set_issuer_name(c, name) == 1, "setting the issuer");
    check(X509_sign(c, key.get(), EVP_sha256()) > 0, "signing");

    auto keyOut = openForWriting(keyFile);
    check(PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1, "writing the key");
    check(std::fclose(keyOut.release()) == 0, "closing the key file");
    auto certificateOut = openForWriting(certificateFile);
    check(PEM_write_X509(certificateOut.get(), c) == 1, "writing the certificate");
    check(std::fclose(certificateOut.release()) == 0, "closing the certificate file");
}

}  // namespace tarmig::testing

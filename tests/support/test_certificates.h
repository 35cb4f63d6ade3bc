// Keys and X.509 certificates made by the tests at run time (nothing of the
// kind is kept in the tree): self-signed ones, a private certificate
// authority and the server certificates it signs.
//
//   TlsIdentity authority = makeTlsIdentity({.common_name = "test authority", .authority = true});
//   TlsIdentity server = makeTlsIdentity({}, &authority);  // localhost and 127.0.0.1
#ifndef VESMARA_TESTS_SUPPORT_TEST_CERTIFICATES_H_
#define VESMARA_TESTS_SUPPORT_TEST_CERTIFICATES_H_

#ifdef _WIN32
// The Windows build has no OpenSSL and makes no certificates; its HTTPS
// tests skip (test_tls_wine.cc).
typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;
#else
#include <openssl/types.h>
#endif

#include <filesystem>
#include <memory>
#include <string>

namespace vesmara::test {

struct CertificateOptions {
  std::string common_name = "localhost";
  // subjectAltName entries in OpenSSL's notation; empty for none.
  std::string alt_names = "DNS:localhost,IP:127.0.0.1";
  // The validity period, in seconds from now.
  long not_before = -60;
  long not_after = 24 * 3600;
  // A certificate authority (CA:TRUE, may sign certificates) rather than a server.
  bool authority = false;
};

// A P-256 key and a certificate for it.
struct TlsIdentity {
  std::shared_ptr<EVP_PKEY> key;
  std::shared_ptr<X509> certificate;

  std::string certificatePem() const;
  std::string keyPem() const;
};

// The PEM files a TLS server reads.
struct TlsFiles {
  std::filesystem::path certificate;
  std::filesystem::path key;
};

// A new key and a certificate for it, signed by `issuer`, or by itself when
// `issuer` is null. Throws std::runtime_error when OpenSSL fails.
TlsIdentity makeTlsIdentity(const CertificateOptions& options, const TlsIdentity* issuer = nullptr);

// Writes `identity` as NAME.crt and NAME.key into `directory`.
// Throws std::runtime_error when a file cannot be written.
TlsFiles writeTlsFiles(const TlsIdentity& identity, const std::filesystem::path& directory, const std::string& name);

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_TEST_CERTIFICATES_H_

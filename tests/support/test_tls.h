// HTTPS for end-to-end tests: a private certificate authority that this
// test process alone trusts, and server certificates for nginx.
//
// The library verifies certificates against the system trust store and reads
// no configuration, so a test program that speaks HTTPS to a local server
// replaces the system store for itself: at start-up it moves into a private
// mount namespace and mounts a directory holding only the test authority
// over the directory the HTTP client reads its authorities from. Nothing
// outside the process (and the servers it starts) sees the change, and
// nothing is left behind when it exits. Entering the namespace needs root
// (as in CI) or unprivileged user namespaces; without either, the HTTPS
// tests skip and say why.
//
// Test programs that use it link tls_test_main.cc, whose main() calls
// TestTls::setUp() before any test or thread starts.
#ifndef VESMARA_TESTS_SUPPORT_TEST_TLS_H_
#define VESMARA_TESTS_SUPPORT_TEST_TLS_H_

#include <string>

#include "support/test_certificates.h"

namespace vesmara::test {

// What a test server presents.
enum class ServerCertificate {
  Trusted,           // localhost and 127.0.0.1, signed by the test authority
  Expired,           // the same names and signer, expired since yesterday
  WrongHost,         // signed by the test authority for another name only
  UnknownAuthority,  // localhost and 127.0.0.1, signed by an authority nobody trusts
};

// The protocols an end-to-end suite runs over.
enum class Protocol {
  Http,
  Https,  // TLS; the servers also offer HTTP/2
};

// "Http" or "Https".
inline std::string protocolName(Protocol protocol) { return protocol == Protocol::Https ? "Https" : "Http"; }

// Names the instances of a suite run over each protocol, for
// INSTANTIATE_TEST_SUITE_P.
struct ProtocolName {
  template <typename ParamInfo>
  std::string operator()(const ParamInfo& instance) const {
    return protocolName(instance.param);
  }
};

class TestTls {
 public:
  // Makes the authority and the server certificates and makes the authority
  // the only one this process trusts. Once, from main(), before any thread
  // starts. A failure is recorded, not raised: the HTTPS tests then skip.
  static void setUp();

  // The set-up of this process, or null when it failed or never ran; then
  // unavailableReason() says why.
  static const TestTls* get();
  static const std::string& unavailableReason();

  const TlsFiles& server(ServerCertificate certificate) const;

 private:
  TestTls() = default;

  TlsFiles trusted_;
  TlsFiles expired_;
  TlsFiles wrong_host_;
  TlsFiles unknown_authority_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_TEST_TLS_H_

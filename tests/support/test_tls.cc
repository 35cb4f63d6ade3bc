#include "support/test_tls.h"

#include <curl/curl.h>
#include <openssl/x509.h>

#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "support/private_namespace.h"
#include "support/temp_dir.h"

namespace vesmara::test {
namespace {

namespace fs = std::filesystem;

constexpr long kDay = 24 * 3600;

struct State {
  std::unique_ptr<TempDir> work;
  std::unique_ptr<const TestTls> tls;
  std::string reason = "the HTTPS test set-up did not run (the test program must use tls_test_main)";
};

State& state() {
  static State instance;
  return instance;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The directory the library's HTTP client reads trusted authorities from,
// and the name of the bundle file in it. libcurl names a bundle and a hashed
// directory; OpenSSL's own defaults lead to them through symbolic links on
// Debian. One mount replaces the store only when all four lie in one
// directory, so anything else is reported.
bool findTrustStore(fs::path& directory, std::string& bundle, std::string& reason) {
  std::string curl_file;
  std::string curl_directory;
  CURL* probe = curl_easy_init();
  if (probe != nullptr) {
    char* value = nullptr;
    if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &value) == CURLE_OK && value != nullptr) curl_file = value;
    value = nullptr;
    if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &value) == CURLE_OK && value != nullptr) curl_directory = value;
    curl_easy_cleanup(probe);
  }
  if (curl_file.empty()) {
    reason = "libcurl reports no built-in CA bundle";
    return false;
  }
  directory = fs::weakly_canonical(fs::path(curl_file).parent_path());
  bundle = fs::path(curl_file).filename().string();
  std::vector<fs::path> others = {X509_get_default_cert_file(), X509_get_default_cert_dir()};
  if (!curl_directory.empty()) others.push_back(curl_directory);
  for (const fs::path& other : others) {
    const fs::path resolved = fs::weakly_canonical(other);
    if (resolved != directory && resolved.parent_path() != directory) {
      reason = "the trust store is not one directory: " + other.string() + " lies outside " + directory.string();
      return false;
    }
  }
  return true;
}

}  // namespace

void TestTls::setUp() {
  State& s = state();
  try {
    s.work = std::make_unique<TempDir>("vkr-tls");
    const fs::path& work = s.work->path();
    const TlsIdentity authority =
        makeTlsIdentity({.common_name = "vkr test authority", .alt_names = "", .authority = true});
    const TlsIdentity stranger =
        makeTlsIdentity({.common_name = "untrusted authority", .alt_names = "", .authority = true});
    std::unique_ptr<TestTls> tls(new TestTls);
    tls->trusted_ = writeTlsFiles(makeTlsIdentity({}, &authority), work, "trusted");
    tls->expired_ =
        writeTlsFiles(makeTlsIdentity({.not_before = -2 * kDay, .not_after = -kDay}, &authority), work, "expired");
    tls->wrong_host_ =
        writeTlsFiles(makeTlsIdentity({.common_name = "elsewhere.test", .alt_names = "DNS:elsewhere.test"}, &authority),
                      work, "wrong-host");
    tls->unknown_authority_ = writeTlsFiles(makeTlsIdentity({}, &stranger), work, "unknown-authority");

    fs::path store;
    std::string bundle;
    std::string reason;
    if (!findTrustStore(store, bundle, reason)) {
      s.reason = reason;
      return;
    }
    const fs::path replacement = work / "store";
    fs::create_directory(replacement);
    std::ofstream(replacement / bundle, std::ios::binary) << authority.certificatePem();
    if (!enterPrivateNamespaces(/*network=*/false, reason) || !mountOver(replacement, store, reason) ||
        !dropNamespaceCapabilities(reason)) {
      s.reason = reason;
      return;
    }
    if (readFile(store / bundle) != authority.certificatePem()) {
      s.reason = "the test trust store is not visible at " + (store / bundle).string();
      return;
    }
    s.tls = std::move(tls);
  } catch (const std::exception& e) {
    s.reason = e.what();
  }
}

const TestTls* TestTls::get() { return state().tls.get(); }

const std::string& TestTls::unavailableReason() { return state().reason; }

const TlsFiles& TestTls::server(ServerCertificate certificate) const {
  switch (certificate) {
    case ServerCertificate::Expired:
      return expired_;
    case ServerCertificate::WrongHost:
      return wrong_host_;
    case ServerCertificate::UnknownAuthority:
      return unknown_authority_;
    case ServerCertificate::Trusted:
      break;
  }
  return trusted_;
}

}  // namespace vesmara::test

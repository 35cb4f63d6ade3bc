#include "support/test_certificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace vesmara::test {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("test certificates: " + what); }

// Adds one extension in OpenSSL's configuration notation ("critical,CA:TRUE").
void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  if (!added) fail("cannot add extension " + value);
}

std::string pem(const std::function<int(BIO*)>& write) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio || write(bio.get()) != 1) fail("cannot write PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) fail("cannot write " + path.string());
}

}  // namespace

std::string TlsIdentity::certificatePem() const {
  return pem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
}

std::string TlsIdentity::keyPem() const {
  return pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
}

TlsIdentity makeTlsIdentity(const CertificateOptions& options, const TlsIdentity* issuer) {
  TlsIdentity identity{std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free),
                       std::shared_ptr<X509>(X509_new(), X509_free)};
  if (!identity.key || !identity.certificate) fail("cannot make a key");
  X509* certificate = identity.certificate.get();
  X509* signer = issuer != nullptr ? issuer->certificate.get() : certificate;
  EVP_PKEY* signing_key = issuer != nullptr ? issuer->key.get() : identity.key.get();

  // A random serial: certificates of one issuer must not share one.
  std::uint64_t serial = 0;
  if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1) fail("no random serial");
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate), serial >> 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), options.not_before);
  X509_gmtime_adj(X509_getm_notAfter(certificate), options.not_after);
  X509_set_pubkey(certificate, identity.key.get());
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(options.common_name.c_str()), -1, -1, 0);
  X509_set_issuer_name(certificate, X509_get_subject_name(signer));

  addExtension(certificate, signer, NID_subject_key_identifier, "hash");
  if (issuer != nullptr) addExtension(certificate, signer, NID_authority_key_identifier, "keyid");
  if (options.authority) {
    addExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  if (!options.alt_names.empty()) addExtension(certificate, signer, NID_subject_alt_name, options.alt_names);
  if (X509_sign(certificate, signing_key, EVP_sha256()) == 0) fail("cannot sign " + options.common_name);
  return identity;
}

TlsFiles writeTlsFiles(const TlsIdentity& identity, const std::filesystem::path& directory, const std::string& name) {
  TlsFiles files{directory / (name + ".crt"), directory / (name + ".key")};
  writeFile(files.certificate, identity.certificatePem());
  writeFile(files.key, identity.keyPem());
  return files;
}

}  // namespace vesmara::test

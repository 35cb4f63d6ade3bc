#include "support/fault_platform.h"

#include "support/fake_http_host.h"

namespace vesmara::test {
namespace {

class FailingHasher final : public Hasher {
 public:
  bool update(ByteSpan) override { return false; }
  bool finish(std::span<std::uint8_t, kSha256Length>) override { return false; }
};

class FaultCryptoHost final : public CryptoHost {
 public:
  FaultCryptoHost(std::unique_ptr<CryptoHost> inner, const Faults& faults)
      : inner_(std::move(inner)), faults_(faults) {}

  std::unique_ptr<Hasher> createHasher() override {
    if (faults_.hashers_fail) return std::make_unique<FailingHasher>();
    return inner_->createHasher();
  }
  bool randomBytes(std::span<std::uint8_t> buffer) override { return inner_->randomBytes(buffer); }
  bool aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) override {
    if (!faults_.keystream_fails) return inner_->aesCtrTransform(key, counter, input, output);
    output.assign(input.size(), 0);
    return false;
  }
  bool aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) override {
    return aesGcmDecryptDetailed(key, nonce, aad, sealed, output) == GcmResult::Ok;
  }
  GcmResult aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                  SecureBytes& output) override {
    if (!faults_.gcm_provider_fails) return inner_->aesGcmDecryptDetailed(key, nonce, aad, sealed, output);
    output.clear();
    return GcmResult::ProviderFailed;
  }
  bool aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                     std::vector<std::uint8_t>& output) override {
    return inner_->aesGcmEncrypt(key, nonce, aad, plaintext, output);
  }

 private:
  std::unique_ptr<CryptoHost> inner_;
  const Faults& faults_;
};

class FaultPngDecoder final : public PngDecoder {
 public:
  FaultPngDecoder(std::unique_ptr<PngDecoder> inner, const Faults& faults)
      : inner_(std::move(inner)), faults_(faults) {}

  PngDecodeStatus decodePixels(std::span<const std::uint8_t> png, std::uint32_t width, std::uint32_t height,
                               std::vector<std::uint8_t>& rgba) override {
    if (!faults_.png_decoder_unavailable) return inner_->decodePixels(png, width, height, rgba);
    rgba.clear();
    return PngDecodeStatus::Unavailable;
  }

 private:
  std::unique_ptr<PngDecoder> inner_;
  const Faults& faults_;
};

// Passes everything to the real sink until the fault fires; a failed write
// or commit leaves the sink refusing, as a real sink's failure does.
class FaultFileOutput final : public FileOutput {
 public:
  FaultFileOutput(std::unique_ptr<FileOutput> inner, const Faults& faults)
      : inner_(std::move(inner)), faults_(faults) {}

  bool write(const std::uint8_t* data, std::uint64_t length) override {
    if (failed_) return false;
    if (faults_.file_write_limit && written_ + length > *faults_.file_write_limit) return fail();
    if (!inner_->write(data, length)) return false;
    written_ += length;
    return true;
  }
  bool commit() override { return failed_ || faults_.file_commit_fails ? fail() : inner_->commit(); }
  void abort() override { inner_->abort(); }
  bool reserve(std::uint64_t length) override { return !failed_ && inner_->reserve(length); }
  bool isOpen() const override { return inner_->isOpen(); }
  FileOutputError error() const override { return failed_ ? FileOutputError::WriteFailed : inner_->error(); }

 private:
  bool fail() {
    failed_ = true;
    return false;
  }

  std::unique_ptr<FileOutput> inner_;
  const Faults& faults_;
  std::uint64_t written_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<HttpHost> FaultPlatform::makeHttpHost(std::string_view origin, std::string& message) {
  std::unique_ptr<HttpHost> host = inner_.makeHttpHost(origin, message);
  if (host == nullptr || !faults_.failing_fetch) return host;
  return std::make_unique<FaultyHttpHost>(std::move(host), *faults_.failing_fetch,
                                          FaultyHttpHost::Fault{.fail = std::string(kFailingFetchMessage)});
}

std::unique_ptr<CryptoHost> FaultPlatform::makeCryptoHost() {
  return std::make_unique<FaultCryptoHost>(inner_.makeCryptoHost(), faults_);
}

std::unique_ptr<PngDecoder> FaultPlatform::makePngDecoder() {
  return std::make_unique<FaultPngDecoder>(inner_.makePngDecoder(), faults_);
}

std::unique_ptr<FileOutput> FaultPlatform::makeFileOutput(std::string_view destination, std::string& message) {
  return std::make_unique<FaultFileOutput>(inner_.makeFileOutput(destination, message), faults_);
}

}  // namespace vesmara::test

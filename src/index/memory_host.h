// A transport that serves one file, "/favicon.ico", from memory: the
// carriers the external index reads (an ICO credential, the synthetic
// favicon around an opened private index) go through the hosted reader this way.
#ifndef VESMARA_INDEX_MEMORY_HOST_H_
#define VESMARA_INDEX_MEMORY_HOST_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/secure_bytes.h"
#include "hosts/http_host.h"

namespace vesmara {

// Cancellation belongs to the parent (the site's own transport, which must
// outlive this host): cancel and resetCancel do nothing, isCancelled asks
// the parent. The served bytes may hold key material and are wiped on release.
class MemoryHost final : public HttpHost {
 public:
  MemoryHost(SecureBytes bytes, const HttpHost& parent) : bytes_(std::move(bytes)), parent_(parent) {}

  void cancel() override {}
  void resetCancel() override {}

  // Serve bytes from the one file; a request outside it fails with the
  // failure's kind set and `response` and the failure's message untouched.
  // No bound or request rule applies.
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;

  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;

  bool isCancelled() const override { return parent_.isCancelled(); }

 private:
  bool serve(std::uint64_t first, std::uint64_t last, HttpResponse& response, Failure& failure) const;
  bool refuse(Failure& failure) const;

  SecureBytes bytes_;
  const HttpHost& parent_;
};

}  // namespace vesmara

#endif  // VESMARA_INDEX_MEMORY_HOST_H_

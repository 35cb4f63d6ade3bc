// Pieces the fuzz targets share.
#ifndef VESMARA_FUZZ_FUZZ_SUPPORT_H_
#define VESMARA_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "hosts/http_host.h"

namespace vesmara::fuzz {

// The longest input the target reads (fuzz/CMakeLists.txt): a longer one is
// skipped at once, so that no run spends its time on inputs larger than any
// that reaches a new path.
inline constexpr std::size_t kMaxInputLength = VKR_FUZZ_MAX_LEN;

// The parent of a MemoryHost: a site transport that is never cancelled and
// is never asked for bytes.
class NeverCancelled final : public HttpHost {
 public:
  void cancel() override {}
  void resetCancel() override {}
  bool fetchRange(std::string_view, std::uint64_t, std::uint64_t, std::uint64_t, HttpResponse&, Failure&) override {
    return false;
  }
  bool fetchSuffix(std::string_view, std::uint64_t, std::uint64_t, HttpResponse&, Failure&) override { return false; }
  bool fetchWhole(std::string_view, std::uint64_t, HttpResponse&, Failure&) override { return false; }
  bool isCancelled() const override { return false; }
};

}  // namespace vesmara::fuzz

#endif  // VESMARA_FUZZ_FUZZ_SUPPORT_H_

// Transports for tests that need an origin without a socket:
//
//   ScriptedHttpHost  answers each fetch with the next scripted answer and
//                     logs what it was asked;
//   FaultyHttpHost    passes fetches to another transport and misbehaves on
//                     the Nth one.
//
// Both report failures as every transport does: the message given, with the
// kind fetchFailureKind() gives.
#ifndef VESMARA_TESTS_SUPPORT_FAKE_HTTP_HOST_H_
#define VESMARA_TESTS_SUPPORT_FAKE_HTTP_HOST_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/http_host.h"

namespace vesmara::test {

struct ScriptedAnswer {
  std::string failure;  // not empty: the fetch fails with this message
  bool valid = true;
  std::uint32_t status = 206;
  std::string content_range;
  std::string etag;
  std::vector<std::uint8_t> body;

  // A correct 206 answer for bytes `first` to `last` of `object`.
  static ScriptedAnswer partial(std::string_view object, std::uint64_t first, std::uint64_t last,
                                std::string etag = {});
  // A 200 answer with all of `object`.
  static ScriptedAnswer whole(std::string_view object, std::string etag = {});
  static ScriptedAnswer failing(std::string message) { return ScriptedAnswer{.failure = std::move(message)}; }
};

class ScriptedHttpHost final : public HttpHost {
 public:
  struct Call {
    FetchKind kind = FetchKind::Whole;
    std::string path;
    std::uint64_t first = 0;  // range: first; suffix: the length
    std::uint64_t last = 0;
    std::uint64_t bound = 0;
  };

  // Answers in order; the last one repeats. Without any, every fetch fails.
  explicit ScriptedHttpHost(std::vector<ScriptedAnswer> answers = {}) : answers_(std::move(answers)) {}

  void cancel() override { cancelled_ = true; }
  void resetCancel() override { cancelled_ = false; }
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;
  bool isCancelled() const override { return cancelled_; }

  const std::vector<Call>& calls() const { return calls_; }

 private:
  bool answer(Call call, HttpResponse& response, Failure& failure);

  std::vector<ScriptedAnswer> answers_;
  std::vector<Call> calls_;
  std::atomic<bool> cancelled_{false};
};

class FaultyHttpHost final : public HttpHost {
 public:
  // What the Nth fetch does, in this order.
  struct Fault {
    std::function<void()> before;               // runs first (e.g. cancels a parent transport)
    std::string fail;                           // not empty: fail with this message, `inner` not asked
    std::function<void(HttpResponse&)> tamper;  // edits the answer of `inner` when it succeeded
  };

  // `nth` counts fetches from 1. Cancellation is that of `inner`.
  FaultyHttpHost(HttpHost& inner, std::size_t nth, Fault fault) : inner_(inner), nth_(nth), fault_(std::move(fault)) {}
  // The same, owning `inner`.
  FaultyHttpHost(std::unique_ptr<HttpHost> inner, std::size_t nth, Fault fault)
      : owned_(std::move(inner)), inner_(*owned_), nth_(nth), fault_(std::move(fault)) {}

  void cancel() override { inner_.cancel(); }
  void resetCancel() override { inner_.resetCancel(); }
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;
  bool isCancelled() const override { return inner_.isCancelled(); }

  std::size_t fetches() const { return fetches_; }

 private:
  bool pass(const std::function<bool()>& fetch, HttpResponse& response, Failure& failure);

  std::unique_ptr<HttpHost> owned_;  // null when borrowed
  HttpHost& inner_;
  std::size_t nth_;
  Fault fault_;
  std::size_t fetches_ = 0;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_FAKE_HTTP_HOST_H_

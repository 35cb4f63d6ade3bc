#include "support/fake_http_host.h"

#include <utility>

namespace vesmara::test {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

bool failAs(const HttpHost& host, HttpResponse& response, Failure& failure, std::string_view message) {
  response.reset();
  return failure.fail(fetchFailureKind(host), message);
}

}  // namespace

ScriptedAnswer ScriptedAnswer::partial(std::string_view object, std::uint64_t first, std::uint64_t last,
                                       std::string etag) {
  ScriptedAnswer answer;
  answer.content_range =
      "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(object.size());
  answer.etag = std::move(etag);
  answer.body = bytesOf(object.substr(first, last - first + 1));
  return answer;
}

ScriptedAnswer ScriptedAnswer::whole(std::string_view object, std::string etag) {
  ScriptedAnswer answer;
  answer.status = 200;
  answer.etag = std::move(etag);
  answer.body = bytesOf(object);
  return answer;
}

bool ScriptedHttpHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                                  HttpResponse& response, Failure& failure) {
  return answer({FetchKind::Range, std::string(path), first, last, bound}, response, failure);
}

bool ScriptedHttpHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound,
                                   HttpResponse& response, Failure& failure) {
  return answer({FetchKind::Suffix, std::string(path), length, 0, bound}, response, failure);
}

bool ScriptedHttpHost::fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response,
                                  Failure& failure) {
  return answer({FetchKind::Whole, std::string(path), 0, 0, bound}, response, failure);
}

bool ScriptedHttpHost::answer(Call call, HttpResponse& response, Failure& failure) {
  calls_.push_back(std::move(call));
  if (answers_.empty()) return failAs(*this, response, failure, "No scripted answer");
  const ScriptedAnswer& next = answers_[std::min(calls_.size(), answers_.size()) - 1];
  if (!next.failure.empty()) return failAs(*this, response, failure, next.failure);
  response.status = next.status;
  response.valid = next.valid;
  response.content_range = next.content_range;
  response.etag = next.etag;
  response.body = next.body;
  failure.clear();
  return true;
}

bool FaultyHttpHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                                HttpResponse& response, Failure& failure) {
  return pass([&] { return inner_.fetchRange(path, first, last, bound, response, failure); }, response, failure);
}

bool FaultyHttpHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound,
                                 HttpResponse& response, Failure& failure) {
  return pass([&] { return inner_.fetchSuffix(path, length, bound, response, failure); }, response, failure);
}

bool FaultyHttpHost::fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) {
  return pass([&] { return inner_.fetchWhole(path, bound, response, failure); }, response, failure);
}

bool FaultyHttpHost::pass(const std::function<bool()>& fetch, HttpResponse& response, Failure& failure) {
  if (++fetches_ != nth_) return fetch();
  if (fault_.before) fault_.before();
  if (!fault_.fail.empty()) return failAs(*this, response, failure, fault_.fail);
  if (!fetch()) return false;
  if (fault_.tamper) fault_.tamper(response);
  return true;
}

}  // namespace vesmara::test

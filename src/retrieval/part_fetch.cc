#include "retrieval/part_fetch.h"

#include "hosts/checked_fetch.h"
#include "index/index_document.h"

namespace vesmara {
namespace {

// How many requests ahead the read names to the transport before a fetch.
constexpr std::size_t kHintedRanges = 4;

bool failPart(const ResourcePart& part, std::string_view suffix, FailureKind kind, Failure& failure) {
  std::string message = part.url;
  message += suffix;
  return failure.fail(kind, message);
}

std::span<const std::uint8_t> viewOf(std::span<const std::uint8_t> bytes, std::uint64_t at, std::uint64_t length) {
  return bytes.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
}

// The last byte a request for `part_index` asks for: its own end, or further
// over the adjacent parts of the same object that follow it.
std::uint64_t coalescedLast(const Resource& resource, std::size_t part_index) {
  const ResourcePart& part = resource.parts[part_index];
  std::uint64_t last = part.offset + part.length - 1;
  if (resource.parts.size() < kCoalescingMinParts || part.length >= kCoalescingPartBelow) return last;
  for (std::size_t j = part_index + 1; j < resource.parts.size(); ++j) {
    const ResourcePart& next = resource.parts[j];
    if (next.url != part.url || !next.codec.empty()) continue;
    if (next.offset != last + 1 || next.offset > UINT64_MAX - next.length ||
        next.offset + next.length - part.offset > kMaxCoalescedRange) {
      break;
    }
    last += next.length;
  }
  return last;
}

// Whether a window of `size` bytes from object offset `first` holds every
// byte of `part`.
bool windowHolds(std::uint64_t first, std::uint64_t size, const ResourcePart& part) {
  return part.offset >= first && part.offset <= UINT64_MAX - part.length && part.length >= 1 &&
         part.offset + part.length - 1 - first < size;
}

// Tells the transport, in order, which ranges the read will fetch after the
// one for `part_index` (about to be requested as `first`..`last`): the next
// kHintedRanges later range parts that no window held by then serves. A
// media part that still has to be fetched ends the list.
void hintNextRanges(HttpHost& transport, const PartFetchState& state, const Resource& resource, std::size_t part_index,
                    std::uint64_t first, std::uint64_t last) {
  // Where each object's window will be once the hinted fetches are done.
  std::map<std::string_view, std::pair<std::uint64_t, std::uint64_t>> held;
  for (const auto& [url, window] : state.windows) held[url] = {window.first, window.bytes.size()};
  held[resource.parts[part_index].url] = {first, last - first + 1};
  std::size_t hinted = 0;
  for (std::size_t j = part_index + 1; j < resource.parts.size() && hinted < kHintedRanges; ++j) {
    const ResourcePart& next = resource.parts[j];
    if (!next.codec.empty()) {
      if (state.decoded_media.contains(mediaKeyOf(next))) continue;
      return;
    }
    if (const auto window = held.find(next.url);
        window != held.end() && windowHolds(window->second.first, window->second.second, next)) {
      continue;
    }
    const std::uint64_t next_last = coalescedLast(resource, j);
    transport.prefetchRange(next.url, next.offset, next_last, kPartResponseBound);
    held[next.url] = {next.offset, next_last - next.offset + 1};
    ++hinted;
  }
}

bool fetchRangePart(const ResourcePart& part, HttpHost& transport, PartFetchState& state, const Resource& resource,
                    std::size_t part_index, std::span<const std::uint8_t>& stored, Failure& failure) {
  const std::uint64_t own_last = part.offset + part.length - 1;
  if (const auto window = state.windows.find(part.url); window != state.windows.end()) {
    const PartFetchState::Window& w = window->second;
    if (w.first <= part.offset && own_last - w.first < w.bytes.size()) {
      stored = viewOf(w.bytes, part.offset - w.first, part.length);
      return true;
    }
  }
  const CheckedRequest request{.path = part.url,
                               .first = part.offset,
                               .last = coalescedLast(resource, part_index),
                               .bound = kPartResponseBound,
                               .etag_pin = &state.etag_pins[part.url]};
  const CheckedFetchMessages messages{.subject = part.url,
                                      .unsafe = ": unsafe or oversized response",
                                      .etag_changed = ": ETag changed during download",
                                      .bad_range = ": invalid Content-Range or short part",
                                      .short_whole = ": full fallback is too short"};
  hintNextRanges(transport, state, resource, part_index, request.first, request.last);
  HttpResponse response;
  response.body = state.takeSpare();
  CheckedBytes fetched;
  if (!fetchChecked(transport, request, messages, response, fetched, failure)) return false;
  PartFetchState::Window window;
  window.first = fetched.body_first;
  window.bytes = std::move(response.body);
  PartFetchState::Window& slot = state.windows[part.url];
  state.recycle(std::move(slot.bytes));
  slot = std::move(window);
  stored = viewOf(slot.bytes, part.offset - slot.first, part.length);
  return true;
}

bool fetchMediaPart(const SiteIndex& index, const ResourcePart& part, HttpHost& transport, CryptoHost& crypto,
                    MediaDecoder* decoder, PartFetchState& state, std::span<const std::uint8_t>& stored,
                    Failure& failure) {
  if (decoder == nullptr) {
    return failPart(part, ": media decoder is not available", FailureKind::Unsupported, failure);
  }
  const std::string key = mediaKeyOf(part);
  auto payload = state.decoded_media.find(key);
  if (payload == state.decoded_media.end()) {
    const std::uint64_t bound = part.codec == kCodecWav4Fsk1 ? kAudioMediaResponseBound : kMediaResponseBound;
    const CheckedRequest request{.kind = FetchKind::Whole, .path = part.url, .bound = bound, .min_body = 1};
    const CheckedFetchMessages messages{.subject = part.url, .unsafe = ": unsafe or oversized media response"};
    HttpResponse response;
    CheckedBytes fetched;
    if (!fetchChecked(transport, request, messages, response, fetched, failure)) return false;
    const auto carrier = index.audio_carriers.find(part.url);
    const AudioCarrier* audio = carrier == index.audio_carriers.end() ? nullptr : &carrier->second;
    std::vector<std::uint8_t> decoded;
    if (!decoder->decode(part.codec, response.body, audio, crypto, decoded, failure)) return false;
    payload = state.decoded_media.emplace(key, std::move(decoded)).first;
  }
  const std::vector<std::uint8_t>& bytes = payload->second;
  if (part.offset > bytes.size() || part.length > bytes.size() - part.offset) {
    return failPart(part, ": decoded media part is out of range", FailureKind::Integrity, failure);
  }
  stored = viewOf(bytes, part.offset, part.length);
  return true;
}

}  // namespace

std::string mediaKeyOf(const ResourcePart& part) {
  std::string key = part.codec;
  key.push_back('\0');
  key += part.url;
  return key;
}

PartFetchState::PartFetchState(const Resource& resource) : resource_(resource) {
  const std::size_t count = resource.parts.size();
  next_same_url_.assign(count, count);
  std::map<std::string_view, std::size_t> next_of_url;
  for (std::size_t i = count; i-- > 0;) {
    const ResourcePart& part = resource.parts[i];
    if (part.codec.empty()) {
      const auto next = next_of_url.find(part.url);
      if (next != next_of_url.end()) next_same_url_[i] = next->second;
      next_of_url[part.url] = i;
    } else {
      last_media_use_.try_emplace(mediaKeyOf(part), i);
    }
  }
}

void PartFetchState::releaseAfter(std::size_t part_index) {
  const ResourcePart& part = resource_.parts[part_index];
  if (!part.codec.empty()) {
    const auto last = last_media_use_.find(mediaKeyOf(part));
    if (last != last_media_use_.end() && last->second == part_index) decoded_media.erase(mediaKeyOf(part));
    return;
  }
  const auto window = windows.find(part.url);
  if (window == windows.end()) return;
  // Keep the window while a later range part of this object lies inside it.
  const std::uint64_t first = window->second.first;
  const std::uint64_t size = window->second.bytes.size();
  for (std::size_t j = next_same_url_[part_index]; j < resource_.parts.size(); j = next_same_url_[j]) {
    const ResourcePart& later = resource_.parts[j];
    if (windowHolds(first, size, later)) return;
  }
  recycle(std::move(window->second.bytes));
  windows.erase(window);
}

std::size_t PartFetchState::heldBytes() const {
  std::size_t total = spare_.capacity();
  for (const auto& [url, window] : windows) total += window.bytes.capacity();
  for (const auto& [key, payload] : decoded_media) total += payload.capacity();
  return total;
}

bool fetchPart(const SiteIndex& index, const ResourcePart& part, HttpHost& transport, CryptoHost& crypto,
               MediaDecoder* decoder, PartFetchState& state, const Resource& resource, std::size_t part_index,
               std::span<const std::uint8_t>& stored, Failure& failure) {
  if (part.offset > UINT64_MAX - part.length) return failure.fail(FailureKind::InvalidData, "Part offset overflow");
  if (part.codec.empty()) return fetchRangePart(part, transport, state, resource, part_index, stored, failure);
  return fetchMediaPart(index, part, transport, crypto, decoder, state, stored, failure);
}

}  // namespace vesmara

#include "hosts/transfer_limits.h"

#include <algorithm>

namespace vesmara {
namespace {

// A chunk size is hexadecimal in either case (unlike the library's own
// lowercase hex); -1 for any other byte.
int chunkSizeDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits beyond these count as more than framing (and no size has more).
constexpr int kMaxChunkSizeDigits = 16;

}  // namespace

void TransferWatch::requestSent(TransferClock::time_point now) {
  sent_ = true;
  sent_at_ = now;
  last_received_ = now;
}

void TransferWatch::headBytes(std::uint64_t count, TransferClock::time_point now) {
  head_bytes_ += count;
  received(now);
}

void TransferWatch::headComplete(TransferClock::time_point now) {
  head_complete_ = true;
  period_start_ = now;
  period_bytes_ = 0;
  received(now);
}

void TransferWatch::bodyBytes(std::uint64_t count, TransferClock::time_point now) {
  // Bytes that arrive after a period ended belong to the next one.
  closeRatePeriods(now);
  period_bytes_ += count;
  received(now);
}

void TransferWatch::framingBytes(std::uint64_t count, TransferClock::time_point now) {
  framing_bytes_ += count;
  received(now);
}

void TransferWatch::received(TransferClock::time_point now) { last_received_ = now; }

void TransferWatch::skip(TransferClock::duration idle) {
  sent_at_ += idle;
  last_received_ += idle;
  period_start_ += idle;
}

bool TransferWatch::withinLimits(TransferClock::time_point now) {
  if (broken_ != BrokenLimit::None) return false;
  if (!sent_) return true;
  if (!head_complete_) {
    if (head_bytes_ > limits_.max_head_bytes) {
      breakLimit(BrokenLimit::HeadSize);
    } else if (now - sent_at_ >= limits_.head_timeout) {
      breakLimit(BrokenLimit::HeadTime);
    }
  } else if (framing_bytes_ > limits_.max_framing_bytes) {
    breakLimit(BrokenLimit::Framing);
  } else {
    closeRatePeriods(now);
  }
  if (broken_ == BrokenLimit::None && now - last_received_ >= limits_.stall_timeout) breakLimit(BrokenLimit::Stall);
  return broken_ == BrokenLimit::None;
}

void TransferWatch::breakLimit(BrokenLimit limit) {
  if (broken_ != BrokenLimit::None) return;
  broken_ = limit;
  broken_in_body_ = head_complete_;
}

void TransferWatch::closeRatePeriods(TransferClock::time_point now) {
  if (!head_complete_ || broken_ != BrokenLimit::None || limits_.rate_period.count() <= 0) return;
  const std::uint64_t floor =
      limits_.min_body_rate * static_cast<std::uint64_t>(limits_.rate_period.count()) / std::uint64_t{1000};
  while (now - period_start_ >= limits_.rate_period) {
    if (period_bytes_ < floor) {
      breakLimit(BrokenLimit::BodyRate);
      return;
    }
    period_start_ += limits_.rate_period;
    period_bytes_ = 0;
  }
}

std::uint64_t ChunkedFramingMeter::feed(std::string_view bytes) {
  std::uint64_t extra = 0;
  std::size_t at = 0;
  while (at < bytes.size() && state_ != State::Done) {
    if (state_ == State::Data) {
      const std::uint64_t take = std::min<std::uint64_t>(data_left_, bytes.size() - at);
      at += static_cast<std::size_t>(take);
      data_left_ -= take;
      if (data_left_ == 0) state_ = State::DataEnd;
      continue;
    }
    extra += lineByte(bytes[at++]);
  }
  return extra;
}

std::uint64_t ChunkedFramingMeter::lineByte(char c) {
  if (c == '\n') {
    // A trailer field's line end belongs to the field; every other line end
    // is framing.
    const std::uint64_t field_end = state_ == State::Trailer && line_length_ > 0 ? (cr_pending_ ? 2 : 1) : 0;
    endLine();
    return field_end;
  }
  std::uint64_t extra = 0;
  if (cr_pending_) {  // a CR inside the line, not its end
    cr_pending_ = false;
    in_digits_ = false;
    ++line_length_;
    ++extra;
  }
  if (c == '\r') {
    cr_pending_ = true;
    return extra;
  }
  if (state_ == State::SizeLine && in_digits_ && digits_ < kMaxChunkSizeDigits) {
    const int digit = chunkSizeDigit(c);
    if (digit >= 0) {
      ++digits_;
      size_ = size_ * 16 + static_cast<std::uint64_t>(digit);
      return extra;
    }
  }
  in_digits_ = false;
  ++line_length_;
  return extra + 1;
}

void ChunkedFramingMeter::endLine() {
  switch (state_) {
    case State::SizeLine:
      data_left_ = size_;
      state_ = size_ == 0 ? State::Trailer : State::Data;
      break;
    case State::DataEnd:
      state_ = State::SizeLine;
      break;
    case State::Trailer:
      if (line_length_ == 0) state_ = State::Done;
      break;
    case State::Data:
    case State::Done:
      break;
  }
  cr_pending_ = false;
  in_digits_ = true;
  digits_ = 0;
  size_ = 0;
  line_length_ = 0;
}

}  // namespace vesmara

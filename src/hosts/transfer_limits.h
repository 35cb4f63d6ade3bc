// The limits that end every fetch of the library's own client in bounded
// time whatever the server does, and the bookkeeping that applies them.
// Plain inputs only (byte counts and steady-clock instants), no platform
// call: a transport reports what arrives and when, and asks whether a limit
// is broken; tests drive the same code without a network.
//
//   limit        default            broken when                                phase
//   stall        10 s               nothing received for that long             head or body
//   head time    30 s               the final head is not complete that long   head
//                                   after the request went out (interim 1xx
//                                   heads do not count as an answer)
//   head size    64 KiB             the heads (interim ones included) are      head
//                                   longer than that
//   body rate    2 KiB/s over 30 s  a 30 s period brings less than 60 KiB of   body
//                                   body; periods are counted one after the
//                                   other from the end of the head
//   framing      16 KiB             chunk extensions, over-long chunk sizes    body
//                                   and trailer fields together pass that
//
// A limit broken in the head phase fails the fetch as the send step fails
// ("HTTP send failed or cancelled"), one broken in the body phase as the
// body read fails ("HTTP body read failed").
//
// The rate floor lets a link of 16 kbit/s through; a body that trickles from
// its start ends 30 s after the head, one that slows down later at most
// 60 s after it slowed. The framing allowance counts nothing of the framing
// every chunked body needs (chunk sizes and line ends), so a legitimate body
// passes however many chunks it is cut into.
#ifndef VESMARA_HOSTS_TRANSFER_LIMITS_H_
#define VESMARA_HOSTS_TRANSFER_LIMITS_H_

#include <chrono>
#include <cstdint>
#include <string_view>

#include "hosts/http_rules.h"

namespace vesmara {

using TransferClock = std::chrono::steady_clock;

struct TransferLimits {
  std::chrono::milliseconds stall_timeout{10000};
  std::chrono::milliseconds head_timeout{30000};
  std::uint64_t max_head_bytes = 65536;
  // Bytes per second, averaged over each rate period.
  std::uint64_t min_body_rate = 2048;
  std::chrono::milliseconds rate_period{30000};
  std::uint64_t max_framing_bytes = 16384;
};

// Which limit a transfer broke.
enum class BrokenLimit { None, Stall, HeadTime, HeadSize, BodyRate, Framing };

// One fetch's account against the limits. Instants must not go backwards.
// Nothing is judged before requestSent; the first broken limit stays.
class TransferWatch {
 public:
  explicit TransferWatch(const TransferLimits& limits) : limits_(limits) {}

  // The request goes out now (the connection is ready).
  void requestSent(TransferClock::time_point now);
  // Bytes of head lines (status line, fields, blank line) of any head.
  void headBytes(std::uint64_t count, TransferClock::time_point now);
  // The final head is complete; the body phase starts.
  void headComplete(TransferClock::time_point now);
  // Body bytes as the caller receives them (after any chunked framing).
  void bodyBytes(std::uint64_t count, TransferClock::time_point now);
  // Chunk extensions and trailer bytes (see ChunkedFramingMeter).
  void framingBytes(std::uint64_t count, TransferClock::time_point now);
  // Anything at all arrived (framing the other calls do not see included).
  void received(TransferClock::time_point now);
  // The transport left the transfer alone for `idle` (a request sent ahead
  // that waited for its fetch): that time counts for no limit.
  void skip(TransferClock::duration idle);

  // Judges the limits at `now`; true while none is broken.
  bool withinLimits(TransferClock::time_point now);

  BrokenLimit broken() const { return broken_; }
  // The step whose failure a broken limit is reported as: Send when it
  // broke before the final head was complete, Body after.
  FetchStep failedStep() const { return broken_in_body_ ? FetchStep::Body : FetchStep::Send; }

 private:
  void breakLimit(BrokenLimit limit);
  // Closes the rate periods that ended by `now`, judging each.
  void closeRatePeriods(TransferClock::time_point now);

  TransferLimits limits_;
  bool sent_ = false;
  bool head_complete_ = false;
  TransferClock::time_point sent_at_;
  TransferClock::time_point last_received_;
  std::uint64_t head_bytes_ = 0;
  std::uint64_t framing_bytes_ = 0;
  TransferClock::time_point period_start_;
  std::uint64_t period_bytes_ = 0;
  BrokenLimit broken_ = BrokenLimit::None;
  bool broken_in_body_ = false;
};

// Follows a chunked body byte for byte as it arrives (before the chunks are
// taken apart) and tells which bytes are more than the framing needs:
// everything on a chunk-size line after its first 16 hex digits (chunk
// extensions, blanks, further digits), stray bytes between a chunk's data and
// its line end, and the trailer fields with their line ends. Chunk data,
// size digits, line ends (CRLF or a bare LF) and the final blank line count
// nothing. It only measures: whether the framing is valid is the HTTP
// client's business.
class ChunkedFramingMeter {
 public:
  // Feeds the next bytes; returns how many of them are more than framing.
  std::uint64_t feed(std::string_view bytes);

 private:
  enum class State { SizeLine, Data, DataEnd, Trailer, Done };

  // One byte of a line (size line, data end or trailer line); returns how
  // many bytes become countable.
  std::uint64_t lineByte(char c);
  void endLine();

  State state_ = State::SizeLine;
  std::uint64_t data_left_ = 0;
  // The line under way.
  bool cr_pending_ = false;  // a CR that is the line end if LF follows
  bool in_digits_ = true;    // still in the leading hex digits of a size line
  int digits_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t line_length_ = 0;  // trailer line bytes so far, line end excluded
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_TRANSFER_LIMITS_H_

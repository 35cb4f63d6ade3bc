#include "hosts/transfer_limits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vesmara {
namespace {

using std::chrono::milliseconds;

// Instants as milliseconds after an arbitrary start.
TransferClock::time_point at(long ms) { return TransferClock::time_point() + milliseconds(ms); }

// What happens to a transfer, in order.
struct Event {
  enum Kind { Sent, Head, HeadDone, Body, Framing, Skip, Check } kind;  // Skip: `bytes` ms left out
  long ms;
  std::uint64_t bytes = 0;
};

TEST(TransferWatch, EachLimitBreaksExactlyAtItsEdge) {
  TransferLimits limits;  // the defaults: 10 s, 30 s, 64 KiB, 2 KiB/s over 30 s, 16 KiB
  // A fast first second, then 1 KiB every 9 s.
  std::vector<Event> trickle = {{Event::Sent, 0}, {Event::HeadDone, 0}, {Event::Body, 1000, 1 << 20}};
  for (long ms = 9000; ms < 60000; ms += 9000) trickle.push_back({Event::Body, ms, 1024});
  const auto then = [](std::vector<Event> events, Event last) {
    events.push_back(last);
    return events;
  };
  const struct {
    const char* name;
    std::vector<Event> events;  // the last one is the check that must give `broken`
    BrokenLimit broken;
  } cases[] = {
      {"nothing before the request", {{Event::Check, 999999}}, BrokenLimit::None},
      {"silent for 9.999 s", {{Event::Sent, 0}, {Event::Check, 9999}}, BrokenLimit::None},
      {"silent for 10 s", {{Event::Sent, 0}, {Event::Check, 10000}}, BrokenLimit::Stall},
      {"head lines every 9 s, head done at 29.999 s",
       {{Event::Sent, 0},
        {Event::Head, 9000, 30},
        {Event::Head, 18000, 30},
        {Event::Head, 27000, 30},
        {Event::HeadDone, 29999},
        {Event::Check, 29999}},
       BrokenLimit::None},
      {"head lines every 9 s for 30 s",
       {{Event::Sent, 0},
        {Event::Head, 9000, 30},
        {Event::Head, 18000, 30},
        {Event::Head, 27000, 30},
        {Event::Check, 30000}},
       BrokenLimit::HeadTime},
      {"head of 64 KiB", {{Event::Sent, 0}, {Event::Head, 1, 65536}, {Event::Check, 2}}, BrokenLimit::None},
      {"head of 64 KiB and one byte",
       {{Event::Sent, 0}, {Event::Head, 1, 65536}, {Event::Head, 2, 1}, {Event::Check, 2}},
       BrokenLimit::HeadSize},
      {"silent body for 10 s", {{Event::Sent, 0}, {Event::HeadDone, 5}, {Event::Check, 10005}}, BrokenLimit::Stall},
      {"60 KiB in the first 30 s",
       {{Event::Sent, 0}, {Event::HeadDone, 100}, {Event::Body, 30099, 61440}, {Event::Check, 30100}},
       BrokenLimit::None},
      {"one byte short in the first 30 s",
       {{Event::Sent, 0}, {Event::HeadDone, 100}, {Event::Body, 30099, 61439}, {Event::Check, 30100}},
       BrokenLimit::BodyRate},
      {"bytes at the very end of a period belong to the next",
       {{Event::Sent, 0}, {Event::HeadDone, 100}, {Event::Body, 30100, 61440}, {Event::Check, 30100}},
       BrokenLimit::BodyRate},
      {"fast, then a trickle: the second period is not over at 59.999 s", then(trickle, {Event::Check, 59999}),
       BrokenLimit::None},
      {"fast, then a trickle: the second period fails at 60 s", then(trickle, {Event::Check, 60000}),
       BrokenLimit::BodyRate},
      {"periods nobody checked are judged one by one",
       {{Event::Sent, 0},
        {Event::HeadDone, 0},
        {Event::Body, 1, 61440},
        {Event::Body, 95000, 1},
        {Event::Check, 95000}},
       BrokenLimit::BodyRate},
      {"framing of 16 KiB",
       {{Event::Sent, 0}, {Event::HeadDone, 0}, {Event::Framing, 1, 16384}, {Event::Check, 1}},
       BrokenLimit::None},
      {"framing of 16 KiB and one byte",
       {{Event::Sent, 0}, {Event::HeadDone, 0}, {Event::Framing, 1, 16384}, {Event::Framing, 2, 1}, {Event::Check, 2}},
       BrokenLimit::Framing},
      {"framing bytes keep a body from stalling but not from the rate",
       {{Event::Sent, 0},
        {Event::HeadDone, 0},
        {Event::Framing, 9000, 1},
        {Event::Framing, 18000, 1},
        {Event::Framing, 27000, 1},
        {Event::Check, 30000}},
       BrokenLimit::BodyRate},
      {"a skipped minute counts for no limit",
       {{Event::Sent, 0}, {Event::Head, 9000, 30}, {Event::Skip, 9000, 60000}, {Event::Check, 78999}},
       BrokenLimit::None},
      {"silent for 10 s after the skipped time",
       {{Event::Sent, 0}, {Event::Skip, 0, 60000}, {Event::Check, 70000}},
       BrokenLimit::Stall},
      {"the rate period moves with the skipped time",
       {{Event::Sent, 0},
        {Event::HeadDone, 100},
        {Event::Body, 20000, 30000},
        {Event::Skip, 20000, 60000},
        {Event::Body, 90099, 31440},
        {Event::Check, 90100}},
       BrokenLimit::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TransferWatch watch(limits);
    bool within = true;
    for (const Event& e : c.events) {
      switch (e.kind) {
        case Event::Sent:
          watch.requestSent(at(e.ms));
          break;
        case Event::Head:
          watch.headBytes(e.bytes, at(e.ms));
          break;
        case Event::HeadDone:
          watch.headComplete(at(e.ms));
          break;
        case Event::Body:
          watch.bodyBytes(e.bytes, at(e.ms));
          break;
        case Event::Framing:
          watch.framingBytes(e.bytes, at(e.ms));
          break;
        case Event::Skip:
          watch.skip(milliseconds(e.bytes));
          break;
        case Event::Check:
          within = watch.withinLimits(at(e.ms));
          break;
      }
    }
    EXPECT_EQ(within, c.broken == BrokenLimit::None);
    EXPECT_EQ(watch.broken(), c.broken);
    if (c.broken != BrokenLimit::None) {
      // Reported as the head's failure until the head is complete, as the body's after.
      const bool in_body =
          std::any_of(c.events.begin(), c.events.end(), [](const Event& e) { return e.kind == Event::HeadDone; });
      EXPECT_EQ(watch.failedStep(), in_body ? FetchStep::Body : FetchStep::Send);
      EXPECT_FALSE(watch.withinLimits(at(c.events.back().ms))) << "a broken limit stays broken";
    }
  }
}

TEST(ChunkedFramingMeter, CountsOnlyWhatIsMoreThanFraming) {
  const struct {
    std::string stream;
    std::uint64_t extra;
  } cases[] = {
      {"5\r\nhello\r\n0\r\n\r\n", 0},
      {"5\nhello\n0\n\n", 0},                                  // bare line ends
      {"3\r\n;\r\n\r\n0\r\n\r\n", 0},                          // data that looks like framing
      {"A\r\n0123456789\r\n0\r\n\r\n", 0},                     // upper-case size
      {"5;name=value\r\nhello\r\n0\r\n\r\n", 11},              // an extension
      {"5 \r\nhello\r\n0;x\r\n\r\n", 3},                       // a blank, the last chunk's extension
      {std::string(15, '0') + "50\r\nhello\r\n0\r\n\r\n", 1},  // a 17th digit
      {"5\r\nhello\r\r\n0\r\n\r\n", 1},                        // a stray CR after the data
      {"5\r\nhello\r\n0\r\nX-A: 1\r\nX-B: 22\r\n\r\n", 17},    // trailer fields with their line ends
      {"5\r\nhello\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n", 0},       // after the end nothing counts
      {"5\r\nhello\r\n0\r\nX-A: 1", 6},                        // a trailer still arriving
  };
  for (const auto& c : cases) {
    ChunkedFramingMeter whole;
    EXPECT_EQ(whole.feed(c.stream), c.extra) << c.stream;
    // Fed one byte at a time, the count is the same.
    ChunkedFramingMeter bytewise;
    std::uint64_t extra = 0;
    for (char b : c.stream) extra += bytewise.feed(std::string_view(&b, 1));
    EXPECT_EQ(extra, c.extra) << c.stream;
  }
}

TEST(ChunkedFramingMeter, ManySmallChunksCountNothing) {
  // 100,000 one-byte chunks carry 6 bytes of framing each: all of it needed.
  std::string stream;
  for (int i = 0; i < 100000; ++i) stream += "1\r\nx\r\n";
  stream += "0\r\n\r\n";
  ChunkedFramingMeter meter;
  EXPECT_EQ(meter.feed(stream), 0u);
}

}  // namespace
}  // namespace vesmara

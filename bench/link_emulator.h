// A network link between two loopback sockets, for benchmarks: a TCP proxy
// that delays every byte by a fixed one-way delay in each direction and lets
// through at most a given number of bytes per second, each direction on its
// own (a full-duplex link) and shared by all its connections, so that a
// client opening a second connection gains no bandwidth from it. No kernel queueing discipline is needed, so it
// runs where `tc` is not available.
//
//   LinkEmulator link(nginx_port, {.one_way_delay = 20ms, .bytes_per_second = 125e6});
//   // connect to 127.0.0.1:link.port() instead of nginx
//
// What it models: propagation delay (a request waits one delay before the
// server sees it, the answer one more), the link's serialisation rate, and
// the connection handshake (the first byte towards the server leaves one
// round trip after the connection is accepted). What it does not: the
// endpoints' TCP runs over loopback, so slow start and the congestion window
// of a real path are not reproduced; the kernel's socket buffers act as the
// bottleneck's queue. A client that leaves the link idle between requests
// pays exactly the round trips it would pay on the real path.
//
// One thread, one epoll set, every connection in it.
#ifndef VESMARA_BENCH_LINK_EMULATOR_H_
#define VESMARA_BENCH_LINK_EMULATOR_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace vesmara::bench {

struct LinkShape {
  std::chrono::microseconds one_way_delay{0};
  double bytes_per_second = 0;  // in each direction; must be positive
};

class LinkEmulator {
 public:
  // Listens on 127.0.0.1 (an ephemeral port) and forwards each connection to
  // 127.0.0.1:`upstream_port`.
  LinkEmulator(std::uint16_t upstream_port, LinkShape shape);
  ~LinkEmulator();
  LinkEmulator(const LinkEmulator&) = delete;
  LinkEmulator& operator=(const LinkEmulator&) = delete;

  bool started() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  std::uint16_t port() const { return port_; }

 private:
  void run();

  std::uint16_t upstream_port_;
  LinkShape shape_;
  int listener_ = -1;
  int epoll_ = -1;
  int wake_ = -1;  // eventfd: the destructor stops the thread through it
  std::uint16_t port_ = 0;
  std::string error_;
  std::thread thread_;
};

}  // namespace vesmara::bench

#endif  // VESMARA_BENCH_LINK_EMULATOR_H_

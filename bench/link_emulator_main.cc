// Runs the link emulator on its own, to put a delay and a rate cap in front of
// any loopback server by hand:
//
//   link_emulator UPSTREAM_PORT ONE_WAY_DELAY_MS MBIT_PER_SECOND
//   vkr info http://127.0.0.1:PRINTED_PORT
//
// Prints the port it listens on, then forwards until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link_emulator.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: link_emulator UPSTREAM_PORT ONE_WAY_DELAY_MS MBIT_PER_SECOND\n");
    return 2;
  }
  const long port = std::strtol(argv[1], nullptr, 10);
  const double delay_ms = std::strtod(argv[2], nullptr);
  const double mbit = std::strtod(argv[3], nullptr);
  if (port <= 0 || port > 65535 || delay_ms < 0 || !(mbit > 0)) {
    std::fprintf(stderr, "link_emulator: a port of 1 to 65535, a delay of 0 ms or more and a positive rate\n");
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before the emulator's thread starts
  const vesmara::bench::LinkEmulator link(
      static_cast<std::uint16_t>(port),
      {.one_way_delay = std::chrono::microseconds(static_cast<long long>(delay_ms * 1000)),
       .bytes_per_second = mbit * 1e6 / 8});
  if (!link.started()) {
    std::fprintf(stderr, "%s\n", link.error().c_str());
    return 1;
  }
  std::printf("127.0.0.1:%u\n", static_cast<unsigned>(link.port()));
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&signals, &signal_number);
  return 0;
}

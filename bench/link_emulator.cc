#include "link_emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vesmara::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes are read in pieces of at most this size, and the link is scheduled
// this far ahead of now, so that a 1 ms timer granularity never leaves a
// fast link idle.
constexpr std::size_t kReadPiece = 16 * 1024;
constexpr auto kScheduleAhead = std::chrono::milliseconds(2);
// Beyond what the link itself holds, at most this much waits for a slow reader.
constexpr std::size_t kWriteBacklog = 8 << 20;

constexpr std::uint64_t kListenerTag = ~std::uint64_t{0};
constexpr std::uint64_t kWakeTag = kListenerTag - 1;

struct Piece {
  Clock::time_point due;
  std::vector<std::uint8_t> bytes;
  std::size_t sent = 0;
};

// One direction of a connection: what was read from `from` travels the link
// and is written to `to` when it arrives.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Piece> line;
  std::size_t in_flight = 0;
  // When the link in this direction has sent everything read so far: one
  // clock for every connection, which share the link's capacity.
  Clock::time_point* link_free = nullptr;
  Clock::time_point not_before;  // no byte arrives sooner (the handshake)
  bool source_ended = false;
  bool shut = false;           // the end of the stream was passed on
  bool write_blocked = false;  // the last write would have blocked
};

struct Connection;

// A direction whose source had bytes to read in this turn.
struct Sender {
  std::uint64_t tag;
  struct Direction* direction;
  Connection* connection;
};

struct Connection {
  Direction up;    // client to server
  Direction down;  // server to client
  std::uint32_t client_events = 0;
  std::uint32_t upstream_events = 0;
  bool broken = false;
};

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

std::optional<int> connectUpstream(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Loopback: the connection is made at once; the emulated handshake is the
  // delay given to the first bytes towards the server.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return fd;
}

void makeNonBlocking(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

class Loop {
 public:
  Loop(int epoll, int listener, std::uint16_t upstream_port, LinkShape shape)
      : epoll_(epoll), listener_(listener), upstream_port_(upstream_port), shape_(shape) {
    const double bytes_in_flight =
        shape.bytes_per_second * std::chrono::duration<double>(shape.one_way_delay + kScheduleAhead).count();
    cap_ = static_cast<std::size_t>(bytes_in_flight) + kWriteBacklog;
  }

  ~Loop() {
    for (auto& [id, connection] : connections_) closeConnection(*connection);
  }

  // Returns false when the wake descriptor was signalled.
  bool turn() {
    const Clock::time_point now = Clock::now();
    for (auto& [id, connection] : connections_) updateInterest(id, *connection, now);
    epoll_event events[64];
    const int count = ::epoll_wait(epoll_, events, 64, timeoutMs(now));
    if (count < 0 && errno != EINTR) return false;
    std::vector<Sender> readable;
    for (int i = 0; i < count; ++i) {
      const std::uint64_t tag = events[i].data.u64;
      if (tag == kWakeTag) return false;
      if (tag == kListenerTag) {
        accept();
        continue;
      }
      const auto found = connections_.find(tag / 2);
      if (found == connections_.end()) continue;
      Connection& connection = *found->second;
      const bool client_side = tag % 2 == 0;
      const std::uint32_t what = events[i].events;
      if (what & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
        readable.push_back({tag, client_side ? &connection.up : &connection.down, &connection});
      }
      if (what & EPOLLOUT) (client_side ? connection.down : connection.up).write_blocked = false;
    }
    readFair(readable);
    const Clock::time_point after = Clock::now();
    for (auto it = connections_.begin(); it != connections_.end();) {
      Connection& connection = *it->second;
      deliver(connection.up, connection, after);
      deliver(connection.down, connection, after);
      if (connection.broken || (connection.up.shut && connection.down.shut)) {
        closeConnection(connection);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    return true;
  }

 private:
  bool mayRead(const Direction& direction, Clock::time_point now) const {
    return !direction.source_ended && direction.in_flight < cap_ && *direction.link_free <= now + kScheduleAhead;
  }

  void accept() {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const std::optional<int> upstream = connectUpstream(upstream_port_);
    if (!upstream) {
      ::close(client);
      return;
    }
    makeNonBlocking(client);
    makeNonBlocking(*upstream);
    auto connection = std::make_unique<Connection>();
    const Clock::time_point now = Clock::now();
    connection->up = {
        .from = client, .to = *upstream, .link_free = &up_free_, .not_before = now + 2 * shape_.one_way_delay};
    connection->down = {.from = *upstream, .to = client, .link_free = &down_free_, .not_before = now};
    const std::uint64_t id = next_id_++;
    epoll_event event{};
    event.data.u64 = id * 2;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, client, &event);
    event.data.u64 = id * 2 + 1;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, *upstream, &event);
    connections_.emplace(id, std::move(connection));
  }

  // Reads what the link may carry now, a piece from each sender in turn,
  // the turn going on from where the last call left it: a bottleneck that
  // queues per flow (as Linux's default fq_codel does) shares its capacity
  // between connections instead of serving whichever one happens to be
  // read first.
  void readFair(std::vector<Sender>& readable) {
    std::sort(readable.begin(), readable.end(), [](const Sender& a, const Sender& b) { return a.tag < b.tag; });
    const auto next = std::upper_bound(readable.begin(), readable.end(), last_served_,
                                       [](std::uint64_t tag, const Sender& sender) { return tag < sender.tag; });
    std::rotate(readable.begin(), next, readable.end());
    while (!readable.empty()) {
      for (std::size_t i = 0; i < readable.size();) {
        if (readPiece(*readable[i].direction, *readable[i].connection)) {
          last_served_ = readable[i].tag;
          ++i;
        } else {
          readable.erase(readable.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
  }

  // Reads one piece when the link may carry it; each piece arrives once the
  // link has serialised it and the delay has passed. Returns whether the
  // sender may have more to read now.
  bool readPiece(Direction& direction, Connection& connection) {
    const Clock::time_point now = Clock::now();
    if (!mayRead(direction, now)) return false;
    std::vector<std::uint8_t> bytes(kReadPiece);
    ssize_t got = ::recv(direction.from, bytes.data(), bytes.size(), 0);
    while (got < 0 && errno == EINTR) got = ::recv(direction.from, bytes.data(), bytes.size(), 0);
    if (got < 0 && errno == EAGAIN) return false;
    if (got < 0) {
      connection.broken = true;
      return false;
    }
    if (got == 0) {
      direction.source_ended = true;
      return false;
    }
    bytes.resize(static_cast<std::size_t>(got));
    const auto serialisation = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(got) / shape_.bytes_per_second));
    // A token bucket as deep as the schedule-ahead: a wake-up that comes
    // late does not cost the link its capacity.
    Clock::time_point& link_free = *direction.link_free;
    link_free = std::max(link_free, now - kScheduleAhead) + serialisation;
    direction.in_flight += bytes.size();
    direction.line.push_back(
        {.due = std::max(link_free, direction.not_before) + shape_.one_way_delay, .bytes = std::move(bytes)});
    return true;
  }

  // Writes every piece that has arrived, then passes on the end of the stream.
  void deliver(Direction& direction, Connection& connection, Clock::time_point now) {
    while (!direction.line.empty() && !direction.write_blocked && direction.line.front().due <= now) {
      Piece& piece = direction.line.front();
      const ssize_t sent =
          ::send(direction.to, piece.bytes.data() + piece.sent, piece.bytes.size() - piece.sent, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno == EAGAIN) {
        direction.write_blocked = true;
        return;
      }
      if (sent < 0) {
        connection.broken = true;
        return;
      }
      piece.sent += static_cast<std::size_t>(sent);
      direction.in_flight -= static_cast<std::size_t>(sent);
      if (piece.sent == piece.bytes.size()) direction.line.pop_front();
    }
    if (direction.source_ended && direction.line.empty() && !direction.shut) {
      ::shutdown(direction.to, SHUT_WR);
      direction.shut = true;
    }
  }

  void updateInterest(std::uint64_t id, Connection& connection, Clock::time_point now) {
    const auto wanted = [&](const Direction& reading, const Direction& writing) {
      return (mayRead(reading, now) ? std::uint32_t{EPOLLIN} : 0u) |
             (writing.write_blocked ? std::uint32_t{EPOLLOUT} : 0u);
    };
    const auto update = [&](int fd, std::uint32_t& registered, std::uint32_t events, std::uint64_t tag) {
      if (events == registered) return;
      epoll_event event{};
      event.events = events;
      event.data.u64 = tag;
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
      registered = events;
    };
    update(connection.up.from, connection.client_events, wanted(connection.up, connection.down), id * 2);
    update(connection.down.from, connection.upstream_events, wanted(connection.down, connection.up), id * 2 + 1);
  }

  // Until the next piece is due or the link frees up for more reading.
  int timeoutMs(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    const auto consider = [&](Clock::time_point when) { next = next ? std::min(*next, when) : when; };
    for (const auto& [id, connection] : connections_) {
      for (const Direction* direction : {&connection->up, &connection->down}) {
        if (!direction->line.empty() && !direction->write_blocked) consider(direction->line.front().due);
        if (!direction->source_ended && direction->in_flight < cap_ && !mayRead(*direction, now)) {
          consider(*direction->link_free - kScheduleAhead);
        }
      }
    }
    if (!next) return -1;
    if (*next <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    return static_cast<int>(wait.count());
  }

  void closeConnection(Connection& connection) {
    for (const int fd : {connection.up.from, connection.down.from}) {
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      closeQuietly(fd);
    }
  }

  int epoll_;
  int listener_;
  std::uint16_t upstream_port_;
  LinkShape shape_;
  std::size_t cap_ = 0;
  // The link's two directions, shared by every connection.
  Clock::time_point up_free_;
  Clock::time_point down_free_;
  std::uint64_t next_id_ = 0;
  std::uint64_t last_served_ = 0;  // the sender that was read last
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
};

}  // namespace

LinkEmulator::LinkEmulator(std::uint16_t upstream_port, LinkShape shape)
    : upstream_port_(upstream_port), shape_(shape) {
  if (!(shape.bytes_per_second > 0) || shape.one_way_delay.count() < 0) {
    error_ = "link emulator: the rate must be positive and the delay not negative";
    return;
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error_ = std::string("link emulator: cannot listen on loopback: ") + std::strerror(errno);
    return;
  }
  port_ = ntohs(address.sin_port);
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (wake_ < 0 || epoll_ < 0) {
    error_ = std::string("link emulator: ") + std::strerror(errno);
    return;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kListenerTag;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
  event.data.u64 = kWakeTag;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
  thread_ = std::thread([this] { run(); });
}

LinkEmulator::~LinkEmulator() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) != sizeof one) std::terminate();
    thread_.join();
  }
  closeQuietly(epoll_);
  closeQuietly(wake_);
  closeQuietly(listener_);
}

void LinkEmulator::run() {
  Loop loop(epoll_, listener_, upstream_port_, shape_);
  while (loop.turn()) {
  }
}

}  // namespace vesmara::bench

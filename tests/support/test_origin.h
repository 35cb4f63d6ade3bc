// A loopback HTTP origin for tests and benchmarks: serves files on an
// ephemeral port of 127.0.0.1 and misbehaves on demand.
//
//   TestOrigin origin;                       // bound and serving
//   origin.addFile("/favicon.ico", bytes);
//   CurlHttpHost host(origin.origin(), message);
//   ...
//   EXPECT_EQ(origin.requestCount(), 1u);
//
// Files come from memory (addFile, at any time) or from a directory tree on
// disk (serveDirectory). Each has a strong ETag derived from its bytes. A GET
// with "Range: bytes=a-b" or "bytes=-n" gets 206 with Content-Range (416
// with "bytes */size" when unsatisfiable), a GET without Range gets 200, an
// unknown path 404. Every request is logged with its headers.
//
// Misbehaviours are set per path or for every path (a path's own setting
// wins) and can change between requests. Stalls and drips wake up when the
// origin is destroyed, so a test never waits for them to run out.
#ifndef VESMARA_TESTS_SUPPORT_TEST_ORIGIN_H_
#define VESMARA_TESTS_SUPPORT_TEST_ORIGIN_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vesmara::test {

class TestOrigin {
 public:
  // The pace of a drip or an endless answer: `pieces` at a time (bytes of a
  // body, field lines, interim heads, extension bytes or trailer fields),
  // then a wait of `every` (none: as fast as the client takes them).
  struct Pace {
    std::size_t pieces = 1;
    std::chrono::milliseconds every{0};
  };

  // Answers that never end, whatever the client waits for.
  enum class Endless {
    None,
    FieldLines,      // a final head whose field lines never stop
    InterimHeads,    // "102 Processing" heads, one after another
    ChunkExtension,  // a chunked body whose first chunk-size line never ends
    Trailers,        // a chunked body of the file, then trailer fields forever
  };

  struct Behaviour {
    // Answer every request with 200 and the whole file, Range or not.
    bool ignoreRanges = false;
    // A 206 answer carries a Content-Range one byte off ("bytes a+1-b+1/size").
    bool wrongContentRange = false;
    // A 206 answer carries "bytes */size".
    bool starContentRange = false;
    // Replaces the Content-Range value of any answer that has one.
    std::optional<std::string> contentRange;
    // Every answer carries a different ETag.
    bool changeEtag = false;
    // Replaces the ETag value (bytes sent as they are).
    std::optional<std::string> etag;
    // Adds a Content-Encoding field with this value (e.g. "gzip").
    std::optional<std::string> contentEncoding;
    // Answer 302 with this Location and no file.
    std::optional<std::string> redirectTo;
    // Replaces the status of the answer (the body stays what it would be).
    std::optional<int> status;
    // Appends this many bytes ('#') after the content, correctly framed.
    std::uint64_t extraBodyBytes = 0;
    // Sends the body with chunked transfer coding (no Content-Length).
    bool chunked = false;
    // Waits before answering at all.
    std::chrono::milliseconds stallBeforeHead{0};
    // Sends half of the body, then waits, then sends the rest.
    std::chrono::milliseconds stallMidBody{0};
    // Sends half of the body, then closes the connection.
    bool closeMidBody = false;
    // Sends the body at this pace (framing stays correct).
    std::optional<Pace> drip;
    // Announces this Content-Length; the bytes after the content are '#'.
    std::optional<std::uint64_t> declaredLength;
    // Never finishes the answer; its pieces come at `endlessPace`.
    Endless endless = Endless::None;
    Pace endlessPace;
    // More response fields, sent as given.
    std::vector<std::pair<std::string, std::string>> extraHeaders;
  };

  struct LoggedRequest {
    std::string method;
    std::string path;
    std::string range;  // the Range field, empty when absent
    std::vector<std::pair<std::string, std::string>> headers;  // every field the client sent
    int remotePort = 0;  // the client's port: equal ports mean one reused connection

    bool hasHeader(std::string_view name) const;
    std::string header(std::string_view name) const;  // empty when absent
  };

  enum class Scheme {
    Http,   // plain HTTP
    Https,  // TLS with a freshly made self-signed certificate for "localhost"
            // and 127.0.0.1, which no client trusts
  };

  // Binds 127.0.0.1 on `port` (0: an ephemeral one) and starts serving. A
  // test restarts a server by making a new origin on the old one's port.
  explicit TestOrigin(Scheme scheme = Scheme::Http, int port = 0);
  // Wakes every stall and stops serving.
  ~TestOrigin();
  TestOrigin(const TestOrigin&) = delete;
  TestOrigin& operator=(const TestOrigin&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>", or "https://localhost:<port>" with TLS.
  std::string origin() const;

  void addFile(const std::string& path, std::string_view bytes);
  void addFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
  void removeFile(const std::string& path);
  // Serves the files under `root` at `prefix` followed by their relative
  // paths, read from disk at each request.
  void serveDirectory(const std::filesystem::path& root, const std::string& prefix = "/");
  // The ETag a file is served with (quotes included), if it exists.
  std::optional<std::string> etagOf(const std::string& path) const;

  void setBehaviour(const std::string& path, Behaviour behaviour);
  void setGlobalBehaviour(Behaviour behaviour);
  void clearBehaviours();

  std::vector<LoggedRequest> requests() const;
  std::size_t requestCount() const;
  void clearLog();

  // Waits until `count` stalls (before a head, mid-body, or between two
  // pieces of a drip or an endless answer) have begun since the origin
  // started; false when `timeout` passes first. A test acts on a client that
  // is stuck for certain instead of sleeping and hoping it is.
  bool waitForStalls(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // A deterministic pseudo-random byte string for test files.
  static std::string makeBytes(std::size_t size, std::uint32_t seed = 1);
  // The same bytes as a byte vector.
  static std::vector<std::uint8_t> makeByteVector(std::size_t size, std::uint32_t seed = 1) {
    const std::string bytes = makeBytes(size, seed);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }

 private:
  void handle(const httplib::Request& request, httplib::Response& response);
  // Sends an answer that never ends.
  void answerEndlessly(const Behaviour& behaviour, const std::string& content, httplib::Response& response);
  struct File {
    std::string bytes;
    std::string etag;
  };
  // The file with its ETag, or null.
  std::shared_ptr<const File> findFile(const std::string& path) const;
  Behaviour behaviourFor(const std::string& path) const;
  // Waits up to `duration`; false when the origin is shutting down.
  bool pause(std::chrono::milliseconds duration);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  Scheme scheme_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::condition_variable stalled_;
  std::size_t stalls_ = 0;
  std::map<std::string, std::shared_ptr<const File>> files_;
  std::vector<std::pair<std::string, std::filesystem::path>> directories_;
  std::map<std::string, Behaviour> behaviours_;
  std::optional<Behaviour> global_;
  std::vector<LoggedRequest> log_;
  std::uint64_t answers_ = 0;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_TEST_ORIGIN_H_

// Reading one resource: every part fetched, verified and decoded in order,
// streamed into a sink while hashed, and committed only after the whole
// resource's length and digest match the index.
#ifndef VESMARA_RETRIEVAL_RESOURCE_READ_H_
#define VESMARA_RETRIEVAL_RESOURCE_READ_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/file_output.h"
#include "hosts/http_host.h"
#include "hosts/output_host.h"
#include "hosts/platform.h"
#include "index/site_index.h"
#include "media/media_decoder.h"

namespace vesmara {

struct ResourceReadResult {
  std::uint64_t length = 0;  // plain bytes delivered
  std::string sha256;        // their lowercase hex digest
};

// The hosts one read works through; all borrowed from the site or game.
struct ReadHosts {
  HttpHost& transport;
  CryptoHost& crypto;
  MediaDecoder* decoder;  // may be null: media parts then fail as unsupported
};

// The hosts a site or game owns: its transport and the providers its
// platform made for it. The transport is declared first, so it is the last
// to go.
struct OwnedHosts {
  OwnedHosts(Platform& platform, std::unique_ptr<HttpHost> http);

  ReadHosts borrow() { return {*transport, *crypto, media.get()}; }

  std::unique_ptr<HttpHost> transport;
  std::unique_ptr<CryptoHost> crypto;
  std::unique_ptr<MediaDecoder> media;
};

// Where a failed read into a file stopped: the failure, and the file sink's
// own error (None when the sink did not fail), so that the caller can tell
// an existing target from other output failures.
struct DownloadFailure {
  Failure failure;
  FileOutputError output_error = FileOutputError::None;
};

// Opens the platform's file sink for `destination` and runs
// `read(sink, result, failure)` into it; `written` is the delivered length.
// A sink that cannot be opened fails as an output failure with its reason.
template <typename Read>
bool readIntoFile(Platform& platform, std::string_view destination, std::uint64_t& written, DownloadFailure& failure,
                  Read&& read) {
  written = 0;
  std::string refusal;
  const std::unique_ptr<FileOutput> sink = platform.makeFileOutput(destination, refusal);
  if (!sink->isOpen()) {
    failure.output_error = sink->error();
    return failure.failure.fail(FailureKind::Output, refusal);
  }
  ResourceReadResult result;
  if (!read(*sink, result, failure.failure)) {
    failure.output_error = sink->error();
    return false;
  }
  written = result.length;
  return true;
}

// Reads the resource at `path` into `sink`. Every failure aborts the sink;
// success commits it. `member_key` is null when the caller gave none.
// Throws only std::bad_alloc (the sink is then aborted too).
bool readResource(const SiteIndex& index, std::string_view path, const SecretKey* member_key, const ReadHosts& hosts,
                  OutputHost& sink, ResourceReadResult& result, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_RESOURCE_READ_H_

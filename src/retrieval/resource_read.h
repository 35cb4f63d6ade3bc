// Reading one resource: every part fetched, verified and decoded in order,
// streamed into a sink while hashed, and committed only after the whole
// resource's length and digest match the index.
#ifndef VESMARA_RETRIEVAL_RESOURCE_READ_H_
#define VESMARA_RETRIEVAL_RESOURCE_READ_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/http_host.h"
#include "hosts/output_host.h"
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

// Reads the resource at `path` into `sink`. Every failure aborts the sink;
// success commits it. `member_key` is null when the caller gave none.
// Throws only std::bad_alloc (the sink is then aborted too).
bool readResource(const SiteIndex& index, std::string_view path, const SecretKey* member_key, const ReadHosts& hosts,
                  OutputHost& sink, ResourceReadResult& result, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_RESOURCE_READ_H_

// The hosted index: the index a site keeps behind its favicon, in a
// container appended to the icon and located by the favicon's last 128 bytes.
#ifndef VESMARA_INDEX_HOSTED_INDEX_H_
#define VESMARA_INDEX_HOSTED_INDEX_H_

#include <string>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "hosts/http_host.h"
#include "index/site_index.h"

namespace vesmara {

// A verified index and the lowercase hex SHA-256 of the container it came in.
struct LoadedIndex {
  SiteIndex index;
  std::string digest;
};

// Reads the carrier document behind "/favicon.ico" on `transport`: two
// requests (the footer, then the payload), every layout and digest check.
// On success `document` holds the document section and `index_digest` the
// container digest, and `failure` is cleared; on failure `failure` holds the
// message and kind and the outputs are unspecified.
bool readCarrierDocument(HttpHost& transport, CryptoHost& crypto, std::string& document, std::string& index_digest,
                         Failure& failure);

// Reads the carrier document and parses it as the site's index. On failure
// `holder` is left as it was.
bool loadHostedIndex(HttpHost& transport, CryptoHost& crypto, LoadedIndex& holder, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_INDEX_HOSTED_INDEX_H_

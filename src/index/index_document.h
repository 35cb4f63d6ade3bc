// The index document: the JSON text every index carrier ends in.
#ifndef VESMARA_INDEX_INDEX_DOCUMENT_H_
#define VESMARA_INDEX_INDEX_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "index/index_format.h"
#include "index/site_index.h"

namespace vesmara {

// Validates the whole document and builds the index. On failure `failure`
// holds the reason (InvalidData) and `out` is unchanged: nothing of a failed document is
// kept. Throws only std::bad_alloc.
bool parseIndexDocument(std::string_view document, SiteIndex& out, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_INDEX_INDEX_DOCUMENT_H_

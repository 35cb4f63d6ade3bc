// Writes the index document of a site from its description.
#ifndef VESMARA_PUBLISH_INDEX_WRITER_H_
#define VESMARA_PUBLISH_INDEX_WRITER_H_

#include <string>

#include "base/failure.h"
#include "index/site_index.h"

namespace vesmara::publish {

// Renders `index` as an index document and checks it with the library's own
// reader, so a description the reader would refuse (unsorted resources, a
// repeated nonce, lengths that do not add up...) is refused here with the
// reader's message instead of being published. Throws only std::bad_alloc.
bool writeIndexDocument(const SiteIndex& index, std::string& document, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_INDEX_WRITER_H_

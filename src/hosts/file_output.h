// The file sink of downloads and game item fetches: the resource goes into a
// file that has no name of its own (Linux) or a temporary name beside the
// destination, and gets the destination's name on commit, never replacing
// an existing file.
#ifndef VESMARA_HOSTS_FILE_OUTPUT_H_
#define VESMARA_HOSTS_FILE_OUTPUT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hosts/output_host.h"

namespace vesmara {

// The numbers are fixed: callers choose a status from them (TargetExists is
// "output target already exists", anything else an output failure).
enum class FileOutputError : std::uint32_t {
  None = 0,
  InvalidDestination = 1,
  TargetExists = 2,
  WriteFailed = 3,
};

class FileOutput : public OutputHost {
 public:
  // False when construction failed: the sink then refuses every write and
  // commit, and error() and the construction message say why.
  virtual bool isOpen() const = 0;

  // The last failure of construction, write or commit; None while all is well.
  virtual FileOutputError error() const = 0;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_FILE_OUTPUT_H_

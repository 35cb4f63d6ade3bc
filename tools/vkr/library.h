// The library as the vkr commands use it: handles that release themselves,
// string getters that return std::string, long calls that Ctrl-C cancels,
// and failures turned into a CommandError whose exit code is the status.
// Nothing here goes beyond the public header.
#ifndef VESMARA_TOOLS_VKR_LIBRARY_H_
#define VESMARA_TOOLS_VKR_LIBRARY_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/interrupt.h"
#include "common/key_file.h"
#include "vkr_preview.h"

namespace vesmara::vkr {

// Message buffers of every call are this large; longer messages are cut.
inline constexpr std::size_t kMessageCapacity = 512;

// The most a resource read into memory may be; larger ones pass through a
// private temporary file.
inline constexpr std::uint64_t kMemoryReadLimit = 67108864;

// Throws the failure of a call: CommandError with the status as exit code
// and "SUBJECT: " before the library's message (or, when the call wrote
// none, the status's meaning), where `subject` says what was being done to
// what (the origin, a resource, a file), and "; HINT" after it when a
// likely fix is known; Interrupted when Ctrl-C cancelled the call. The
// library's message itself is passed on unchanged.
void checkStatus(vkr_preview_status status, const char* message, const tools::InterruptWatcher& interrupts,
                 const std::string& subject, const std::string& hint = {});

// What a status means, for calls that write no message.
std::string describeStatus(vkr_preview_status status);

// A string getter of the interface, called for the length, then for the text.
std::string readLibraryString(const std::function<vkr_preview_status(char*, std::uint64_t, std::uint64_t*)>& getter);

// Runs `call` under a new operation that Ctrl-C cancels; returns its status.
vkr_preview_status runCancellable(tools::InterruptWatcher& interrupts,
                                  const std::function<vkr_preview_status(vkr_preview_operation*)>& call);

// The member key the caller passes, or none.
struct MemberKey {
  std::optional<tools::Key> key;
  const std::uint8_t* data() const { return key ? key->bytes().data() : nullptr; }
  std::uint64_t size() const { return key ? tools::Key::kSize : 0; }
};

struct ResourceInfo {
  std::string path;
  std::uint64_t length = 0;
  std::string mime;
  std::string access;
  std::string delivery;
  std::string sha256;
};

// Key material for --external (a key file's text or an ICO credential) and
// the file it was read from.
struct ExternalKeyMaterial {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

// Reads the key material for --external (at most 1 MiB).
ExternalKeyMaterial readExternalKeyMaterial(const std::string& path);

// The absolute path a download is saved to: `output` (-o FILE) when given,
// the last segment of `source` inside `output` when that is a folder, or
// else the last segment of `source` in the current folder; the links among
// its folders resolved (the library refuses them). Throws UsageError when
// none of these names a file.
std::string downloadDestination(const std::optional<std::string>& output, const std::string& source);

// What a failed download names: "writing DESTINATION" for an output
// failure or an existing file, "reading SOURCE" (the resource or item) for
// anything else.
std::string downloadSubject(vkr_preview_status status, const std::string& source, const std::string& destination);

// The origin, and the --external file if any.
std::string originSubject(const std::string& origin, const std::optional<ExternalKeyMaterial>& external);

// What a failed load names: the origin, the --external file if any, and
// where the index was being loaded from.
std::string loadSubject(const std::string& origin, const std::optional<ExternalKeyMaterial>& external);

// The likely fix of a failed index load, or empty: --external when the
// favicon carries no index, --key when the --external file holds a member key.
std::string loadHint(const char* message, const std::optional<ExternalKeyMaterial>& external);

// The likely fix of a failed members read, or empty.
std::string memberKeyHint(vkr_preview_status status, const MemberKey& key);

// Refuses an empty ORIGIN before the library is asked, as a usage error.
void requireOrigin(const std::string& origin);

// A loaded site.
class Site {
 public:
  // Opens `origin` through the library's own HTTP client and loads its index:
  // the hosted one, or the one `external` key material leads to.
  Site(const std::string& origin, const std::optional<ExternalKeyMaterial>& external,
       tools::InterruptWatcher& interrupts);
  ~Site();
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  vkr_preview_site* handle() const { return site_; }
  std::string entryPath() const;
  std::string memberKeyId() const;
  std::uint64_t resourceCount() const;
  ResourceInfo resource(std::uint64_t index) const;
  // The full resource path `path` names: `path` itself when it begins with
  // "/", or else a path relative to the folder of the site's pages
  // ("index.html", "img/logo.png").
  std::string resolvePath(const std::string& path) const;
  // The index of the resource with this full path.
  std::optional<std::uint64_t> findResource(const std::string& full_path) const;

 private:
  vkr_preview_site* site_ = nullptr;
};

}  // namespace vesmara::vkr

#endif  // VESMARA_TOOLS_VKR_LIBRARY_H_

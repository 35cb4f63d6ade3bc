#include "vkr/library.h"

#include <memory>

#include "common/command_error.h"
#include "common/files.h"
#include "index/carrier_format.h"

namespace vesmara::vkr {
namespace {

// Releases an operation, which must no longer be cancellable by then.
struct OperationRelease {
  void operator()(vkr_preview_operation* operation) const { vkr_preview_operation_release(operation); }
};

}  // namespace

std::string describeStatus(vkr_preview_status status) {
  switch (status) {
    case VKR_PREVIEW_INVALID_ARGUMENT: return "invalid argument";
    case VKR_PREVIEW_BUFFER_TOO_SMALL: return "buffer too small";
    case VKR_PREVIEW_INTERNAL_FAILURE: return "internal failure";
    case VKR_PREVIEW_OUTPUT_FAILURE: return "output failure";
    case VKR_PREVIEW_CANCELLED: return "cancelled";
    case VKR_PREVIEW_TARGET_EXISTS: return "the output file already exists";
    case VKR_PREVIEW_INVALID_DATA: return "invalid data";
    case VKR_PREVIEW_AUTHENTICATION_FAILED: return "authentication failed";
    case VKR_PREVIEW_INTEGRITY_FAILURE: return "integrity failure";
    case VKR_PREVIEW_TRANSPORT_FAILURE: return "transport failure";
    case VKR_PREVIEW_UNSUPPORTED: return "unsupported or over a limit";
    case VKR_PREVIEW_NOT_FOUND: return "not found";
    case VKR_PREVIEW_WRONG_STATE: return "wrong state";
    case VKR_PREVIEW_ROLLBACK_REFUSED: return "rollback refused";
    default: return "status " + std::to_string(status);
  }
}

void checkStatus(vkr_preview_status status, const char* message, const tools::InterruptWatcher& interrupts,
                 const std::string& subject, const std::string& hint) {
  if (status == VKR_PREVIEW_OK) return;
  if (status == VKR_PREVIEW_CANCELLED && interrupts.interrupted()) throw tools::Interrupted(interrupts.signalNumber());
  const std::string text = message != nullptr && message[0] != '\0' ? message : describeStatus(status);
  throw tools::CommandError(static_cast<int>(status), subject + ": " + text + (hint.empty() ? "" : "; " + hint));
}

std::string readLibraryString(const std::function<vkr_preview_status(char*, std::uint64_t, std::uint64_t*)>& getter) {
  std::uint64_t length = 0;
  vkr_preview_status status = getter(nullptr, 0, &length);
  if (status == VKR_PREVIEW_OK) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    status = getter(text.data(), text.size(), &length);
    if (status == VKR_PREVIEW_OK) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
  }
  throw tools::CommandError(static_cast<int>(status), describeStatus(status));
}

vkr_preview_status runCancellable(tools::InterruptWatcher& interrupts,
                                  const std::function<vkr_preview_status(vkr_preview_operation*)>& call) {
  vkr_preview_operation* raw = nullptr;
  if (vkr_preview_operation_prepare(&raw) != VKR_PREVIEW_OK) {
    throw tools::CommandError(VKR_PREVIEW_INTERNAL_FAILURE, describeStatus(VKR_PREVIEW_INTERNAL_FAILURE));
  }
  const std::unique_ptr<vkr_preview_operation, OperationRelease> operation(raw);
  // The scope ends before the operation is released.
  const auto scope = interrupts.cancelWith([raw] { vkr_preview_operation_cancel(raw); });
  return call(raw);
}

std::string downloadDestination(const std::optional<std::string>& output, const std::string& source) {
  if (output && output->empty()) throw tools::UsageError("-o needs a file name");
  // "-" reads as standard output to anyone used to curl or tar; a file of that name would surprise.
  if (output && *output == "-") throw tools::UsageError("-o - is not supported; 'vkr cat' writes to standard output");
  const std::string leaf = source.substr(source.rfind('/') + 1);
  std::string name = output.value_or(leaf);
  if (output && tools::isDirectory(*output)) name = leaf.empty() ? leaf : *output + "/" + leaf;
  if (name.empty()) throw tools::UsageError("'" + source + "' ends in '/'; give the file to save to with -o FILE");
  return tools::resolveUserPath(name);
}

std::string downloadSubject(vkr_preview_status status, const std::string& source, const std::string& destination) {
  return status == VKR_PREVIEW_OUTPUT_FAILURE || status == VKR_PREVIEW_TARGET_EXISTS ? "writing " + destination
                                                                                     : "reading " + source;
}

std::string originSubject(const std::string& origin, const std::optional<ExternalKeyMaterial>& external) {
  return external ? origin + " (--external " + external->path + ")" : origin;
}

std::string loadSubject(const std::string& origin, const std::optional<ExternalKeyMaterial>& external) {
  return originSubject(origin, external) +
         (external ? ": loading the site index from the key material" : ": loading the site index from /favicon.ico");
}

std::string loadHint(const char* message, const std::optional<ExternalKeyMaterial>& external) {
  if (external) {
    tools::Key key;
    return tools::parseKeyFile(external->bytes, key)
               ? external->path +
                     " holds a 32-byte key: a member key goes to --key, while --external takes the "
                     "key file or ICO credential 'vkr-pack build --external' wrote"
               : std::string();
  }
  // What the library says of a favicon that is missing or carries no index.
  static constexpr std::string_view kNoIndex[] = {"HTTP carrier response was not 200 or 206", "No valid VKR footer",
                                                  "Favicon footer response is unavailable or unsafe"};
  for (const std::string_view text : kNoIndex) {
    if (text == message) return "if the site keeps its index elsewhere, open it with --external FILE";
  }
  return {};
}

std::string memberKeyHint(vkr_preview_status status, const MemberKey& key) {
  if (status != VKR_PREVIEW_AUTHENTICATION_FAILED) return {};
  return key.key ? "check that --key names this site's member key" : "give the site's member key with --key FILE";
}

void requireOrigin(const std::string& origin) {
  if (origin.empty()) throw tools::UsageError("ORIGIN is empty");
}

Site::Site(const std::string& origin, const std::optional<ExternalKeyMaterial>& external,
           tools::InterruptWatcher& interrupts) {
  requireOrigin(origin);
  char message[kMessageCapacity];
  checkStatus(vkr_preview_site_prepare(origin.data(), origin.size(), &site_, message, sizeof message), message,
              interrupts, origin);
  const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
    if (external) {
      return vkr_preview_site_load_external_operation(site_, operation, external->bytes.data(), external->bytes.size(),
                                                      message, sizeof message);
    }
    return vkr_preview_site_load_hosted_operation(site_, operation, message, sizeof message);
  });
  if (status != VKR_PREVIEW_OK) {
    vkr_preview_site_release(site_);
    site_ = nullptr;
    checkStatus(status, message, interrupts, loadSubject(origin, external), loadHint(message, external));
  }
}

Site::~Site() { vkr_preview_site_release(site_); }

std::string Site::entryPath() const {
  return readLibraryString([this](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
    return vkr_preview_site_entry_path(site_, buffer, capacity, length);
  });
}

std::string Site::memberKeyId() const {
  return readLibraryString([this](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
    return vkr_preview_site_member_key_id(site_, buffer, capacity, length);
  });
}

std::uint64_t Site::resourceCount() const {
  std::uint64_t count = 0;
  const vkr_preview_status status = vkr_preview_site_resource_count(site_, &count);
  if (status != VKR_PREVIEW_OK) throw tools::CommandError(static_cast<int>(status), describeStatus(status));
  return count;
}

ResourceInfo Site::resource(std::uint64_t index) const {
  const auto field = [this, index](std::uint32_t selector) {
    return readLibraryString([this, index, selector](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
      return vkr_preview_site_resource_string(site_, index, selector, buffer, capacity, length);
    });
  };
  ResourceInfo info;
  info.path = field(VKR_PREVIEW_RESOURCE_PATH);
  info.mime = field(VKR_PREVIEW_RESOURCE_MIME);
  info.access = field(VKR_PREVIEW_RESOURCE_ACCESS);
  info.delivery = field(VKR_PREVIEW_RESOURCE_DELIVERY);
  info.sha256 = field(VKR_PREVIEW_RESOURCE_SHA256);
  const vkr_preview_status status = vkr_preview_site_resource_length(site_, index, &info.length);
  if (status != VKR_PREVIEW_OK) throw tools::CommandError(static_cast<int>(status), describeStatus(status));
  return info;
}

std::string Site::resolvePath(const std::string& path) const {
  if (path.starts_with('/')) return path;
  // Every page of a site lives below the same "<root>app/" folder as its entry.
  const std::string entry = entryPath();
  const std::size_t app = entry.find("/app/");
  return app == std::string::npos ? path : entry.substr(0, app + 5) + path;
}

std::optional<std::uint64_t> Site::findResource(const std::string& full_path) const {
  const std::uint64_t count = resourceCount();
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::string candidate = readLibraryString([this, i](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
      return vkr_preview_site_resource_path(site_, i, buffer, capacity, length);
    });
    if (candidate == full_path) return i;
  }
  return std::nullopt;
}

ExternalKeyMaterial readExternalKeyMaterial(const std::string& path) {
  ExternalKeyMaterial material{
      path, tools::readLimitedFile(path, carrier::kMaxExternalInput, "1 MiB, the most key material may be")};
  if (material.bytes.empty()) tools::fail(path + " is empty");
  return material;
}

}  // namespace vesmara::vkr

#include "common/partial_file.h"

#include <algorithm>
#include <string_view>
#include <system_error>

namespace vesmara::tools {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDeleted = " (deleted)";
constexpr std::string_view kTemporaryPrefix = ".vkr-";
constexpr std::string_view kTemporaryExtension = ".tmp";
constexpr std::size_t kTemporaryDigits = 32;
constexpr std::size_t kLongestName = 255;
// Where this process's descriptors are listed; absent on systems without /proc.
constexpr const char* kOwnDescriptors = "/proc/self/fd";

bool isDecimal(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isLowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The start of `name` the library keeps in a temporary name when the whole
// would be too long: cut at a character boundary.
std::string_view shortenedStem(std::string_view name) {
  const std::size_t longest = kLongestName - kTemporaryPrefix.size() - kTemporaryDigits - kTemporaryExtension.size();
  if (name.size() <= longest) return name;
  std::size_t cut = longest;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

bool isUnnamedFileIn(const std::string& link, const fs::path& directory) {
  if (!link.ends_with(kDeleted)) return false;
  const std::string_view path = std::string_view(link).substr(0, link.size() - kDeleted.size());
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view file = path.substr(slash + 1);
  if (!file.starts_with('#') || !isDecimal(file.substr(1))) return false;
  const fs::path holder = slash == 0 ? fs::path("/") : fs::path(path.substr(0, slash));
  std::error_code code;
  return holder == directory || fs::equivalent(holder, directory, code);
}

bool isTemporaryNameOf(const std::string& candidate, const std::string& name) {
  const std::size_t suffix = kTemporaryPrefix.size() + kTemporaryDigits + kTemporaryExtension.size();
  if (candidate.size() <= suffix || !candidate.ends_with(kTemporaryExtension)) return false;
  const std::string_view stem = std::string_view(candidate).substr(0, candidate.size() - suffix);
  const std::string_view rest = std::string_view(candidate).substr(stem.size());
  return (stem == name || stem == shortenedStem(name)) && rest.starts_with(kTemporaryPrefix) &&
         isLowerHex(rest.substr(kTemporaryPrefix.size(), kTemporaryDigits));
}

PartialFile::PartialFile(const fs::path& destination)
    : directory_(destination.parent_path()), name_(destination.filename().string()) {}

std::optional<std::uint64_t> PartialFile::size() {
  std::error_code code;
  // A descriptor number is used again once closed: the link must still read
  // what it read when the file was found.
  if (!link_.empty() && fs::read_symlink(found_, code).string() != link_) {
    found_.clear();
    link_.clear();
  }
  if (found_.empty() && !findUnnamed() && !findNamed()) return std::nullopt;
  const std::uintmax_t size = fs::file_size(found_, code);
  if (code) return std::nullopt;
  return size;
}

bool PartialFile::findUnnamed() {
  std::error_code code;
  for (fs::directory_iterator entry(kOwnDescriptors, code), end; !code && entry != end; entry.increment(code)) {
    std::error_code unreadable;
    std::string link = fs::read_symlink(entry->path(), unreadable).string();
    if (!unreadable && isUnnamedFileIn(link, directory_)) {
      found_ = entry->path();
      link_ = std::move(link);
      return true;
    }
  }
  return false;
}

bool PartialFile::findNamed() {
  std::error_code code;
  for (fs::directory_iterator entry(directory_, code), end; !code && entry != end; entry.increment(code)) {
    if (isTemporaryNameOf(entry->path().filename().string(), name_)) {
      found_ = entry->path();
      return true;
    }
  }
  return false;
}

}  // namespace vesmara::tools

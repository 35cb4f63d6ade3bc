#include "publish/origin_tree.h"

#include <fstream>
#include <string>
#include <system_error>

namespace vesmara::publish {
namespace {

// A fresh staging directory beside `directory`; never one that exists already,
// which may belong to someone else.
bool createStagingDirectory(const std::filesystem::path& directory, std::filesystem::path& staging, Failure& failure) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    staging = directory.string() + ".vkr-staging" + (attempt == 0 ? "" : "-" + std::to_string(attempt));
    std::error_code code;
    if (std::filesystem::create_directory(staging, code)) return true;
    if (code) return failure.fail(FailureKind::Output, "Cannot create " + staging.string() + ": " + code.message());
  }
  return failure.fail(FailureKind::Output, "Cannot create a staging directory beside " + directory.string());
}

}  // namespace

bool writeOriginTree(const std::map<std::string, std::vector<std::uint8_t>>& files,
                     const std::filesystem::path& requested, Failure& failure) {
  namespace fs = std::filesystem;
  // "site/" names the directory "site": its staging directory goes beside
  // it, not inside it.
  fs::path directory = requested.lexically_normal();
  while (!directory.has_filename() && directory.has_relative_path()) directory = directory.parent_path();
  std::error_code code;
  const fs::file_status status = fs::symlink_status(directory, code);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      return failure.fail(FailureKind::Output, "Output path exists and is not a directory: " + directory.string());
    }
    if (!fs::is_empty(directory, code) || code) {
      return failure.fail(FailureKind::Output, "Output directory is not empty: " + directory.string());
    }
  }
  if (directory.has_parent_path()) {
    fs::create_directories(directory.parent_path(), code);
    if (code) {
      return failure.fail(FailureKind::Output,
                          "Cannot create " + directory.parent_path().string() + ": " + code.message());
    }
  }
  fs::path staging;
  if (!createStagingDirectory(directory, staging, failure)) return false;
  const auto cleanup = [&](const std::string& message) {
    fs::remove_all(staging, code);
    return failure.fail(FailureKind::Output, message);
  };
  for (const auto& [path, bytes] : files) {
    const fs::path target = staging / path.substr(1);
    fs::create_directories(target.parent_path(), code);
    if (code) return cleanup("Cannot create " + target.parent_path().string() + ": " + code.message());
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return cleanup("Cannot write " + target.string());
  }
  // An empty directory gives way to the finished tree; rename refuses to
  // replace one that has been filled meanwhile.
  fs::rename(staging, directory, code);
  if (code) return cleanup("Cannot move the origin into " + directory.string() + ": " + code.message());
  return true;
}

}  // namespace vesmara::publish

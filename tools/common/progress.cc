#include "common/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "common/files.h"

namespace vesmara::tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(150);
constexpr std::size_t kBarWidth = 24;
constexpr std::size_t kTemporaryDigits = 32;

std::string formatDuration(double seconds) {
  const auto whole = static_cast<std::uint64_t>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned long long>(whole / 60 % 60), static_cast<unsigned long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(whole / 60),
                  static_cast<unsigned long long>(whole % 60));
  }
  return text;
}

// True for "<name>.vkr-<32 lowercase hex digits>.tmp".
bool isTemporaryNameOf(const std::string& candidate, const std::string& name) {
  const std::string prefix = name + ".vkr-";
  if (candidate.size() != prefix.size() + kTemporaryDigits + 4 || !candidate.starts_with(prefix) ||
      !candidate.ends_with(".tmp")) {
    return false;
  }
  return std::all_of(candidate.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                     candidate.end() - 4, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::string formatByteCount(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string formatProgress(std::uint64_t done, std::uint64_t total, std::chrono::duration<double> elapsed) {
  const double seconds = elapsed.count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string line;
  if (total > 0) {
    const std::uint64_t shown = std::min(done, total);
    const auto filled = static_cast<std::size_t>(static_cast<double>(shown) / static_cast<double>(total) * kBarWidth);
    line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3u%%",
                  static_cast<unsigned>(static_cast<double>(shown) * 100 / static_cast<double>(total)));
    line += percent;
    line += "  " + formatByteCount(shown) + " of " + formatByteCount(total);
  } else {
    line = formatByteCount(done);
  }
  if (rate > 0) line += "  " + formatByteCount(static_cast<std::uint64_t>(rate)) + "/s";
  if (total > 0 && done < total && rate > 0) {
    line += "  " + formatDuration(static_cast<double>(total - done) / rate) + " left";
  } else if (total > 0 && done >= total) {
    line += "  in " + formatDuration(seconds);
  }
  return line;
}

DownloadProgress::DownloadProgress(const std::string& destination, std::uint64_t total, bool enabled)
    : total_(total), enabled_(enabled) {
  const std::filesystem::path path(destination);
  directory_ = path.parent_path();
  name_ = path.filename().string();
  if (enabled_) thread_ = std::thread([this] { run(); });
}

DownloadProgress::~DownloadProgress() {
  stop();
  if (drawn_) draw("");
}

void DownloadProgress::finish(std::uint64_t written) {
  stop();
  if (!enabled_) return;
  draw(formatProgress(written, total_ == 0 ? written : total_, std::chrono::steady_clock::now() - start_) + "\n");
  drawn_ = false;
}

void DownloadProgress::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DownloadProgress::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kRedrawInterval, [this] { return stopping_; })) {
    const std::optional<std::uint64_t> size = temporarySize();
    if (size) draw(formatProgress(*size, total_, std::chrono::steady_clock::now() - start_));
  }
}

std::optional<std::uint64_t> DownloadProgress::temporarySize() {
  std::error_code code;
  if (temporary_.empty()) {
    for (std::filesystem::directory_iterator entry(directory_, code), end; !code && entry != end;
         entry.increment(code)) {
      if (isTemporaryNameOf(entry->path().filename().string(), name_)) {
        temporary_ = entry->path();
        break;
      }
    }
    if (temporary_.empty()) return std::nullopt;
  }
  const std::uintmax_t size = std::filesystem::file_size(temporary_, code);
  if (code) return std::nullopt;
  return size;
}

void DownloadProgress::draw(const std::string& line) {
  // Carriage return, the line, then erase whatever a longer earlier line left.
  const std::string text = "\r" + (line.ends_with('\n') ? line.substr(0, line.size() - 1) + "\x1b[K\n" : line + "\x1b[K");
  writeAll(STDERR_FILENO, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  drawn_ = !line.empty();
}

}  // namespace vesmara::tools

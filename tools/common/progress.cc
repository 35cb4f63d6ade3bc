#include "common/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/files.h"

namespace vesmara::tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(150);
constexpr std::size_t kBarWidth = 24;

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
    : partial_(destination), total_(total), enabled_(enabled) {
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
    const std::optional<std::uint64_t> size = partial_.size();
    if (size) draw(formatProgress(*size, total_, std::chrono::steady_clock::now() - start_));
  }
}

void DownloadProgress::draw(const std::string& line) {
  // Carriage return, the line, then erase whatever a longer earlier line left.
  const std::string text = "\r" + (line.ends_with('\n') ? line.substr(0, line.size() - 1) + "\x1b[K\n" : line + "\x1b[K");
  writeAll(STDERR_FILENO, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  drawn_ = !line.empty();
}

}  // namespace vesmara::tools

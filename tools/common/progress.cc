#include "common/progress.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "common/files.h"

namespace vesmara::tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(150);
constexpr std::size_t kShortestBar = 10;
constexpr std::size_t kLongestBar = 40;
constexpr std::size_t kDefaultWidth = 80;

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

std::string formatProgress(std::uint64_t done, std::uint64_t total, std::chrono::duration<double> elapsed,
                           std::size_t width) {
  const double seconds = elapsed.count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const std::uint64_t shown = total > 0 ? std::min(done, total) : done;
  // The figures, most important first: those that do not fit are left out.
  std::vector<std::string> figures;
  if (total > 0) {
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3u%%",
                  static_cast<unsigned>(static_cast<double>(shown) * 100 / static_cast<double>(total)));
    figures.push_back(percent);
    figures.push_back(formatByteCount(shown) + " of " + formatByteCount(total));
  } else {
    figures.push_back(formatByteCount(done));
  }
  if (rate > 0) figures.push_back(formatByteCount(static_cast<std::uint64_t>(rate)) + "/s");
  if (total > 0 && done < total && rate > 0) {
    figures.push_back(formatDuration(static_cast<double>(total - done) / rate) + " left");
  } else if (total > 0 && done >= total) {
    figures.push_back("in " + formatDuration(seconds));
  }
  // The last column stays free: a line that fills it wraps on some
  // terminals, and the next redraw then starts a line further down.
  const std::size_t room = width > 1 ? width - 1 : 0;
  std::string line;
  for (const std::string& figure : figures) {
    const std::string longer = line.empty() ? figure : line + "  " + figure;
    if (longer.size() > room && !line.empty()) break;
    line = longer;
  }
  if (line.size() > room) line.resize(room);
  if (total > 0 && line.size() + 3 + kShortestBar <= room) {
    const std::size_t bar = std::min(kLongestBar, room - line.size() - 3);
    const auto filled = static_cast<std::size_t>(static_cast<double>(shown) / static_cast<double>(total) * bar);
    line = "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "] " + line;
  }
  return line;
}

std::size_t progressWidth(int descriptor) {
  if (const char* columns = std::getenv("COLUMNS")) {
    const std::string_view text(columns);
    std::size_t width = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), width);
    if (error == std::errc() && end == text.data() + text.size() && width > 0) return width;
  }
  const int columns = terminalColumns(descriptor);
  return columns > 0 ? static_cast<std::size_t>(columns) : kDefaultWidth;
}

DownloadProgress::DownloadProgress(const std::string& destination, std::uint64_t total, bool enabled)
    : partial_(destination), total_(total), enabled_(enabled), width_(enabled ? progressWidth(STDERR_FILENO) : 0) {
  if (enabled_) thread_ = std::thread([this] { run(); });
}

DownloadProgress::~DownloadProgress() {
  stop();
  if (drawn_) draw("");
}

void DownloadProgress::finish(std::uint64_t written) {
  stop();
  if (!enabled_) return;
  draw(formatProgress(written, total_ == 0 ? written : total_, std::chrono::steady_clock::now() - start_, width_) +
       "\n");
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
    // A complete file is still being verified; finish() draws the last line.
    if (size && (total_ == 0 || *size < total_)) {
      draw(formatProgress(*size, total_, std::chrono::steady_clock::now() - start_, width_));
    }
  }
}

void DownloadProgress::draw(const std::string& line) {
  // Carriage return, the line, then erase whatever a longer earlier line left.
  const std::string text = "\r" + (line.ends_with('\n') ? line.substr(0, line.size() - 1) + "\x1b[K\n" : line + "\x1b[K");
  writeAll(STDERR_FILENO, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  drawn_ = !line.empty();
}

}  // namespace vesmara::tools

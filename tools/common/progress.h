// A progress bar for a download, drawn on standard error. The library has no
// progress callback; a second thread watches the file it writes grow (see
// partial_file.h for where that file is).
#ifndef VESMARA_TOOLS_COMMON_PROGRESS_H_
#define VESMARA_TOOLS_COMMON_PROGRESS_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/partial_file.h"

namespace vesmara::tools {

// One line shorter than `width` columns: a bar with the percentage when
// `total` is known (non-zero), the bytes so far, the rate and the time left,
// leaving out what does not fit (the bar first, then the time, the rate).
std::string formatProgress(std::uint64_t done, std::uint64_t total, std::chrono::duration<double> elapsed,
                           std::size_t width);

// The columns a line on the terminal at `descriptor` may use: $COLUMNS when
// set, else the terminal's width, else 80.
std::size_t progressWidth(int descriptor);

// "1.5 MiB", "812 B".
std::string formatByteCount(std::uint64_t bytes);

class DownloadProgress {
 public:
  // Draws nothing unless `enabled` (standard error is a terminal).
  DownloadProgress(const std::string& destination, std::uint64_t total, bool enabled);
  // Stops drawing and erases the bar.
  ~DownloadProgress();
  DownloadProgress(const DownloadProgress&) = delete;
  DownloadProgress& operator=(const DownloadProgress&) = delete;

  // Stops drawing and leaves a final line for a finished download.
  void finish(std::uint64_t written);

 private:
  void run();
  void stop();
  void draw(const std::string& line);

  PartialFile partial_;
  std::uint64_t total_;
  bool enabled_;
  std::size_t width_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool drawn_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_PROGRESS_H_

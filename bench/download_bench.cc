// Verified downloads against what a user would otherwise do, and against the
// machine's compute limit for the work.
//
//   download_bench [GiB-fraction]   (default 1: a 1 GiB resource)
//   download_bench link             (scenario 4 alone)
//
// Scenario 1: one resource of 256 parts of 4 MiB (with the site keystream),
// spread over 64 carrier files, served by nginx on loopback:
//   - vkr_preview_site_download to a file on a tmpfs and to one on the disk
//     (throughput, peak resident memory), and the disk's own rate for the
//     same size written by dd with conv=fsync
//   - curl -s of the carriers piped into sha256sum (no verification of parts)
//   - curl -s -o /dev/null (no verification at all)
//   - L = 1 / (2 / S + 1 / C): S and C the single-core SHA-256 and AES-256-CTR
//     throughputs on 4 MiB buffers, measured here. A verified encoded read
//     hashes every byte twice (stored and plain) and runs the keystream once.
// Scenario 2: 4,096 parts of 1 KiB in one carrier: requests and time.
// Scenario 3: opening a site whose index lists 4,096 resources.
// Scenario 4: through the link emulator (40 ms round trip at 1 Gbit/s with
// 256 MiB, 80 ms at 100 Mbit/s with 64 MiB; parts of 4 MiB): the verified
// download's time (the download call, and the site's opening before it) as
// a fraction of the link's capacity (bytes / bandwidth), to a tmpfs, against
// curl fetching the same carrier files one after another on one
// connection through the same link, and against the same download with
// pipelining switched off (each request sent only after the one before it
// ended).
// Each measurement is repeated; medians are printed. MEMORY_DIR and
// DISK_DIR name other folders for the tmpfs and the disk.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "hosts/platform.h"
#include "hosts/posix/curl_http_host.h"
#include "index/paths.h"
#include "link_emulator.h"
#include "publish/origin_tree.h"
#include "publish/site_builder.h"
#include "retrieval/site.h"
#include "support/nginx_server.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
constexpr int kRepetitions = 3;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long statusKiB(const char* field) {
  FILE* file = std::fopen("/proc/self/status", "r");
  char line[256];
  long value = -1;
  while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field) + 1);
  }
  if (file != nullptr) std::fclose(file);
  return value;
}

Bytes pseudoRandom(std::size_t size, std::uint64_t seed) {
  Bytes bytes(size);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(bytes.data() + i, &state, std::min<std::size_t>(8, size - i));
  }
  return bytes;
}

// Throughput in MiB/s of `work` over 4 MiB buffers on one core.
template <typename Work>
double throughput(Work&& work) {
  const std::size_t size = 4 << 20;
  const auto start = Clock::now();
  int rounds = 0;
  while (seconds(start) < 1.0) {
    work(size);
    ++rounds;
  }
  return rounds * 4.0 / seconds(start);
}

struct DownloadRun {
  double seconds = 0;       // open and download
  double open_seconds = 0;  // the site's opening alone
  double peak_mib = 0;
  bool ok = false;
};

// The default platform, with a transport that ignores pipelining hints.
class SequentialPlatform final : public vesmara::Platform {
 public:
  std::unique_ptr<vesmara::HttpHost> makeHttpHost(std::string_view origin, std::string& message) override {
    vesmara::CurlHttpOptions options;
    options.pipelining = false;
    auto host = std::make_unique<vesmara::CurlHttpHost>(origin, message, options);
    if (!host->originValid()) return nullptr;
    return host;
  }
  std::unique_ptr<vesmara::CryptoHost> makeCryptoHost() override { return base().makeCryptoHost(); }
  std::unique_ptr<vesmara::PngDecoder> makePngDecoder() override { return base().makePngDecoder(); }
  std::unique_ptr<vesmara::FileOutput> makeFileOutput(std::string_view destination, std::string& message) override {
    return base().makeFileOutput(destination, message);
  }

 private:
  static vesmara::Platform& base() { return vesmara::defaultPlatform(); }
};

// The download through a site of SequentialPlatform.
bool downloadSequentially(const std::string& origin, const std::string& path, const std::string& destination,
                          DownloadRun& run) {
  const auto start = Clock::now();
  SequentialPlatform platform;
  std::string message;
  vesmara::Site site(platform, platform.makeHttpHost(origin, message));
  vesmara::Failure failure;
  vesmara::DownloadFailure download_failure;
  std::uint64_t written = 0;
  const bool loaded = site.load(std::nullopt, failure);
  run.open_seconds = seconds(start);
  const bool ok = loaded && site.download(path, nullptr, destination, written, download_failure);
  if (!ok)
    std::fprintf(stderr, "download failed: %s%s\n", failure.message.c_str(), download_failure.failure.message.c_str());
  return ok;
}

// One download in this process; used by the child that downloadInChild starts.
DownloadRun downloadHere(const std::string& origin, const std::string& path, const std::string& destination,
                         bool pipelining) {
  if (std::getenv("VKR_BENCH_PROFILE") != nullptr) {
    // Time to attach a profiler to this process alone: perf record -p PID.
    std::fprintf(stderr, "download process %d\n", static_cast<int>(getpid()));
    sleep(2);
  }
  DownloadRun run;
  char message[256];
  vkr_preview_site* site = nullptr;
  const auto start = Clock::now();
  if (!pipelining) {
    run.ok = downloadSequentially(origin, path, destination, run);
  } else if (vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message, sizeof message) ==
             VKR_PREVIEW_OK) {
    run.open_seconds = seconds(start);
    std::uint64_t written = 0;
    run.ok = vkr_preview_site_download(site, path.data(), path.size(), nullptr, 0, destination.data(),
                                       destination.size(), &written, message, sizeof message) == VKR_PREVIEW_OK;
    vkr_preview_site_release(site);
  }
  if (!run.ok && pipelining) std::fprintf(stderr, "download failed: %s\n", message);
  run.seconds = seconds(start);
  run.peak_mib = statusKiB("VmHWM:") / 1024.0;
  return run;
}

constexpr const char* kChildFlag = "--download-child";

// Runs one download in a freshly executed copy of this program, so that its
// peak memory is its own: a forked child would count the parent's pages
// (the published site it built) as resident too.
DownloadRun downloadInChild(const std::string& origin, const std::string& path, const fs::path& target,
                            bool pipelining = true) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  const std::string destination = target.string();
  const std::string fd_text = std::to_string(pipe_fds[1]);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    execl("/proc/self/exe", "download_bench", kChildFlag, origin.c_str(), path.c_str(), destination.c_str(),
          fd_text.c_str(), pipelining ? "pipelined" : "sequential", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  close(pipe_fds[1]);
  DownloadRun run;
  if (read(pipe_fds[0], &run, sizeof run) != sizeof run) run.ok = false;
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return run;
}

// The child's side: download, then report through the inherited pipe.
int runDownloadChild(char** argv) {
  const DownloadRun run = downloadHere(argv[2], argv[3], argv[4], std::strcmp(argv[6], "pipelined") == 0);
  const int fd = std::atoi(argv[5]);
  return write(fd, &run, sizeof run) == sizeof run ? 0 : 1;
}

double timeCommand(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", command.c_str());
  return seconds(start);
}

// The verified download to `directory`: median seconds and peak memory of
// kRepetitions runs.
std::pair<double, double> timeDownloads(const std::string& origin, const std::string& path, const fs::path& directory) {
  std::vector<double> times;
  std::vector<double> peaks;
  for (int i = 0; i < kRepetitions; ++i) {
    const fs::path target = directory / "download.bin";
    const DownloadRun run = downloadInChild(origin, path, target);
    if (!run.ok) std::exit(1);
    times.push_back(run.seconds);
    peaks.push_back(run.peak_mib);
    fs::remove(target);
  }
  return {median(times), median(peaks)};
}

void largeResource(vesmara::CryptoHost& crypto, const fs::path& work, const fs::path& memory_directory,
                   const fs::path& disk_directory, double fraction) {
  const std::size_t parts = std::max<std::size_t>(1, static_cast<std::size_t>(256 * fraction));
  const std::size_t size = parts * (4 << 20);
  std::printf("== scenario 1: %zu MiB in %zu parts of 4 MiB over 64 carriers, site keystream on, nginx\n", size >> 20,
              parts);
  vesmara::publish::SiteOptions options;
  options.part_size = 4 << 20;
  options.carrier_count = 64;
  options.seed = 1;
  std::vector<vesmara::publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
      {.name = "large.bin", .mime = "application/octet-stream", .bytes = pseudoRandom(size, 7)}};
  vesmara::publish::BuiltSite site;
  vesmara::Failure failure;
  if (!vesmara::publish::buildSite(crypto, sources, options, site, failure) ||
      !vesmara::publish::writeOriginTree(site.files, work / "origin", failure)) {
    std::fprintf(stderr, "publish failed: %s\n", failure.message.c_str());
    std::exit(1);
  }
  sources.clear();
  site.files.clear();
  vesmara::test::NginxServer server(work / "origin");
  if (!server.started()) {
    std::fprintf(stderr, "%s\n", server.error().c_str());
    std::exit(1);
  }
  const std::string origin = server.origin();
  const std::string path = vesmara::siteRootPath("app/large.bin");
  std::string carriers;
  for (const auto& entry : fs::directory_iterator(work / "origin" / "assets")) {
    carriers += " " + origin + "/assets/" + entry.path().filename().string();
  }

  const auto [memory_seconds, memory_peak] = timeDownloads(origin, path, memory_directory);
  const auto [disk_seconds, disk_peak] = timeDownloads(origin, path, disk_directory);
  std::vector<double> dd_times;
  for (int i = 0; i < kRepetitions; ++i) {
    const fs::path target = disk_directory / "dd.bin";
    dd_times.push_back(timeCommand("dd if=/dev/zero of=" + target.string() + " bs=4M count=" + std::to_string(parts) +
                                   " conv=fsync status=none"));
    fs::remove(target);
  }
  std::vector<double> pipeline_times;
  std::vector<double> plain_times;
  for (int i = 0; i < kRepetitions; ++i) {
    pipeline_times.push_back(timeCommand("curl -s" + carriers + " | sha256sum > /dev/null"));
    plain_times.push_back(timeCommand("curl -s" + carriers + " > /dev/null"));
  }

  auto key = vesmara::SecretKey();
  const std::array<std::uint8_t, 16> counter{};
  const Bytes buffer = pseudoRandom(4 << 20, 3);
  vesmara::SecureBytes out;
  const double sha = throughput([&](std::size_t) {
    vesmara::Sha256Digest digest{};
    vesmara::computeSha256(crypto, buffer, digest);
  });
  const double ctr = throughput([&](std::size_t) { crypto.aesCtrTransform(key.bytes(), counter, buffer, out); });
  const double limit = 1.0 / (2.0 / sha + 1.0 / ctr);

  const double mib = static_cast<double>(size) / 1048576.0;
  const double download = mib / memory_seconds;
  const double to_disk = mib / disk_seconds;
  const double dd = mib / median(dd_times);
  std::printf("  S (SHA-256, one core)         %8.0f MiB/s\n", sha);
  std::printf("  C (AES-256-CTR, one core)     %8.0f MiB/s\n", ctr);
  std::printf("  L = 1/(2/S + 1/C)             %8.0f MiB/s\n", limit);
  std::printf("  verified download to tmpfs    %8.0f MiB/s   = %.2f x L, peak RSS %.1f MiB (median of %d; %s)\n",
              download, download / limit, memory_peak, kRepetitions, memory_directory.c_str());
  std::printf("  verified download to disk     %8.0f MiB/s   = %.2f x L, = %.2f x dd, peak RSS %.1f MiB (%s)\n",
              to_disk, to_disk / limit, to_disk / dd, disk_peak, disk_directory.c_str());
  std::printf("  dd bs=4M conv=fsync to disk   %8.0f MiB/s\n", dd);
  std::printf("  curl | sha256sum              %8.0f MiB/s   (download to tmpfs is %.2f x this)\n",
              mib / median(pipeline_times), download / (mib / median(pipeline_times)));
  std::printf("  curl > /dev/null (no checks)  %8.0f MiB/s   (download to tmpfs is %.2f x this)\n",
              mib / median(plain_times), download / (mib / median(plain_times)));
  fs::remove_all(work / "origin");
}

struct LinkCase {
  const char* name;
  std::chrono::microseconds one_way_delay;
  double bits_per_second;
  std::size_t parts;  // of 4 MiB
};

void throughLink(vesmara::CryptoHost& crypto, const fs::path& work, const fs::path& target_directory,
                 const LinkCase& link_case) {
  const std::size_t size = link_case.parts * (4 << 20);
  const double bytes_per_second = link_case.bits_per_second / 8;
  std::printf("== scenario 4: %s, %zu MiB in %zu parts of 4 MiB over 16 carriers, nginx behind the link emulator\n",
              link_case.name, size >> 20, link_case.parts);
  vesmara::publish::SiteOptions options;
  options.part_size = 4 << 20;
  options.carrier_count = 16;
  options.seed = 4;
  std::vector<vesmara::publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
      {.name = "large.bin", .mime = "application/octet-stream", .bytes = pseudoRandom(size, 9)}};
  vesmara::publish::BuiltSite site;
  vesmara::Failure failure;
  const fs::path root = work / "link-origin";
  if (!vesmara::publish::buildSite(crypto, sources, options, site, failure) ||
      !vesmara::publish::writeOriginTree(site.files, root, failure)) {
    std::fprintf(stderr, "publish failed: %s\n", failure.message.c_str());
    std::exit(1);
  }
  sources.clear();
  site.files.clear();
  vesmara::test::NginxServer server(root);
  const vesmara::bench::LinkEmulator link(
      static_cast<std::uint16_t>(server.port()),
      {.one_way_delay = link_case.one_way_delay, .bytes_per_second = bytes_per_second});
  if (!server.started() || !link.started()) {
    std::fprintf(stderr, "%s%s\n", server.error().c_str(), link.error().c_str());
    std::exit(1);
  }
  const std::string origin = "http://127.0.0.1:" + std::to_string(link.port());
  std::string carriers;
  std::uint64_t carrier_bytes = 0;
  for (const auto& entry : fs::directory_iterator(root / "assets")) {
    carriers += " " + origin + "/assets/" + entry.path().filename().string();
    carrier_bytes += entry.file_size();
  }
  std::vector<double> download_times;  // the download call alone
  std::vector<double> total_times;     // opening the site, then the download
  std::vector<double> sequential_times;
  std::vector<double> curl_times;
  for (int i = 0; i < kRepetitions; ++i) {
    const fs::path target = target_directory / "download.bin";
    for (const bool pipelining : {true, false}) {
      const DownloadRun run = downloadInChild(origin, vesmara::siteRootPath("app/large.bin"), target, pipelining);
      if (!run.ok) std::exit(1);
      if (pipelining) {
        download_times.push_back(run.seconds - run.open_seconds);
        total_times.push_back(run.seconds);
      } else {
        sequential_times.push_back(run.seconds - run.open_seconds);
      }
      fs::remove(target);
    }
    curl_times.push_back(timeCommand("curl -s" + carriers + " > /dev/null"));
  }
  const double download_capacity = static_cast<double>(size) / bytes_per_second;
  const double curl_capacity = static_cast<double>(carrier_bytes) / bytes_per_second;
  std::printf("  verified download             %8.2f s   = %.2f x link capacity (%.2f s for %zu MiB)\n",
              median(download_times), download_capacity / median(download_times), download_capacity, size >> 20);
  std::printf("  site open, then the download  %8.2f s   = %.2f x link capacity (the open is 3 round trips)\n",
              median(total_times), download_capacity / median(total_times));
  std::printf("  download, pipelining off      %8.2f s   = %.2f x link capacity (pipelining gains %.2f x)\n",
              median(sequential_times), download_capacity / median(sequential_times),
              median(sequential_times) / median(download_times));
  std::printf("  curl, carriers in turn        %8.2f s   = %.2f x link capacity (%.2f s for %.0f MiB)\n",
              median(curl_times), curl_capacity / median(curl_times), curl_capacity,
              static_cast<double>(carrier_bytes) / 1048576.0);
  fs::remove_all(root);
}

void manySmallParts(vesmara::CryptoHost& crypto) {
  std::printf("== scenario 2: 4,096 parts of 1 KiB in one carrier, loopback test origin\n");
  vesmara::publish::SiteOptions options;
  options.part_size = 1024;
  options.carrier_count = 1;
  options.seed = 2;
  const std::vector<vesmara::publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
      {.name = "small.bin", .mime = "application/octet-stream", .bytes = pseudoRandom(4096 * 1024, 5)}};
  vesmara::publish::BuiltSite site;
  vesmara::Failure failure;
  if (!vesmara::publish::buildSite(crypto, sources, options, site, failure)) std::exit(1);
  vesmara::test::TestOrigin origin;
  for (const auto& [path, bytes] : site.files) origin.addFile(path, bytes);
  const std::string origin_text = origin.origin();
  char message[256];
  vkr_preview_site* handle = nullptr;
  vkr_preview_site_open_hosted(origin_text.data(), origin_text.size(), &handle, message, sizeof message);
  const std::string path = vesmara::siteRootPath("app/small.bin");
  Bytes out(4096 * 1024);
  std::vector<double> times;
  std::size_t requests = 0;
  for (int i = 0; i < kRepetitions; ++i) {
    origin.clearLog();
    std::uint64_t length = 0;
    const auto start = Clock::now();
    if (vkr_preview_site_read_memory(handle, path.data(), path.size(), nullptr, 0, out.data(), out.size(), &length,
                                     message, sizeof message) != VKR_PREVIEW_OK) {
      std::fprintf(stderr, "read failed: %s\n", message);
      std::exit(1);
    }
    times.push_back(seconds(start));
    requests = origin.requestCount();
  }
  vkr_preview_site_release(handle);
  std::printf("  requests %zu (baseline without coalescing: 4096), time %.1f ms (median of %d)\n", requests,
              median(times) * 1e3, kRepetitions);
}

void largeIndex(vesmara::CryptoHost& crypto) {
  std::printf("== scenario 3: opening a site whose index lists 4,096 resources, loopback test origin\n");
  std::vector<vesmara::publish::SourceFile> sources;
  sources.push_back({.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}});
  for (int i = 0; i < 4095; ++i) {
    sources.push_back({.name = "r/" + std::to_string(100000 + i) + ".bin",
                       .mime = "application/octet-stream",
                       .bytes = pseudoRandom(64, static_cast<std::uint64_t>(i))});
  }
  vesmara::publish::SiteOptions options;
  options.seed = 3;
  vesmara::publish::BuiltSite site;
  vesmara::Failure failure;
  if (!vesmara::publish::buildSite(crypto, sources, options, site, failure)) std::exit(1);
  vesmara::test::TestOrigin origin;
  for (const auto& [path, bytes] : site.files) origin.addFile(path, bytes);
  const std::string origin_text = origin.origin();
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    char message[256];
    vkr_preview_site* handle = nullptr;
    const auto start = Clock::now();
    if (vkr_preview_site_open_hosted(origin_text.data(), origin_text.size(), &handle, message, sizeof message) !=
        VKR_PREVIEW_OK) {
      std::fprintf(stderr, "open failed: %s\n", message);
      std::exit(1);
    }
    times.push_back(seconds(start));
    vkr_preview_site_release(handle);
  }
  std::printf("  favicon %zu KiB, open (2 requests, verify, parse) %.1f ms (median of 5)\n",
              site.files.at("/favicon.ico").size() / 1024, median(times) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], kChildFlag) == 0) return runDownloadChild(argv);
  const bool link_only = argc > 1 && std::strcmp(argv[1], "link") == 0;
  const double fraction = argc > 1 && !link_only ? std::atof(argv[1]) : 1.0;
  auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  char pattern[] = "/tmp/vkr-bench-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  if (!link_only) {
    largeIndex(*crypto);
    manySmallParts(*crypto);
  }
  // Downloads go to a tmpfs (MEMORY_DIR, else /dev/shm) and to the disk
  // (DISK_DIR, else the work folder); through the link only to the tmpfs,
  // which leaves the disk out of the link's numbers.
  const char* memory_dir = std::getenv("MEMORY_DIR");
  const char* disk_dir = std::getenv("DISK_DIR");
  const fs::path memory_directory = memory_dir != nullptr ? fs::path(memory_dir) : fs::path("/dev/shm");
  const fs::path disk_directory = disk_dir != nullptr ? fs::path(disk_dir) : work;
  if (!link_only) largeResource(*crypto, work, memory_directory, disk_directory, fraction);
  using std::chrono::milliseconds;
  throughLink(*crypto, work, memory_directory, {"40 ms round trip, 1 Gbit/s", milliseconds(20), 1e9, 64});
  throughLink(*crypto, work, memory_directory, {"80 ms round trip, 100 Mbit/s", milliseconds(40), 1e8, 16});
  fs::remove_all(work);
  return 0;
}

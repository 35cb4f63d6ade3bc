// Publishing throughput of `vkr-pack build` against the machine's compute
// limit for the work, and the memory it takes.
//
//   build_bench [MiB]   (default 1024: one file of 1 GiB)
//
// The site is an entry page and one file of pseudo-random bytes, published
// with the default options (parts of 1 MiB over 4 carrier files, with the
// site keystream), then again with the file sealed for members. The build
// hashes every byte twice (the plain file and each stored part) and runs
// the keystream once, so its limit on one core is L = 1 / (2 / S + 1 / C):
// S and C the SHA-256 and AES-256-CTR throughputs of OpenSSL on 4 MiB
// buffers, measured here. Sealing adds AES-256-GCM, which L leaves out.
// Each build runs in its own process, timed from start to exit; medians of
// three are printed, with the process's peak resident memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kRepetitions = 3;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Throughput in MiB/s of `work` on one 4 MiB buffer, over about a second.
template <typename Work>
double throughput(Work&& work) {
  const auto start = Clock::now();
  int rounds = 0;
  while (seconds(start) < 1.0) {
    work();
    ++rounds;
  }
  return rounds * 4.0 / seconds(start);
}

void writePseudoRandom(const fs::path& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint64_t> block(1 << 17);
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  for (std::uint64_t done = 0; done < size;) {
    for (std::uint64_t& word : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    const std::uint64_t take = std::min<std::uint64_t>(size - done, block.size() * 8);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(take));
    done += take;
  }
}

struct BuildRun {
  double seconds = 0;
  double peak_mib = 0;
};

BuildRun build(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);  // or the child would print what is buffered again
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  BuildRun run{.seconds = seconds(start), .peak_mib = usage.ru_maxrss / 1024.0};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "build_bench: %s failed\n", arguments[0].c_str());
    std::exit(1);
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const char* base = std::getenv("TMPDIR");
  const fs::path work = fs::path(base != nullptr && base[0] == '/' ? base : "/tmp") /
                        ("vkr-build-bench-" + std::to_string(getpid()));
  fs::create_directories(work / "site");
  std::ofstream(work / "site/index.html") << "<!DOCTYPE html><title>bench</title>";
  writePseudoRandom(work / "site/large.bin", mib << 20);
  std::ofstream(work / "member.key") << std::string(64, 'a') << "\n";

  const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  std::vector<std::uint8_t> buffer(4 << 20, 0x5A);
  const vesmara::SecretKey key;
  const std::array<std::uint8_t, 16> counter{};
  vesmara::SecureBytes out;
  const double sha = throughput([&] {
    vesmara::Sha256Digest digest{};
    vesmara::computeSha256(*crypto, buffer, digest);
  });
  const double ctr = throughput([&] { crypto->aesCtrTransform(key.bytes(), counter, buffer, out); });
  const double limit = 1.0 / (2.0 / sha + 1.0 / ctr);

  std::printf("build_bench: one file of %llu MiB, %s\n", static_cast<unsigned long long>(mib), VKR_PACK_TOOL);
  std::printf("  S (SHA-256, one core)         %8.0f MiB/s\n", sha);
  std::printf("  C (AES-256-CTR, one core)     %8.0f MiB/s\n", ctr);
  std::printf("  L = 1/(2/S + 1/C)             %8.0f MiB/s\n", limit);
  const std::string site = (work / "site").string();
  const std::string origin = (work / "origin").string();
  const struct {
    const char* name;
    std::vector<std::string> options;
  } variants[] = {
      {"build", {}},
      {"build, file for members", {"--members", "large.bin", "--member-key", (work / "member.key").string()}},
  };
  for (const auto& variant : variants) {
    std::vector<double> times;
    std::vector<double> peaks;
    for (int i = 0; i < kRepetitions; ++i) {
      std::vector<std::string> arguments = {VKR_PACK_TOOL, "build", site, origin};
      arguments.insert(arguments.end(), variant.options.begin(), variant.options.end());
      const BuildRun run = build(arguments);
      times.push_back(run.seconds);
      peaks.push_back(run.peak_mib);
      fs::remove_all(origin);
    }
    const double rate = static_cast<double>(mib) / median(times);
    std::printf("  %-28s  %8.0f MiB/s   = %.2f x L, peak RSS %.1f MiB (median of %d)\n", variant.name, rate,
                rate / limit, median(peaks), kRepetitions);
  }
  fs::remove_all(work);
  return 0;
}

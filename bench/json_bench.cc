// Parses hostile documents of the largest size the index accepts (16 MiB)
// and prints the time and the peak resident memory of each parse.
//
// Baseline: the input itself. The reader's memory is reported as a multiple
// of the document size; each scenario runs in a child process of its own so
// that the peak belongs to that scenario alone.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "json/json.h"

namespace {

constexpr std::size_t kSize = vesmara::kIndexJsonLimit;

std::string flatZeros() {
  std::string s = "[";
  while (s.size() + 4 <= kSize) s += "0,";
  s += "0]";
  return s;
}

std::string flatObject() {
  std::string s = "{";
  for (unsigned i = 0;; ++i) {
    std::string member = "\"" + std::to_string(i) + "\":0,";
    if (s.size() + member.size() + 8 > kSize) break;
    s += member;
  }
  s += "\"z\":0}";
  return s;
}

std::string nestedObjects() {
  // Objects nested to the depth limit, repeated side by side until the size is reached.
  std::string unit;
  for (int d = 0; d < 31; ++d) unit += "{\"k\":";
  unit += "0";
  for (int d = 0; d < 31; ++d) unit += "}";
  std::string s = "[";
  while (s.size() + 2 * unit.size() + 3 <= kSize) s += unit + ",";
  s += unit + "]";
  return s;
}

std::string longStrings() {
  std::string s = "[";
  const std::string unit = "\"" + std::string(1000, 'x') + "\\u00e9\",";
  while (s.size() + unit.size() + 4 <= kSize) s += unit;
  s += "\"\"]";
  return s;
}

// Reads a "Vm...:  N kB" line of /proc/self/status.
long statusKiB(const char* field) {
  FILE* file = std::fopen("/proc/self/status", "r");
  if (file == nullptr) return -1;
  char line[256];
  long value = -1;
  const std::size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, field, length) == 0) value = std::atol(line + length + 1);
  }
  std::fclose(file);
  return value;
}

// Makes the kernel's peak-RSS mark start again from the current RSS, so the
// peak measured afterwards belongs to the parse alone.
void resetPeak() {
  FILE* file = std::fopen("/proc/self/clear_refs", "w");
  if (file != nullptr) {
    std::fputs("5", file);
    std::fclose(file);
  }
}

void runScenario(const char* name, const std::function<std::string()>& make) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::string input = make();
    input.shrink_to_fit();
    resetPeak();
    const long before = statusKiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    vesmara::JsonValue value;
    vesmara::Failure failure;
    const bool ok = vesmara::parseJsonDocument(input, kSize, value, failure);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = statusKiB("VmHWM:");
    std::printf(
        "%-16s %9zu bytes  %-4s %7.1f ms  %7.1f MiB/s  peak RSS %6.1f MiB (before the parse %5.1f MiB; the parse added "
        "%6.1f MiB = %.1fx the input)\n",
        name, input.size(), ok ? "ok" : failure.message.c_str(), seconds * 1e3, input.size() / seconds / 1048576.0,
        after / 1024.0, before / 1024.0, (after - before) / 1024.0,
        (after - before) * 1024.0 / static_cast<double>(input.size()));
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace

int main() {
  std::printf("strict JSON reader, documents of %zu bytes\n", kSize);
  runScenario("flat zeros", flatZeros);
  runScenario("flat object", flatObject);
  runScenario("nested objects", nestedObjects);
  runScenario("long strings", longStrings);
  return 0;
}

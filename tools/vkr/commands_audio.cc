// vkr audio: the sealed message a standalone WAV recording carries.
#include <string.h>

#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/key_file.h"
#include "media/audio_format.h"
#include "vkr/commands.h"
#include "vkr/library.h"

namespace vesmara::vkr {
namespace {

// The largest recording the library decodes; one byte more lets it say so.
constexpr std::uint64_t kRecordingLimit = audio::kMaxTransportRecordingLength;
// The largest message a recording can carry.
constexpr std::size_t kMessageLimit = audio::kTransportPlaintextLimit;

constexpr std::string_view kHelp =
    "usage: vkr audio FILE.wav --key FILE [-o OUT]\n\n"
    "Finds the frames of a standalone recording, reassembles the sealed message\n"
    "they carry and opens it with the key in FILE; the message goes to standard\n"
    "output, or to the new file OUT.\n\n"
    "  --key FILE          the 32-byte key the message was sealed with\n"
    "  -o, --output OUT    write the message to OUT (never replaced if it exists)\n";

}  // namespace

int runAudio(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {
      {.name = "key", .takes_value = true},
      {.name = "output", .short_name = 'o', .takes_value = true},
  };
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(1, 1);
  const auto key_path = arguments->value("key");
  if (!key_path) throw tools::UsageError("--key is required");
  const tools::Key key = tools::readKeyFile(*key_path);
  const std::vector<std::uint8_t> recording = tools::readFile(arguments->positionals()[0], kRecordingLimit);
  if (recording.empty()) tools::fail(arguments->positionals()[0] + " is empty");

  std::vector<std::uint8_t> plain(kMessageLimit);
  std::uint64_t length = 0;
  char message[kMessageCapacity];
  const vkr_preview_status status =
      vkr_preview_audio_decode_file(recording.data(), recording.size(), key.bytes().data(), key.bytes().size(),
                                    plain.data(), plain.size(), &length, message, sizeof message);
  checkStatus(status, message, interrupts, arguments->positionals()[0]);
  plain.resize(static_cast<std::size_t>(length));
  struct Wipe {
    std::vector<std::uint8_t>& bytes;
    ~Wipe() { explicit_bzero(bytes.data(), bytes.size()); }
  } wipe{plain};
  if (const auto output = arguments->value("output")) {
    tools::writeNewFile(*output, plain, /*secret=*/true);
  } else {
    tools::writeStandardOutput(plain);
  }
  return 0;
}

}  // namespace vesmara::vkr

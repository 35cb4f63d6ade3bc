// vkr-pack audio: a message sealed under a key, recorded as 4-FSK tones in
// a WAV file that `vkr audio` (or any host) decodes.
#include <cstdio>

#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/key_file.h"
#include "hosts/platform.h"
#include "pack/commands.h"
#include "publish/media/audio_writer.h"

namespace vesmara::pack {
namespace {

// The most a recording can carry.
constexpr std::uint64_t kMessageLimit = 4068;

constexpr std::string_view kHelp =
    "usage: vkr-pack audio (--message TEXT | --input FILE) (--key FILE | --new-key FILE)\n"
    "                      -o OUT.wav [OPTIONS]\n\n"
    "Seals a message of 1 to 4068 bytes with a 32-byte key and records it as a\n"
    "standalone WAV file of 4-FSK tones; `vkr audio OUT.wav --key FILE` reads it.\n\n"
    "  --message TEXT      the message\n"
    "  --input FILE        the message, read from FILE\n"
    "  --key FILE          the key, read from FILE\n"
    "  --new-key FILE      generate the key into FILE instead\n"
    "  -o, --output FILE   the recording to write (never replaced if it exists)\n"
    "  --rate HZ           the sample rate: 16000 (default), 44100 or 48000\n"
    "  --bits 8|16         bits per sample (default 16)\n"
    "  --copies N          how many times the message is sent, 1 to 3 (default 1)\n";

std::vector<std::uint8_t> messageOf(const tools::ParsedArguments& arguments) {
  const auto text = arguments.value("message");
  const auto input = arguments.value("input");
  if (text.has_value() == input.has_value()) throw tools::UsageError("give either --message or --input");
  const std::string source = text ? "the message" : *input;
  std::vector<std::uint8_t> message =
      text ? std::vector<std::uint8_t>(text->begin(), text->end()) : tools::readFile(*input, kMessageLimit);
  if (message.empty()) tools::fail(source + " is empty; a recording carries 1 to 4068 bytes");
  if (message.size() > kMessageLimit) tools::fail(source + " is over 4068 bytes; a recording carries 1 to 4068 bytes");
  return message;
}

}  // namespace

int runAudio(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {
      {.name = "message", .takes_value = true}, {.name = "input", .takes_value = true},
      {.name = "key", .takes_value = true},     {.name = "new-key", .takes_value = true},
      {.name = "output", .short_name = 'o', .takes_value = true},
      {.name = "rate", .takes_value = true},    {.name = "bits", .takes_value = true},
      {.name = "copies", .takes_value = true},
  };
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(0, 0);
  const auto output = arguments->value("output");
  if (!output) throw tools::UsageError("-o is required");
  const auto key_path = arguments->value("key");
  const auto new_key_path = arguments->value("new-key");
  if (key_path.has_value() == new_key_path.has_value()) throw tools::UsageError("give either --key or --new-key");
  publish::TransportLayout layout;
  if (const auto rate = arguments->value("rate")) {
    layout.format.rate = static_cast<std::uint32_t>(tools::parseNumberOption("rate", *rate, 16000, 48000));
    if (layout.format.rate != 16000 && layout.format.rate != 44100 && layout.format.rate != 48000) {
      throw tools::UsageError("--rate must be 16000, 44100 or 48000");
    }
  }
  if (const auto bits = arguments->value("bits")) {
    layout.format.bits = static_cast<std::uint16_t>(tools::parseNumberOption("bits", *bits, 8, 16));
    if (layout.format.bits != 8 && layout.format.bits != 16) throw tools::UsageError("--bits must be 8 or 16");
  }
  if (const auto copies = arguments->value("copies")) {
    layout.copies = static_cast<std::uint32_t>(tools::parseNumberOption("copies", *copies, 1, 3));
  }
  const std::vector<std::uint8_t> message = messageOf(*arguments);
  if (new_key_path) tools::refuseExisting(*new_key_path);
  tools::refuseExisting(*output);

  const std::unique_ptr<CryptoHost> crypto = defaultPlatform().makeCryptoHost();
  tools::Key key;
  if (key_path) {
    key = tools::readKeyFile(*key_path);
  } else if (!crypto->randomBytes(key.mutableBytes())) {
    tools::fail("the random generator failed");
  }
  std::vector<std::uint8_t> wav;
  Failure failure;
  if (!publish::writeTransportRecording(*crypto, key.bytes(), message, layout, wav, failure))
    tools::fail(failure.message);
  interrupts.throwIfInterrupted();
  if (new_key_path) {
    const std::string text = tools::formatKeyFile(key);
    tools::writeNewFile(*new_key_path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                        /*secret=*/true);
  }
  try {
    tools::writeNewFile(*output, wav, /*secret=*/false);
  } catch (...) {
    // A key made for this recording alone is no use without it.
    if (new_key_path) std::remove(new_key_path->c_str());
    throw;
  }
  std::printf("recorded %zu bytes in %s (%zu bytes of WAV)\n", message.size(), output->c_str(), wav.size());
  return 0;
}

}  // namespace vesmara::pack

#include "pack/names.h"

#include <cstdio>

#include "base/text.h"
#include "game/catalogue.h"
#include "index/paths.h"

namespace vesmara::pack {
namespace {

constexpr std::string_view kNameBytes =
    "only the letters A-Z and a-z, digits, '-', '.' and '_' in each name, '/' between names";

std::string hexEscape(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  return text;
}

// The length of the UTF-8 sequence a lead byte begins (1 when it begins none).
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

bool isC1Control(std::string_view sequence) {
  return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
         static_cast<unsigned char>(sequence[1]) < 0xA0;
}

}  // namespace

std::string printableName(std::string_view name) {
  std::string out;
  for (std::size_t at = 0; at < name.size();) {
    const auto byte = static_cast<unsigned char>(name[at]);
    if (byte >= 0x80) {
      const std::string_view sequence = name.substr(at, sequenceLength(byte));
      if (sequence.size() > 1 && isWellFormedUtf8(sequence) && !isC1Control(sequence)) {
        out += sequence;
        at += sequence.size();
      } else {
        out += hexEscape(byte);
        ++at;
      }
      continue;
    }
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += hexEscape(byte);
    } else {
      out += static_cast<char>(byte);
    }
    ++at;
  }
  return out;
}

std::string siteNameProblem(std::string_view name) {
  const std::string path = siteRootPath("app/" + std::string(name));
  if (isAppPath(path)) return "";
  if (path.size() > kMaxIndexPathLength) {
    return "its site path " + printableName(path) + " is " + std::to_string(path.size()) + " bytes, and a site path is " +
           "at most " + std::to_string(kMaxIndexPathLength);
  }
  return "a site path holds " + std::string(kNameBytes) + ", and no name is '.' or '..'";
}

std::string itemPathProblem(std::string_view path) {
  if (isValidItemPath(path)) return "";
  if (!path.starts_with("game/")) return "an item path begins with \"game/\"";
  if (path.size() > kMaxItemPathLength) {
    return "an item path is at most " + std::to_string(kMaxItemPathLength) + " bytes";
  }
  return "an item path holds " + std::string(kNameBytes) + ", and no name is '.' or '..'";
}

}  // namespace vesmara::pack

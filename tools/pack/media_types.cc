#include "pack/media_types.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace vesmara::pack {
namespace {

struct MediaType {
  std::string_view extension;
  std::string_view type;
};

// Lowercase only: the index accepts no upper-case media type.
constexpr MediaType kMediaTypes[] = {
    {"html", "text/html"},        {"htm", "text/html"},           {"css", "text/css"},
    {"js", "text/javascript"},    {"mjs", "text/javascript"},     {"json", "application/json"},
    {"map", "application/json"},  {"txt", "text/plain"},          {"md", "text/markdown"},
    {"csv", "text/csv"},          {"xml", "application/xml"},     {"svg", "image/svg+xml"},
    {"png", "image/png"},         {"jpg", "image/jpeg"},          {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},         {"webp", "image/webp"},         {"avif", "image/avif"},
    {"ico", "image/x-icon"},      {"bmp", "image/bmp"},           {"wav", "audio/wav"},
    {"mp3", "audio/mpeg"},        {"ogg", "audio/ogg"},           {"oga", "audio/ogg"},
    {"opus", "audio/opus"},       {"flac", "audio/flac"},         {"m4a", "audio/mp4"},
    {"mp4", "video/mp4"},         {"webm", "video/webm"},         {"ogv", "video/ogg"},
    {"woff", "font/woff"},        {"woff2", "font/woff2"},        {"ttf", "font/ttf"},
    {"otf", "font/otf"},          {"wasm", "application/wasm"},   {"pdf", "application/pdf"},
    {"zip", "application/zip"},   {"gz", "application/gzip"},     {"tar", "application/x-tar"},
    {"webmanifest", "application/manifest+json"},
};

}  // namespace

std::string_view mediaTypeOf(std::string_view file_name) {
  const std::size_t slash = file_name.rfind('/');
  if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
  std::string extension(file_name.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const MediaType& entry : kMediaTypes) {
    if (entry.extension == extension) return entry.type;
  }
  return "application/octet-stream";
}

bool isPublishableMediaType(std::string_view type) {
  const auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view(" +-./;=").find(c) != std::string_view::npos;
  };
  return !type.empty() && type.size() <= 100 && type.find('/') != std::string_view::npos &&
         std::all_of(type.begin(), type.end(), allowed);
}

}  // namespace vesmara::pack

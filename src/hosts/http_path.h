// The path grammar shared by every name of a file on an origin: segments,
// the path shape built from them, and the transport's HTTP path rule.
//
// Paths are never decoded, lowered or normalised: a path that is not already
// in its one canonical form is refused, and accepted paths are compared byte
// for byte.
#ifndef VESMARA_HOSTS_HTTP_PATH_H_
#define VESMARA_HOSTS_HTTP_PATH_H_

#include <cstddef>
#include <string_view>

namespace vesmara {

inline constexpr std::size_t kMinHttpPathLength = 2;
inline constexpr std::size_t kMaxHttpPathLength = 512;

// A segment: one or more bytes, each A-Z, a-z, 0-9, "-", "." or "_", and
// neither "." nor "..". Every other byte ("%", "~", blanks, "/", bytes of
// 0x80 and above) breaks the rule. Case is significant.
bool isPathSegment(std::string_view segment);

// The path shape: "/" followed by one or more segments separated by single
// "/" bytes. So no "//", no trailing "/", and a lone "/" is not a path.
// No length limit of its own.
bool hasPathShape(std::string_view path);

// The rule every path a transport requests obeys: the path shape and a
// length of 2 to 512 bytes.
bool isHttpPath(std::string_view path);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_HTTP_PATH_H_

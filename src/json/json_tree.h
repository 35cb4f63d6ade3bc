// Storage of one parsed JSON document, private to the reader.
#ifndef VESMARA_JSON_JSON_TREE_H_
#define VESMARA_JSON_JSON_TREE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace vesmara {

// One value. Nodes are stored in document pre-order, so the first element of
// an Array is the node right after it and `end` (the index past the value's
// subtree) leads to the next sibling. The kind lives in the top three bits of
// `tag`, `end` in the rest: documents are at most 16 MiB, so a document has
// fewer than 2^24 nodes.
struct JsonNode {
  std::uint32_t a = 0;  // String/Number: arena offset; Array: count; Object: first member; Boolean: 1 for true
  std::uint32_t b = 0;  // String/Number: text length; Object: member count
  std::uint32_t tag = 0;

  static constexpr std::uint32_t kEndMask = (1u << 29) - 1;
  JsonKind kind() const { return static_cast<JsonKind>(tag >> 29); }
  std::uint32_t end() const { return tag & kEndMask; }
  void setKindAndEnd(JsonKind kind, std::uint32_t end) { tag = (static_cast<std::uint32_t>(kind) << 29) | end; }
};
static_assert(sizeof(JsonNode) == 12);

// One Object member: its key in the arena and its value node. The members of
// one Object are contiguous and sorted by key.
struct JsonMember {
  std::uint32_t key_offset = 0;
  std::uint32_t key_length = 0;
  std::uint32_t value = 0;
};

class JsonTree {
 public:
  JsonTree() = default;
  JsonTree(const JsonTree&) = delete;
  JsonTree& operator=(const JsonTree&) = delete;
  ~JsonTree();

  std::string_view textAt(std::uint32_t offset, std::uint32_t length) const {
    return std::string_view(arena.data() + offset, length);
  }
  std::string_view keyOf(const JsonMember& member) const { return textAt(member.key_offset, member.key_length); }

  std::string arena;
  std::vector<JsonNode> nodes;
  std::vector<JsonMember> members;
};

}  // namespace vesmara

#endif  // VESMARA_JSON_JSON_TREE_H_

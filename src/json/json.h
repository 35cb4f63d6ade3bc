// The strict JSON reader shared by every document the library reads.
//
// Strict means: well-formed UTF-8 only, the JSON grammar with no extensions,
// no duplicate keys, no trailing bytes, bounded size and nesting depth.
// Numbers are kept as their exact source text; each document decides how a
// number must look through the typed readers below.
//
// A parsed document is stored compactly (one 12-byte node per value, all
// texts in one arena) because a hostile 16 MiB document can hold eight
// million values. JsonValue is a cheap handle into that immutable storage:
// copies share it, which is indistinguishable from a deep copy because
// nothing can modify a parsed value. The storage is wiped when the last
// handle goes away, since some documents carry key material.
#ifndef VESMARA_JSON_JSON_H_
#define VESMARA_JSON_JSON_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/failure.h"

namespace vesmara {

enum class JsonKind : std::uint32_t {
  Null = 0,
  Boolean = 1,
  Number = 2,
  String = 3,
  Array = 4,
  Object = 5,
};

// The size limits the document readers pass.
inline constexpr std::uint64_t kCatalogueJsonLimit = 65536;
inline constexpr std::uint64_t kManifestJsonLimit = 1048576;
inline constexpr std::uint64_t kIndexJsonLimit = 16777216;
inline constexpr std::uint64_t kCredentialJsonLimit = 16777216;

class JsonTree;

class JsonValue {
 public:
  class ElementRange;
  class MemberRange;

  // A default value is Null.
  JsonValue() = default;

  JsonKind kind() const;

  // Boolean: "true" or "false"; Number: the source text exactly as written;
  // String: the decoded bytes (which may contain 0 bytes); empty otherwise.
  std::string_view text() const;

  // Number of elements of an Array or members of an Object; 0 otherwise.
  std::size_t size() const;

  // Array elements in document order (empty for other kinds).
  ElementRange elements() const;

  // Object members in byte-wise key order (empty for other kinds).
  MemberRange members() const;

  // The member with exactly this key, when this is an Object that has one.
  std::optional<JsonValue> findMember(std::string_view key) const;

 private:
  friend bool parseJsonDocument(std::string_view, std::uint64_t, JsonValue&, Failure&);
  JsonValue(std::shared_ptr<const JsonTree> tree, std::uint32_t node) : tree_(std::move(tree)), node_(node) {}

  std::shared_ptr<const JsonTree> tree_;
  std::uint32_t node_ = 0;
};

class JsonValue::ElementRange {
 public:
  class iterator {
   public:
    JsonValue operator*() const { return JsonValue(tree_, node_); }
    iterator& operator++();
    bool operator==(const iterator& other) const { return node_ == other.node_; }

   private:
    friend class ElementRange;
    iterator(const std::shared_ptr<const JsonTree>* tree, std::uint32_t node) : tree_(*tree), node_(node) {}
    std::shared_ptr<const JsonTree> tree_;
    std::uint32_t node_;
  };

  iterator begin() const { return iterator(&tree_, first_); }
  iterator end() const { return iterator(&tree_, end_); }

 private:
  friend class JsonValue;
  ElementRange(std::shared_ptr<const JsonTree> tree, std::uint32_t first, std::uint32_t end)
      : tree_(std::move(tree)), first_(first), end_(end) {}
  std::shared_ptr<const JsonTree> tree_;
  std::uint32_t first_ = 0;
  std::uint32_t end_ = 0;
};

class JsonValue::MemberRange {
 public:
  class iterator {
   public:
    std::pair<std::string_view, JsonValue> operator*() const;
    iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const iterator& other) const { return index_ == other.index_; }

   private:
    friend class MemberRange;
    iterator(const std::shared_ptr<const JsonTree>* tree, std::uint32_t index) : tree_(*tree), index_(index) {}
    std::shared_ptr<const JsonTree> tree_;
    std::uint32_t index_;
  };

  iterator begin() const { return iterator(&tree_, first_); }
  iterator end() const { return iterator(&tree_, end_); }

 private:
  friend class JsonValue;
  MemberRange(std::shared_ptr<const JsonTree> tree, std::uint32_t first, std::uint32_t end)
      : tree_(std::move(tree)), first_(first), end_(end) {}
  std::shared_ptr<const JsonTree> tree_;
  std::uint32_t first_ = 0;
  std::uint32_t end_ = 0;
};

// Parses one document of at most `size_limit` bytes. `failure` is cleared
// first. On success replaces `out`; on failure records the fixed failure text as InvalidData and leaves
// `out` untouched. Throws only std::bad_alloc.
bool parseJsonDocument(std::string_view input, std::uint64_t size_limit, JsonValue& out, Failure& failure);

// Typed readers. Each fails without a message; the calling document supplies its own.

// A String yields its decoded bytes.
bool readJsonString(const JsonValue& value, std::string& out);

// A Number written as plain decimal digits (no sign, fraction or exponent)
// that fits in 64 bits.
bool readJsonUnsigned(const JsonValue& value, std::uint64_t& out);

// A Number whose text converts, correctly rounded and independently of the
// process locale, to a finite double. Magnitudes beyond the double range fail,
// and so do non-zero texts too small to be represented (they would round to zero).
bool readJsonFiniteDouble(const JsonValue& value, double& out);

// Find member, then read unsigned; an absent member fails.
bool readRequiredUnsignedMember(const JsonValue& object, std::string_view key, std::uint64_t& out);

// An absent member succeeds and leaves `out` unchanged; a present member must be a String.
bool readOptionalStringMember(const JsonValue& object, std::string_view key, std::string& out);

}  // namespace vesmara

#endif  // VESMARA_JSON_JSON_H_

// The read side of a parsed document: JsonValue, its ranges and the typed readers.
#include <charconv>
#include <cmath>
#include <system_error>

#include "base/decimal.h"
#include "base/wipe.h"
#include "json/json.h"
#include "json/json_tree.h"

namespace vesmara {

JsonTree::~JsonTree() {
  // Documents such as credentials carry keys as text; nothing survives the tree.
  wipeString(arena);
}

JsonKind JsonValue::kind() const { return tree_ ? tree_->nodes[node_].kind() : JsonKind::Null; }

std::string_view JsonValue::text() const {
  if (!tree_) return {};
  const JsonNode& node = tree_->nodes[node_];
  switch (node.kind()) {
    case JsonKind::Boolean:
      return node.a ? "true" : "false";
    case JsonKind::Number:
    case JsonKind::String:
      return tree_->textAt(node.a, node.b);
    default:
      return {};
  }
}

std::size_t JsonValue::size() const {
  if (!tree_) return 0;
  const JsonNode& node = tree_->nodes[node_];
  switch (node.kind()) {
    case JsonKind::Array:
      return node.a;
    case JsonKind::Object:
      return node.b;
    default:
      return 0;
  }
}

JsonValue::ElementRange JsonValue::elements() const {
  if (kind() != JsonKind::Array) return ElementRange(nullptr, 0, 0);
  return ElementRange(tree_, node_ + 1, tree_->nodes[node_].end());
}

JsonValue::MemberRange JsonValue::members() const {
  if (kind() != JsonKind::Object) return MemberRange(nullptr, 0, 0);
  const JsonNode& node = tree_->nodes[node_];
  return MemberRange(tree_, node.a, node.a + node.b);
}

JsonValue::ElementRange::iterator& JsonValue::ElementRange::iterator::operator++() {
  node_ = tree_->nodes[node_].end();
  return *this;
}

std::pair<std::string_view, JsonValue> JsonValue::MemberRange::iterator::operator*() const {
  const JsonMember& member = tree_->members[index_];
  return {tree_->keyOf(member), JsonValue(tree_, member.value)};
}

std::optional<JsonValue> JsonValue::findMember(std::string_view key) const {
  if (kind() != JsonKind::Object) return std::nullopt;
  const JsonNode& node = tree_->nodes[node_];
  std::uint32_t low = node.a;
  std::uint32_t high = node.a + node.b;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const int order = tree_->keyOf(tree_->members[middle]).compare(key);
    if (order == 0) return JsonValue(tree_, tree_->members[middle].value);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return std::nullopt;
}

bool readJsonString(const JsonValue& value, std::string& out) {
  if (value.kind() != JsonKind::String) return false;
  out.assign(value.text());
  return true;
}

bool readJsonUnsigned(const JsonValue& value, std::uint64_t& out) {
  if (value.kind() != JsonKind::Number) return false;
  // A JSON number never has leading zeros, so plain digits here are exactly
  // the unsigned decimal form.
  const std::optional<std::uint64_t> number = parseUnsignedDecimal(value.text());
  if (!number) return false;
  out = *number;
  return true;
}

bool readJsonFiniteDouble(const JsonValue& value, double& out) {
  if (value.kind() != JsonKind::Number) return false;
  const std::string_view text = value.text();
  // std::from_chars is correctly rounded and never consults the C locale, so
  // a host process running with a decimal comma still reads "0.5".
  double result = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (!std::isfinite(result)) return false;
  out = result;
  return true;
}

bool readRequiredUnsignedMember(const JsonValue& object, std::string_view key, std::uint64_t& out) {
  const std::optional<JsonValue> member = object.findMember(key);
  return member && readJsonUnsigned(*member, out);
}

bool readOptionalStringMember(const JsonValue& object, std::string_view key, std::string& out) {
  const std::optional<JsonValue> member = object.findMember(key);
  if (!member) return true;
  return readJsonString(*member, out);
}

}  // namespace vesmara

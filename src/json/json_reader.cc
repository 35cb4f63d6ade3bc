// The parse side of the strict JSON reader.
#include <algorithm>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "json/json.h"
#include "json/json_tree.h"

namespace vesmara {
namespace {

constexpr std::size_t kMaxDepth = 32;

// The reader's own ceiling: every offset in the tree is 32-bit. No document
// may come near it (the largest limit any caller passes is 16 MiB).
constexpr std::uint64_t kHardSizeCeiling = 1u << 28;

constexpr char kDuplicateKey[] = "Duplicate JSON key";

bool isWhitespace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// One parse: a single forward pass over the input that appends nodes to a tree.
//
// Duplicate keys are found when an Object closes, by sorting its members
// (which the tree needs sorted anyway), rather than by a lookup per member.
// To report exactly what a member-by-member check would, any other failure
// first asks whether an Object still open already holds a duplicate among its
// finished members; if so, that duplicate came first in the document.
class JsonParser {
 public:
  JsonParser(std::string_view input, JsonTree& tree)
      : p_(reinterpret_cast<const unsigned char*>(input.data())), n_(input.size()), tree_(tree) {}

  bool parseDocument() {
    if (!parseValue(0)) return reportFailure();
    skipWhitespace();
    if (pos_ != n_) return fail("Trailing JSON bytes");
    return true;
  }

  const char* message() const { return message_; }

 private:
  bool fail(const char* message) {
    message_ = message;
    return false;
  }

  // Settles the message of a failed parse (see the class comment).
  bool reportFailure() {
    if (message_ != kDuplicateKey) {
      // Each open Object's members end where the next open Object's begin:
      // equal keys in two different Objects are no duplicate.
      for (std::size_t i = 0; i < open_objects_.size(); ++i) {
        const std::size_t end = i + 1 < open_objects_.size() ? open_objects_[i + 1] : pending_.size();
        if (hasDuplicateKey(open_objects_[i], end)) {
          message_ = kDuplicateKey;
          break;
        }
      }
    }
    return false;
  }

  // Whether the pending members [start, end) hold a key twice. Sorts them.
  bool hasDuplicateKey(std::size_t start, std::size_t end) {
    auto first = pending_.begin() + static_cast<std::ptrdiff_t>(start);
    auto last = pending_.begin() + static_cast<std::ptrdiff_t>(end);
    std::sort(first, last,
              [this](const JsonMember& x, const JsonMember& y) { return tree_.keyOf(x) < tree_.keyOf(y); });
    return std::adjacent_find(first, last, [this](const JsonMember& x, const JsonMember& y) {
             return tree_.keyOf(x) == tree_.keyOf(y);
           }) != last;
  }

  void skipWhitespace() {
    while (pos_ < n_ && isWhitespace(p_[pos_])) ++pos_;
  }

  bool startsWith(std::string_view word) const {
    return n_ - pos_ >= word.size() && std::memcmp(p_ + pos_, word.data(), word.size()) == 0;
  }

  std::uint32_t addNode(JsonKind kind) {
    const auto index = static_cast<std::uint32_t>(tree_.nodes.size());
    tree_.nodes.emplace_back();
    tree_.nodes.back().setKindAndEnd(kind, index + 1);
    return index;
  }

  bool parseValue(std::size_t depth) {
    if (depth > kMaxDepth) return fail("JSON nesting limit exceeded");
    skipWhitespace();
    if (pos_ == n_) return fail("Incomplete JSON value");
    const unsigned char c = p_[pos_];
    if (c == '{') return parseObject(depth);
    if (c == '[') return parseArray(depth);
    if (c == '"') {
      const std::uint32_t node = addNode(JsonKind::String);
      std::uint32_t offset = 0;
      std::uint32_t length = 0;
      if (!parseString(offset, length)) return false;
      tree_.nodes[node].a = offset;
      tree_.nodes[node].b = length;
      return true;
    }
    if (c == '-' || isDigit(c)) return parseNumber();
    if ((c == 't' && startsWith("true")) || (c == 'f' && startsWith("false"))) {
      const bool truth = c == 't';
      const std::uint32_t node = addNode(JsonKind::Boolean);
      tree_.nodes[node].a = truth ? 1 : 0;
      pos_ += truth ? 4 : 5;
      return true;
    }
    if (c == 'n' && startsWith("null")) {
      addNode(JsonKind::Null);
      pos_ += 4;
      return true;
    }
    return fail("Invalid JSON value");
  }

  bool parseObject(std::size_t depth) {
    const std::uint32_t node = addNode(JsonKind::Object);
    ++pos_;
    const std::size_t start = pending_.size();
    open_objects_.push_back(start);
    skipWhitespace();
    if (pos_ < n_ && p_[pos_] == '}') {
      ++pos_;
    } else {
      for (;;) {
        JsonMember member;
        if (!parseString(member.key_offset, member.key_length)) return false;
        skipWhitespace();
        if (pos_ == n_ || p_[pos_] != ':') return fail("Expected object colon");
        ++pos_;
        member.value = static_cast<std::uint32_t>(tree_.nodes.size());
        if (!parseValue(depth + 1)) return false;
        pending_.push_back(member);
        skipWhitespace();
        if (pos_ == n_ || (p_[pos_] != ',' && p_[pos_] != '}')) return fail("Expected object comma");
        if (p_[pos_++] == '}') break;
        skipWhitespace();
      }
    }
    if (hasDuplicateKey(start, pending_.size())) return fail(kDuplicateKey);
    JsonNode& object = tree_.nodes[node];
    object.a = static_cast<std::uint32_t>(tree_.members.size());
    object.b = static_cast<std::uint32_t>(pending_.size() - start);
    object.setKindAndEnd(JsonKind::Object, static_cast<std::uint32_t>(tree_.nodes.size()));
    tree_.members.insert(tree_.members.end(), pending_.begin() + static_cast<std::ptrdiff_t>(start), pending_.end());
    pending_.resize(start);
    open_objects_.pop_back();
    return true;
  }

  bool parseArray(std::size_t depth) {
    const std::uint32_t node = addNode(JsonKind::Array);
    ++pos_;
    std::uint32_t count = 0;
    skipWhitespace();
    if (pos_ < n_ && p_[pos_] == ']') {
      ++pos_;
    } else {
      for (;;) {
        if (!parseValue(depth + 1)) return false;
        ++count;
        skipWhitespace();
        if (pos_ == n_ || (p_[pos_] != ',' && p_[pos_] != ']')) return fail("Expected array comma");
        if (p_[pos_++] == ']') break;
      }
    }
    JsonNode& array = tree_.nodes[node];
    array.a = count;
    array.setKindAndEnd(JsonKind::Array, static_cast<std::uint32_t>(tree_.nodes.size()));
    return true;
  }

  // Decodes a string into the arena. The arena was reserved at the input's
  // length and decoding never lengthens text, so appending never reallocates.
  bool parseString(std::uint32_t& offset, std::uint32_t& length) {
    if (pos_ == n_ || p_[pos_] != '"') return fail("Expected JSON string");
    ++pos_;
    std::string& arena = tree_.arena;
    const std::size_t start = arena.size();
    if (pos_ == n_) return fail("Unterminated JSON string");
    for (;;) {
      // Copy the run of plain bytes up to the next quote, backslash or control byte.
      std::size_t run = pos_;
      while (run < n_ && p_[run] != '"' && p_[run] != '\\' && p_[run] >= 0x20) ++run;
      arena.append(reinterpret_cast<const char*>(p_ + pos_), run - pos_);
      pos_ = run;
      if (pos_ == n_) return fail("Unterminated JSON string");
      const unsigned char c = p_[pos_];
      if (c == '"') {
        ++pos_;
        break;
      }
      if (c < 0x20) return fail("Control byte in JSON string");
      if (!parseEscape()) return false;
      if (pos_ == n_) return fail("Unterminated JSON string");
    }
    offset = static_cast<std::uint32_t>(start);
    length = static_cast<std::uint32_t>(arena.size() - start);
    return true;
  }

  bool parseEscape() {
    ++pos_;  // the backslash
    if (pos_ == n_) return fail("Incomplete JSON escape");
    const unsigned char letter = p_[pos_++];
    char decoded;
    switch (letter) {
      case '"':
        decoded = '"';
        break;
      case '/':
        decoded = '/';
        break;
      case '\\':
        decoded = '\\';
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
      case 'u':
        return parseUnicodeEscape();
      default:
        return fail("Invalid JSON escape");
    }
    tree_.arena.push_back(decoded);
    return true;
  }

  bool readFourHex(std::uint32_t& unit) {
    if (n_ - pos_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hexValue(p_[pos_ + static_cast<std::size_t>(i)]);
      if (digit < 0) return false;
      unit = unit * 16 + static_cast<std::uint32_t>(digit);
    }
    pos_ += 4;
    return true;
  }

  bool parseUnicodeEscape() {
    std::uint32_t unit = 0;
    if (!readFourHex(unit)) return fail("Invalid Unicode escape");
    std::uint32_t code_point = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (n_ - pos_ < 2 || p_[pos_] != '\\' || p_[pos_ + 1] != 'u') return fail("Incomplete surrogate pair");
      pos_ += 2;
      std::uint32_t low = 0;
      if (!readFourHex(low) || low < 0xDC00 || low > 0xDFFF) return fail("Invalid surrogate pair");
      code_point = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return fail("Unpaired surrogate");
    }
    appendUtf8(code_point);
    return true;
  }

  void appendUtf8(std::uint32_t cp) {
    std::string& arena = tree_.arena;
    if (cp < 0x80) {
      arena.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      arena.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      arena.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      arena.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      arena.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      arena.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      arena.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      arena.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      arena.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      arena.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  std::size_t skipDigits() {
    const std::size_t start = pos_;
    while (pos_ < n_ && isDigit(p_[pos_])) ++pos_;
    return pos_ - start;
  }

  bool parseNumber() {
    const std::size_t start = pos_;
    if (p_[pos_] == '-') ++pos_;
    if (pos_ == n_ || !isDigit(p_[pos_])) return fail("Invalid JSON number");
    if (p_[pos_] == '0') {
      ++pos_;
      if (pos_ < n_ && isDigit(p_[pos_])) return fail("Leading zero in number");
    } else {
      skipDigits();
    }
    if (pos_ < n_ && p_[pos_] == '.') {
      ++pos_;
      if (skipDigits() == 0) return fail("Invalid decimal number");
    }
    if (pos_ < n_ && (p_[pos_] == 'e' || p_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < n_ && (p_[pos_] == '+' || p_[pos_] == '-')) ++pos_;
      if (skipDigits() == 0) return fail("Invalid exponent");
    }
    const std::uint32_t node = addNode(JsonKind::Number);
    tree_.nodes[node].a = static_cast<std::uint32_t>(tree_.arena.size());
    tree_.nodes[node].b = static_cast<std::uint32_t>(pos_ - start);
    tree_.arena.append(reinterpret_cast<const char*>(p_ + start), pos_ - start);
    return true;
  }

  const unsigned char* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
  JsonTree& tree_;
  std::vector<JsonMember> pending_;        // finished members of the Objects still open
  std::vector<std::size_t> open_objects_;  // where each open Object's members start in pending_
  const char* message_ = "";
};

bool parseJsonDocument(std::string_view input, std::uint64_t size_limit, JsonValue& out, Failure& failure) {
  failure.clear();
  if (input.size() > size_limit || input.size() > kHardSizeCeiling) {
    return failure.fail(FailureKind::InvalidData, "JSON size limit exceeded");
  }
  if (!isWellFormedUtf8(input)) return failure.fail(FailureKind::InvalidData, "Invalid UTF-8");
  auto tree = std::make_shared<JsonTree>();
  // Every value takes at least one input byte and every two values a separator
  // between them, so these reservations are upper bounds and the vectors never
  // grow by doubling. Pages reserved but never touched cost no memory.
  tree->arena.reserve(input.size());
  tree->nodes.reserve(input.size() / 2 + 1);
  JsonParser parser(input, *tree);
  if (!parser.parseDocument()) return failure.fail(FailureKind::InvalidData, parser.message());
  out = JsonValue(std::move(tree), 0);
  return true;
}

}  // namespace vesmara

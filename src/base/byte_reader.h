// Bounds-checked reading of binary layouts: every read either takes bytes
// that are there or fails and leaves the reader where it was, so a parser
// never does pointer arithmetic of its own. Every result must be looked at:
// a read that "cannot fail" is one the caller has to show cannot.
#ifndef VESMARA_BASE_BYTE_READER_H_
#define VESMARA_BASE_BYTE_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vesmara {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t remaining() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::span<const std::uint8_t> rest() const { return bytes_; }

  [[nodiscard]] bool readU8(std::uint8_t& out) { return readLittleEndian(out); }
  [[nodiscard]] bool readU16(std::uint16_t& out) { return readLittleEndian(out); }
  [[nodiscard]] bool readU32(std::uint32_t& out) { return readLittleEndian(out); }
  [[nodiscard]] bool readU64(std::uint64_t& out) { return readLittleEndian(out); }
  [[nodiscard]] bool readU16BigEndian(std::uint16_t& out) { return readBigEndian(out); }
  [[nodiscard]] bool readU32BigEndian(std::uint32_t& out) { return readBigEndian(out); }
  [[nodiscard]] bool readU64BigEndian(std::uint64_t& out) { return readBigEndian(out); }

  // Takes the next `count` bytes as a view into the input.
  [[nodiscard]] bool readBytes(std::size_t count, std::span<const std::uint8_t>& out) {
    if (count > bytes_.size()) return false;
    out = bytes_.first(count);
    bytes_ = bytes_.subspan(count);
    return true;
  }

  [[nodiscard]] bool skip(std::size_t count) {
    std::span<const std::uint8_t> ignored;
    return readBytes(count, ignored);
  }

  // Takes the next bytes when they equal `expected`; otherwise fails without moving.
  [[nodiscard]] bool readExpected(std::string_view expected) {
    if (expected.size() > bytes_.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (bytes_[i] != static_cast<std::uint8_t>(expected[i])) return false;
    }
    bytes_ = bytes_.subspan(expected.size());
    return true;
  }

  // Takes the next `count` bytes when they are all zero.
  [[nodiscard]] bool readZeros(std::size_t count) {
    if (count > bytes_.size()) return false;
    for (std::size_t i = 0; i < count; ++i) {
      if (bytes_[i] != 0) return false;
    }
    bytes_ = bytes_.subspan(count);
    return true;
  }

 private:
  template <typename T>
  [[nodiscard]] bool readLittleEndian(T& out) {
    if (bytes_.size() < sizeof(T)) return false;
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | bytes_[i]);
    out = value;
    bytes_ = bytes_.subspan(sizeof(T));
    return true;
  }

  template <typename T>
  [[nodiscard]] bool readBigEndian(T& out) {
    if (bytes_.size() < sizeof(T)) return false;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | bytes_[i]);
    out = value;
    bytes_ = bytes_.subspan(sizeof(T));
    return true;
  }

  std::span<const std::uint8_t> bytes_;
};

}  // namespace vesmara

#endif  // VESMARA_BASE_BYTE_READER_H_

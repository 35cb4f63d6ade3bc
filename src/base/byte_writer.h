// The writing twin of ByteReader: appends integers and bytes to a vector in
// the byte order a layout asks for. A value computed in a wider type (a size,
// a length) goes through a checked write, which refuses one that does not fit
// its field instead of cutting it down.
#ifndef VESMARA_BASE_BYTE_WRITER_H_
#define VESMARA_BASE_BYTE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

namespace vesmara {

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void writeU8(std::uint8_t value) { out_.push_back(value); }
  void writeU16(std::uint16_t value) { writeLittleEndian(value); }
  void writeU32(std::uint32_t value) { writeLittleEndian(value); }
  void writeU64(std::uint64_t value) { writeLittleEndian(value); }
  void writeU16BigEndian(std::uint16_t value) { writeBigEndian(value); }
  void writeU32BigEndian(std::uint32_t value) { writeBigEndian(value); }
  void writeU64BigEndian(std::uint64_t value) { writeBigEndian(value); }

  // Checked writes: false, and nothing written, when `value` does not fit.
  [[nodiscard]] bool writeU8Checked(std::uint64_t value) { return writeChecked<std::uint8_t>(value, false); }
  [[nodiscard]] bool writeU16Checked(std::uint64_t value) { return writeChecked<std::uint16_t>(value, false); }
  [[nodiscard]] bool writeU32Checked(std::uint64_t value) { return writeChecked<std::uint32_t>(value, false); }
  [[nodiscard]] bool writeU32BigEndianChecked(std::uint64_t value) { return writeChecked<std::uint32_t>(value, true); }

  void writeBytes(std::span<const std::uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  // A resize and one memcpy: inserting chars into a byte vector would convert
  // byte by byte (and trips a false g++ 12 overflow warning under -O2).
  void writeText(std::string_view text) {
    const std::size_t at = out_.size();
    out_.resize(at + text.size());
    if (!text.empty()) std::memcpy(out_.data() + at, text.data(), text.size());
  }
  void writeZeros(std::size_t count) { out_.insert(out_.end(), count, 0); }

  // Texts with a zero byte between each two: the layout of the labelled
  // inputs of the key derivations ("label", 0, "path", 0, "7").
  void writeZeroSeparated(std::initializer_list<std::string_view> texts) {
    for (const std::string_view* text = texts.begin(); text != texts.end(); ++text) {
      if (text != texts.begin()) writeU8(0);
      writeText(*text);
    }
  }

  std::size_t size() const { return out_.size(); }

 private:
  template <typename T>
  void writeLittleEndian(T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  template <typename T>
  void writeBigEndian(T value) {
    for (std::size_t i = sizeof(T); i-- > 0;) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  template <typename T>
  bool writeChecked(std::uint64_t value, bool big_endian) {
    if (value > std::numeric_limits<T>::max()) return false;
    if (big_endian) {
      writeBigEndian(static_cast<T>(value));
    } else {
      writeLittleEndian(static_cast<T>(value));
    }
    return true;
  }

  std::vector<std::uint8_t>& out_;
};

}  // namespace vesmara

#endif  // VESMARA_BASE_BYTE_WRITER_H_

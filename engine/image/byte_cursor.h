#pragma once

// Big-endian numbers, as Photoshop documents and ICC profiles store them, and a cursor over
// untrusted bytes whose every read checks that it stays inside.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

/// The big-endian unsigned number of `size` bytes (0 to 8) at `bytes`, which must hold them.
inline uint64_t BigEndian(const uint8_t* bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  return value;
}

/// The big-endian 16-bit number at `bytes`, which must hold two bytes.
inline uint16_t BigEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

/// The big-endian 32-bit number at `bytes`, which must hold four bytes.
inline uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(BigEndian(bytes, 4));
}

/// The big-endian IEEE single-precision float at `bytes`, which must hold four bytes.
inline float BigEndianFloat(const uint8_t* bytes) {
  const uint32_t bits = BigEndian32(bytes);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint64_t position() const { return position_; }
  uint64_t remaining() const { return bytes_.size() - position_; }

  /// Reads a big-endian number of `size` bytes (1 to 8); false, moving nothing, when it is short.
  bool Read(size_t size, uint64_t& value) {
    if (remaining() < size) return false;
    value = BigEndian(bytes_.data() + position_, size);
    position_ += size;
    return true;
  }
  bool Skip(uint64_t size) {
    if (remaining() < size) return false;
    position_ += size;
    return true;
  }
  bool Matches(const char* text) const {
    const size_t size = std::strlen(text);
    return remaining() >= size && std::memcmp(bytes_.data() + position_, text, size) == 0;
  }
  /// The next `size` bytes; empty when fewer remain.
  std::span<const uint8_t> Peek(uint64_t size) const {
    if (remaining() < size) return {};
    return bytes_.subspan(position_, size);
  }

 private:
  std::span<const uint8_t> bytes_;
  uint64_t position_ = 0;
};

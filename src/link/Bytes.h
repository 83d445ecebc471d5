#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rlv::link {

// Little-endian field access at explicit offsets.
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Bytes as upper-case hexadecimal pairs without separators.
std::string BytesToHex(const uint8_t* data, size_t count);

// A received payload. Positions past its end read as 0, so a short answer
// never makes a handler read outside the received bytes.
class Payload {
 public:
  Payload(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t operator[](size_t i) const { return i < size_ ? data_[i] : 0; }
  uint16_t U16(size_t i) const { return static_cast<uint16_t>((*this)[i] | ((*this)[i + 1] << 8)); }
  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  // Bytes available from position i on.
  size_t Available(size_t i) const { return i < size_ ? size_ - i : 0; }
  // The zero-terminated text at position i, stopping at the payload's end.
  std::string CString(size_t i) const;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace rlv::link

#include "link/Crc.h"

#include <array>

namespace rlv::link {
namespace {

using Table16 = std::array<std::array<uint16_t, 256>, 8>;
using Table8 = std::array<std::array<uint8_t, 256>, 8>;

// Table k gives the effect of a byte followed by k zero bytes, so eight bytes
// are folded in one step, each lookup independent of the others.
constexpr Table16 MakeCrc16Tables() {
  Table16 t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<uint16_t>(crc >> 1);
    }
    t[0][i] = crc;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu]);
    }
  }
  return t;
}

constexpr Table8 MakeCrc8Tables() {
  Table8 t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) != 0 ? static_cast<uint8_t>((crc >> 1) ^ 0x8Cu) : static_cast<uint8_t>(crc >> 1);
    }
    t[0][i] = crc;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (unsigned i = 0; i < 256; ++i) t[k][i] = t[0][t[k - 1][i]];
  }
  return t;
}

constexpr Table16 kCrc16 = MakeCrc16Tables();
constexpr Table8 kCrc8 = MakeCrc8Tables();

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint8_t* p = data + i;
    crc = static_cast<uint16_t>(kCrc16[7][(crc ^ p[0]) & 0xFFu] ^ kCrc16[6][((crc >> 8) ^ p[1]) & 0xFFu] ^
                                kCrc16[5][p[2]] ^ kCrc16[4][p[3]] ^ kCrc16[3][p[4]] ^ kCrc16[2][p[5]] ^
                                kCrc16[1][p[6]] ^ kCrc16[0][p[7]]);
  }
  for (; i < count; ++i) crc = static_cast<uint16_t>(kCrc16[0][(crc ^ data[i]) & 0xFFu] ^ (crc >> 8));
  return crc;
}

uint8_t Crc8(const uint8_t* data, size_t count) {
  uint8_t crc = 0;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint8_t* p = data + i;
    crc = static_cast<uint8_t>(kCrc8[7][crc ^ p[0]] ^ kCrc8[6][p[1]] ^ kCrc8[5][p[2]] ^ kCrc8[4][p[3]] ^
                               kCrc8[3][p[4]] ^ kCrc8[2][p[5]] ^ kCrc8[1][p[6]] ^ kCrc8[0][p[7]]);
  }
  for (; i < count; ++i) crc = kCrc8[0][crc ^ data[i]];
  return crc;
}

}  // namespace rlv::link

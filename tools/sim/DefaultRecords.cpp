#include "DefaultRecords.h"

#include <cstring>
#include <initializer_list>

#include "link/Bytes.h"
#include "link/Crc.h"

namespace rlv::sim {

namespace {

void Put(std::array<uint8_t, 512>& r, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) r[at++] = b;
}

void Finish(std::array<uint8_t, 512>& r) {
  link::PutU16(r.data() + 510, link::Crc16(r.data(), 510));
}

}  // namespace

std::array<uint8_t, 512> DefaultRecord1() {
  std::array<uint8_t, 512> r{};
  Put(r, 0, {0xAC, 0x01, 0x01, 0x01, 0x08});
  Put(r, 5, {0xFB, 0x25});  // password 9723
  Put(r, 11, {0x23, 0x28, 0x0B, 0x00, 0x00});
  const char* host = "telematics.example.com";
  std::memcpy(r.data() + 61, host, std::strlen(host));
  Put(r, 85, {0x7A, 0x52});  // port 21114
  Put(r, 87, {'+', '7'});
  Put(r, 103, {10, 120, 0, 120, 0, 0x20, 0x03, 60, 0, 60, 0, 50, 0, 5, 3, 5});
  Put(r, 128, {0x03, 0x04});  // data tags 16, 17, 26
  Put(r, 160, {0x03, 0x04});  // status tags 16, 17, 26
  Put(r, 190, {0x35, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(r, 198, {0x34, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(r, 206, {0, 10, 10, 1});
  Put(r, 256, {0x01, 0x00, 0x4B, 0x00, 0x00, 0x01, 0x00});  // fuel sensors at 19200 baud
  Put(r, 353, {192, 0, 2, 10, 0x04, 0x29, 0x8F, 0x2A});     // update server, ports 10500 and 10895
  Put(r, 368, {0x02, '0'});
  Finish(r);
  return r;
}

std::array<uint8_t, 512> DefaultRecord2() {
  std::array<uint8_t, 512> r{};
  Put(r, 0, {0xAB, 0x01, 0x02, 0x01, 0x00, 0x1E, 0x1E, 0x64, 0x1E});
  Put(r, 12, {0x5A, 0x23, 0x23, 0x02, 0x14, 0x5A, 0x28, 0x02, 0x00, 0x00});
  Finish(r);
  return r;
}

}  // namespace rlv::sim

#pragma once

#include <cstddef>
#include <cstdint>

namespace rlv::link {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial 0xFFFF, no final XOR.
uint16_t Crc16(const uint8_t* data, size_t count);
// CRC-8/MAXIM (Dallas 1-Wire): reflected polynomial 0x8C, initial 0, no final XOR.
uint8_t Crc8(const uint8_t* data, size_t count);

}  // namespace rlv::link

#pragma once

#include <array>
#include <cstdint>

namespace rlv::sim {

// The two configuration records of a freshly reset configurator, as a new
// tracker holds them (with the shipped language file's structure tree).
std::array<uint8_t, 512> DefaultRecord1();
std::array<uint8_t, 512> DefaultRecord2();

}  // namespace rlv::sim

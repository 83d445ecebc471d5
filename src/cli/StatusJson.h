#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace rlv::cli {

// The tracker's status as one JSON object on one line, for scripts: values
// decoded from the device record and, when one arrived, the navigation record
// (`navigation` empty otherwise: its keys are then null). Keys are English
// and carry their unit ("altitude_m", "speed_kmh"); numbers are JSON numbers
// written with a point whatever the language or the system's number format;
// "time" is ISO 8601 UTC. The records themselves follow as hexadecimal. The
// keys are listed in the README and the man page.
std::string StatusJson(const std::string& port, std::span<const uint8_t> device,
                       std::span<const uint8_t> navigation);

// A JSON string literal of `text` (UTF-8 passed through, control characters escaped).
std::string JsonString(const std::string& text);
// Seconds since 1970 UTC as "2026-12-10T04:21:20Z".
std::string IsoUtcTime(int64_t seconds);
// value / 10^digits as a decimal number with exactly `digits` digits after the
// point: (-5, 6) gives "-0.000005", (605, 1) "60.5".
std::string ScaledDecimal(int64_t value, int digits);

}  // namespace rlv::cli

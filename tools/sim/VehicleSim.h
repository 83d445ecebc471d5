#pragma once

// The simulated tracker's vehicle side: the tachograph behind its RS-485 port
// (command 69), the transparent port to its serial ports (command 52, other
// than the GNSS receiver) and the accelerometer of its navigation record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace rlv::sim {

inline constexpr uint8_t kTachographCommand = 69;
// The longest chunk that fits one answer frame the configurator can receive
// (its 4096-byte buffer less the frame's 10 bytes and the chunk's 5-byte head).
inline constexpr size_t kMaxTachoChunk = 4081;

struct Acceleration {
  int16_t x = 0;
  int16_t y = 0;
  int16_t z = 0;
};

// Ten CAN bus positions (5 bytes each: PGN, start bit, length, register) and
// the pattern number put into a main configuration record, its CRC renewed.
void PutCanParams(std::array<uint8_t, 512>& record, const std::vector<std::array<uint8_t, 5>>& entries,
                  uint8_t pattern);

class VehicleSim {
 public:
  VehicleSim();

  // ---- Tachograph ------------------------------------------------------------
  // The state record (from offset 0; 210 bytes) and the vehicle's identity.
  std::array<uint8_t, 210> TachoState{};
  std::string Registration = "A123BC77";
  std::string Vin = "XTA21099000000001";
  // The card's DDD file and the size of the chunks it is served in (1 to kMaxTachoChunk).
  std::vector<uint8_t> DddImage;
  size_t ChunkSize = 512;
  // The card slot holds no card: the file request is answered with this
  // step-result code (0 = a card is there).
  uint16_t FileErrorCode = 0;
  // This many start requests are answered "busy" before the transfer starts.
  int BusyAnswers = 0;
  // The chunk request for this offset is answered with the step-result code
  // ChunkErrorCode instead of data (once); -1 = never.
  long long ChunkErrorAt = -1;
  uint16_t ChunkErrorCode = 7;

  // What the configurator asked: start requests (slot), chunk requests (offset), ends (FF).
  std::vector<uint8_t> StartSlots;
  std::vector<uint32_t> ChunkOffsets;
  int EndRequests = 0;

  // Answers to one request of command 69 (payloads; several or none).
  std::vector<std::vector<uint8_t>> OnTachograph(const uint8_t* p, size_t n);

  // ---- Transparent port --------------------------------------------------------
  // Requests of command 52 for ports other than the GNSS receiver: port byte, baud rate.
  struct TransparentRequest {
    uint8_t port = 0;
    uint32_t baud = 0;
  };
  std::vector<TransparentRequest> TransparentRequests;
  // Answer status to such a request.
  uint8_t OnTransparentPort(const uint8_t* p, size_t n);

  // ---- Accelerometer -----------------------------------------------------------
  // The axes every navigation record reports, unless a series is queued.
  void SetAcceleration(Acceleration a) {
    accel_ = a;
    accel_set_ = true;
  }
  // One value per navigation record from the next one on; the last one stays.
  void QueueAccelerations(const std::vector<Acceleration>& series);
  // Puts the current axes into a navigation record (offsets 61, 63, 65).
  void FillNavigation(uint8_t* record, size_t size);
  size_t NavigationAnswers() const { return navigation_answers_; }

 private:
  std::vector<uint8_t> Chunk(uint32_t offset) const;
  static std::vector<uint8_t> StepResult(uint8_t kind, uint16_t code);

  Acceleration accel_{};
  bool accel_set_ = false;  // until then the navigation record keeps its own values
  std::deque<Acceleration> series_;
  size_t navigation_answers_ = 0;
};

}  // namespace rlv::sim

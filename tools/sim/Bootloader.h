#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rlv::sim {

// What the simulated bootloader does wrong on purpose.
struct BootloaderFaults {
  int refuse_block = -1;  // block number (0 = first) answered with `refuse_status`
  uint8_t refuse_status = 1;
  int silent_from_block = -1;  // from this block on nothing is answered
  int delay_block = -1;        // this block's acknowledgement is held back...
  int delay_ms = 0;            // ...by this many milliseconds
};

// The tracker's bootloader: takes an image with commands 16 (start), 18 (file
// size), 19 (00 02 and the 512-byte header), 20 (u32 body offset, u16 n, n
// bytes, n <= 1024) and 21 (end), checks every step and keeps what it took.
class Bootloader {
 public:
  static constexpr size_t kHeaderSize = 512;
  static constexpr size_t kMaxBlock = 1024;
  // Status bytes of a refused step.
  static constexpr uint8_t kOutOfOrder = 2;  // a step before its time
  static constexpr uint8_t kBadRequest = 3;  // wrong size, header or offset

  BootloaderFaults faults;

  // A request; the answer's status byte, or nullopt when it stays silent.
  // `delay_ms` (when given) receives how long the answer is held back.
  std::optional<uint8_t> Handle(uint8_t command, const uint8_t* p, size_t n, int* delay_ms = nullptr);
  // A restart forgets a transfer that did not end; a complete image stays.
  void Restart();

  // The body received so far, and the last image that ended with command 21.
  const std::vector<uint8_t>& Body() const { return body_; }
  bool Complete() const { return complete_; }
  const std::vector<uint8_t>& Header() const { return header_; }
  int BlocksReceived() const { return blocks_; }
  int Starts() const { return starts_; }

 private:
  void Clear();
  enum class Stage { kIdle, kStarted, kSized, kHeader, kDone };
  Stage stage_ = Stage::kIdle;
  uint32_t file_size_ = 0;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> body_;
  int blocks_ = 0;
  int starts_ = 0;
  bool complete_ = false;
};

}  // namespace rlv::sim

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rlv::sim {

// The tracker's GNSS receiver as the configurator's update drives it through
// the tracker's transparent mode: NMEA at 9600 baud until "$PMTK180*3B" sends
// it to its ROM loader; then, at 115200 baud only, the loader's handshake
// (A0 0A 50 05 answered 5F F5 AF FA), the agent write (A1, address, word
// count N, the words, each byte echoed), the agent check (A4, address, N,
// echoed and followed by the agent's checksum), the jump (A8, address), and
// the agent's own protocol: D3, 01, address, size (answered 5A 00), D5 and the
// packet size (answered 5A 5A), then packets of the firmware each followed by
// their 16-bit sum, most significant byte first (answered 69; the last 69 5A 5A),
// and D9 to finish. Bytes at a wrong line speed arrive as noise and are lost.
class GnssReceiver {
 public:
  static constexpr int kNmeaBaud = 9600;
  static constexpr int kLoaderBaud = 115200;
  static constexpr uint8_t kBadSum = 0x6A;

  bool silent = false;  // answers nothing at all

  // Bytes from the tracker at line speed `baud`; returns the receiver's answer.
  std::vector<uint8_t> Feed(const uint8_t* data, size_t n, int baud);
  // Back to NMEA, as after a power cycle; what was written stays.
  void Reset();

  // The checksum of the agent check: the 16-bit sum of its N words, each read
  // most significant byte first as they came on the wire.
  static uint16_t AgentChecksum(const std::vector<uint8_t>& wire_words);

  int PmtkLines() const { return pmtk_lines_; }
  bool Synchronised() const { return stage_ != Stage::kNmea && stage_ != Stage::kSync; }
  // The agent as written, byte pairs swapped back into the file's order.
  std::vector<uint8_t> Agent() const;
  const std::vector<uint8_t>& Firmware() const { return firmware_; }
  bool Finished() const { return finished_; }
  int BadSums() const { return bad_sums_; }

 private:
  enum class Stage { kNmea, kSync, kCommand, kCollect, kAgent, kFirmware, kDone };
  void Byte(uint8_t b, std::vector<uint8_t>& out);
  void Collected(std::vector<uint8_t>& out);

  Stage stage_ = Stage::kNmea;
  std::string line_;
  int pmtk_lines_ = 0;
  int sync_ = 0;
  uint8_t command_ = 0;
  std::vector<uint8_t> field_;  // bytes of the field being collected
  size_t need_ = 0;
  bool echo_ = false;
  int part_ = 0;  // which field of the command
  uint32_t words_ = 0;
  std::vector<uint8_t> agent_wire_;
  int agent_step_ = 0;
  uint32_t firmware_size_ = 0;
  uint32_t packet_ = 0;
  std::vector<uint8_t> firmware_;
  bool finished_ = false;
  int bad_sums_ = 0;
};

}  // namespace rlv::sim

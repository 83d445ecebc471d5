#pragma once

// The simulated tracker's Bluetooth module: a scan reports the devices around
// it one by one over the scan time and then the end of the scan (command 72),
// devices found by the last scan are paired or removed by their position
// (command 73), the paired ones are listed (command 74, sub-code 2), and a
// pairing is followed by the connection event (command 74, sub-code 1).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rlv::sim {

inline constexpr uint8_t kBluetoothScanCommand = 72;
inline constexpr uint8_t kBluetoothPairCommand = 73;
inline constexpr uint8_t kBluetoothListCommand = 74;

class BluetoothSim {
 public:
  // One answer frame's command and payload.
  struct Answer {
    uint8_t command = 0;
    std::vector<uint8_t> payload;
  };

  BluetoothSim();

  // The names of the devices a scan finds, in the order it finds them
  // (Windows-1251 bytes; sent zero-terminated).
  std::vector<std::string> Devices;
  // A device of the scan that refuses to pair (its name), "" = none.
  std::string Refuses;

  // What the configurator asked: scan requests (their seconds, 0 = stop),
  // pair requests (row, profile byte) and remove requests (row).
  std::vector<uint8_t> ScanRequests;
  struct PairRequest {
    uint8_t row = 0;
    uint8_t profile = 0;
  };
  std::vector<PairRequest> PairRequests;
  std::vector<uint8_t> RemoveRequests;
  // The devices paired now, in the order they were paired.
  const std::vector<std::string>& Paired() const { return paired_; }
  bool Scanning() const { return scanning_; }

  // Answers to one request (several or none); a scan's hits come later, from Advance.
  std::vector<Answer> OnRequest(uint8_t command, const uint8_t* p, size_t n, uint64_t now_ms);
  // The scan hits and the end of the scan that are due at `now_ms`.
  std::vector<Answer> Advance(uint64_t now_ms);

 private:
  std::vector<Answer> OnScan(const uint8_t* p, size_t n, uint64_t now_ms);
  std::vector<Answer> OnPair(const uint8_t* p, size_t n);
  std::vector<Answer> OnList(const uint8_t* p, size_t n) const;
  static Answer Device(uint8_t command, std::vector<uint8_t> head, const std::string& name);

  bool scanning_ = false;
  uint64_t scan_start_ms_ = 0;
  uint64_t scan_ms_ = 0;
  size_t hits_sent_ = 0;
  // The devices the last scan reported, by row (row 1 = the first).
  std::vector<std::string> found_;
  std::vector<std::string> paired_;
};

}  // namespace rlv::sim

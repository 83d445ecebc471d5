#include "BluetoothSim.h"

#include <algorithm>

namespace rlv::sim {
namespace {
// Scan request: 01 and the seconds, or 00 to stop.
constexpr uint8_t kScanStart = 1;
constexpr uint8_t kScanStop = 0;
// Pair request: 01, row, profile (5 hands-free, 6 gateway); remove request: 00, row.
constexpr uint8_t kPair = 1;
constexpr uint8_t kRemove = 0;
constexpr uint8_t kFirstProfile = 5;
constexpr uint8_t kLastProfile = 6;
// Sub-codes of command 74's answers.
constexpr uint8_t kConnection = 1;
constexpr uint8_t kListEntry = 2;
// A device number is one byte.
constexpr size_t kMaxDevices = 255;
}  // namespace

BluetoothSim::BluetoothSim() : Devices{"RL Headset", "Fuel Sensor BT", "Driver Phone"} {}

BluetoothSim::Answer BluetoothSim::Device(uint8_t command, std::vector<uint8_t> head,
                                          const std::string& name) {
  Answer answer{command, std::move(head)};
  answer.payload.insert(answer.payload.end(), name.begin(), name.end());
  answer.payload.push_back(0);
  return answer;
}

std::vector<BluetoothSim::Answer> BluetoothSim::OnRequest(uint8_t command, const uint8_t* p, size_t n,
                                                          uint64_t now_ms) {
  switch (command) {
    case kBluetoothScanCommand:
      return OnScan(p, n, now_ms);
    case kBluetoothPairCommand:
      return OnPair(p, n);
    case kBluetoothListCommand:
      return OnList(p, n);
    default:
      return {};
  }
}

std::vector<BluetoothSim::Answer> BluetoothSim::OnScan(const uint8_t* p, size_t n, uint64_t now_ms) {
  if (n >= 1 && p[0] == kScanStop) {
    ScanRequests.push_back(0);
    if (!scanning_) return {};
    scanning_ = false;
    return {{kBluetoothScanCommand, {0}}};
  }
  if (n < 2 || p[0] != kScanStart) return {};
  ScanRequests.push_back(p[1]);
  scanning_ = true;
  scan_start_ms_ = now_ms;
  scan_ms_ = static_cast<uint64_t>(p[1]) * 1000;
  hits_sent_ = 0;
  found_.clear();
  return Advance(now_ms);
}

// The devices turn up evenly over the scan time, the last one before its end.
std::vector<BluetoothSim::Answer> BluetoothSim::Advance(uint64_t now_ms) {
  std::vector<Answer> out;
  if (!scanning_) return out;
  const size_t count = std::min(Devices.size(), kMaxDevices);
  while (hits_sent_ < count && now_ms >= scan_start_ms_ + scan_ms_ * (hits_sent_ + 1) / (count + 1)) {
    found_.push_back(Devices[hits_sent_]);
    ++hits_sent_;
    out.push_back(Device(kBluetoothScanCommand, {static_cast<uint8_t>(hits_sent_)}, found_.back()));
  }
  if (now_ms >= scan_start_ms_ + scan_ms_) {
    scanning_ = false;
    out.push_back({kBluetoothScanCommand, {0}});
  }
  return out;
}

// A pairing takes a row of the last scan; a removal a row of the paired list.
std::vector<BluetoothSim::Answer> BluetoothSim::OnPair(const uint8_t* p, size_t n) {
  if (n >= 3 && p[0] == kPair) {
    PairRequests.push_back({p[1], p[2]});
    const size_t row = p[1];
    const bool known = row >= 1 && row <= found_.size();
    const bool profile = p[2] >= kFirstProfile && p[2] <= kLastProfile;
    if (!known || !profile || (!Refuses.empty() && found_[row - 1] == Refuses)) {
      return {{kBluetoothPairCommand, {kPair, 0}}};
    }
    const std::string& name = found_[row - 1];
    if (std::find(paired_.begin(), paired_.end(), name) == paired_.end()) paired_.push_back(name);
    return {{kBluetoothPairCommand, {kPair, 1}}, Device(kBluetoothListCommand, {kConnection, 1}, name)};
  }
  if (n >= 2 && p[0] == kRemove) {
    RemoveRequests.push_back(p[1]);
    const size_t row = p[1];
    // A row that holds no paired device is not answered.
    if (row < 1 || row > paired_.size()) return {};
    paired_.erase(paired_.begin() + static_cast<std::ptrdiff_t>(row - 1));
    return {{kBluetoothPairCommand, {kRemove}}};
  }
  return {};
}

std::vector<BluetoothSim::Answer> BluetoothSim::OnList(const uint8_t* p, size_t n) const {
  std::vector<Answer> out;
  if (n < 1 || p[0] != kListEntry) return out;
  for (size_t i = 0; i < paired_.size() && i < kMaxDevices; ++i) {
    out.push_back(Device(kBluetoothListCommand, {kListEntry, 0, static_cast<uint8_t>(i + 1)}, paired_[i]));
  }
  return out;
}

}  // namespace rlv::sim

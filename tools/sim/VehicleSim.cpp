#include "VehicleSim.h"

#include <algorithm>

#include "link/Bytes.h"
#include "link/Crc.h"

namespace rlv::sim {

namespace {
constexpr uint8_t kData = 0;
constexpr uint8_t kStepResult = 2;
constexpr uint16_t kBusy = 2;
constexpr uint8_t kKindState = 0;
constexpr uint8_t kKindVehicle = 1;
constexpr uint8_t kKindChunk = 2;
constexpr uint8_t kKindFileReady = 3;
constexpr size_t kRegistrationField = 15;
constexpr size_t kNavAccel = 61;
}  // namespace

// A card file to download in the demo: 3000 bytes of a recognisable pattern.
VehicleSim::VehicleSim() : DddImage(3000) {
  for (size_t i = 0; i < DddImage.size(); ++i) DddImage[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
}

void PutCanParams(std::array<uint8_t, 512>& record, const std::vector<std::array<uint8_t, 5>>& entries,
                  uint8_t pattern) {
  constexpr size_t kCanParam = 298;
  constexpr size_t kCanPattern = 348;
  constexpr size_t kFlags12 = 12;
  std::fill(record.begin() + kCanParam, record.begin() + kCanPattern, uint8_t{0});
  for (size_t i = 0; i < entries.size() && i < 10; ++i) {
    std::copy(entries[i].begin(), entries[i].end(),
              record.begin() + static_cast<std::ptrdiff_t>(kCanParam + 5 * i));
  }
  record[kCanPattern] = pattern;
  record[kFlags12] = static_cast<uint8_t>(pattern != 0 ? record[kFlags12] | 0x80 : record[kFlags12] & 0x7F);
  link::PutU16(record.data() + 510, link::Crc16(record.data(), 510));
}

std::vector<uint8_t> VehicleSim::StepResult(uint8_t kind, uint16_t code) {
  std::vector<uint8_t> p{kStepResult, kind, 0, 0, 0, 0, 0};
  link::PutU16(p.data() + 5, code);
  return p;
}

std::vector<uint8_t> VehicleSim::Chunk(uint32_t offset) const {
  const size_t size = std::clamp<size_t>(ChunkSize, 1, kMaxTachoChunk);
  const size_t from = std::min<size_t>(offset, DddImage.size());
  const size_t n = std::min(size, DddImage.size() - from);
  // Sized once and filled in place: a range insert after a five-byte list
  // makes GCC 12 report a false out-of-bounds copy at -O2.
  std::vector<uint8_t> p(5 + n);
  p[0] = kData;
  p[2] = kKindChunk;
  link::PutU16(p.data() + 3, static_cast<uint16_t>(n));
  std::copy_n(DddImage.begin() + static_cast<std::ptrdiff_t>(from), n, p.begin() + 5);
  return p;
}

// Requests: 00 state, 01 vehicle, 03 slot 0000 0000 the file, 02 slot 0000 0000
// start, 02 u32 the next chunk at that offset, FF end.
std::vector<std::vector<uint8_t>> VehicleSim::OnTachograph(const uint8_t* p, size_t n) {
  if (n == 0) return {};
  switch (p[0]) {
    case 0x00: {
      std::vector<uint8_t> a{kData, 2, kKindState, 0, 0};
      link::PutU16(a.data() + 3, static_cast<uint16_t>(TachoState.size()));
      a.insert(a.end(), TachoState.begin(), TachoState.end());
      return {a};
    }
    case 0x01: {
      std::vector<uint8_t> record(kRegistrationField, 0);
      std::copy_n(Registration.begin(), std::min(Registration.size(), kRegistrationField - 1),
                  record.begin());
      record.insert(record.end(), Vin.begin(), Vin.end());
      record.push_back(0);
      std::vector<uint8_t> a{kData, 2, kKindVehicle, 0, 0};
      link::PutU16(a.data() + 3, static_cast<uint16_t>(record.size()));
      a.insert(a.end(), record.begin(), record.end());
      return {a};
    }
    case 0x03:
      if (FileErrorCode != 0) return {StepResult(1, FileErrorCode)};
      return {{kData, 0, kKindFileReady, 0, 0}};
    case 0x02: {
      if (n >= 6) {
        StartSlots.push_back(p[1]);
        if (BusyAnswers > 0) {
          --BusyAnswers;
          return {StepResult(2, kBusy)};
        }
        ChunkOffsets.push_back(0);
        return {Chunk(0)};
      }
      if (n < 5) return {StepResult(1, 1)};
      const uint32_t offset = link::GetU32(p + 1);
      ChunkOffsets.push_back(offset);
      if (ChunkErrorAt >= 0 && static_cast<long long>(offset) == ChunkErrorAt) {
        ChunkErrorAt = -1;
        return {StepResult(1, ChunkErrorCode)};
      }
      return {Chunk(offset)};
    }
    case 0xFF:
      ++EndRequests;
      return {};
    default:
      return {StepResult(1, 1)};
  }
}

uint8_t VehicleSim::OnTransparentPort(const uint8_t* p, size_t n) {
  if (n < 5 || (p[0] & 0x7F) > 2) return 1;
  TransparentRequests.push_back({p[0], link::GetU32(p + 1)});
  return 0;
}

void VehicleSim::QueueAccelerations(const std::vector<Acceleration>& series) {
  series_.insert(series_.end(), series.begin(), series.end());
  accel_set_ = accel_set_ || !series.empty();
}

void VehicleSim::FillNavigation(uint8_t* record, size_t size) {
  ++navigation_answers_;
  if (!series_.empty()) {
    accel_ = series_.front();
    series_.pop_front();
  }
  if (!accel_set_ || size < kNavAccel + 6) return;
  link::PutU16(record + kNavAccel, static_cast<uint16_t>(accel_.x));
  link::PutU16(record + kNavAccel + 2, static_cast<uint16_t>(accel_.y));
  link::PutU16(record + kNavAccel + 4, static_cast<uint16_t>(accel_.z));
}

}  // namespace rlv::sim

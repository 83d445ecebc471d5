#include "GnssReceiver.h"

#include <algorithm>

namespace rlv::sim {

namespace {
uint32_t Msb32(const std::vector<uint8_t>& f) {
  return (static_cast<uint32_t>(f[0]) << 24) | (static_cast<uint32_t>(f[1]) << 16) |
         (static_cast<uint32_t>(f[2]) << 8) | f[3];
}
constexpr uint8_t kSyncOut[4] = {0xA0, 0x0A, 0x50, 0x05};
constexpr size_t kAgentChunk = 10;
constexpr size_t kMaxAgent = 1u << 20;  // the receiver's memory
}  // namespace

uint16_t GnssReceiver::AgentChecksum(const std::vector<uint8_t>& wire_words) {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < wire_words.size(); i += 2) {
    sum = static_cast<uint16_t>(sum + ((wire_words[i] << 8) | wire_words[i + 1]));
  }
  return sum;
}

void GnssReceiver::Reset() {
  stage_ = Stage::kNmea;
  line_.clear();
  sync_ = 0;
  field_.clear();
  need_ = 0;
  agent_step_ = 0;
}

std::vector<uint8_t> GnssReceiver::Agent() const {
  std::vector<uint8_t> agent(agent_wire_.begin(),
                             agent_wire_.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(
                                                       agent_wire_.size(), static_cast<size_t>(words_) * 2)));
  for (size_t i = 0; i + 1 < agent.size(); i += 2) std::swap(agent[i], agent[i + 1]);
  return agent;
}

std::vector<uint8_t> GnssReceiver::Feed(const uint8_t* data, size_t n, int baud) {
  std::vector<uint8_t> out;
  if (data == nullptr) return out;
  const int wanted = stage_ == Stage::kNmea ? kNmeaBaud : kLoaderBaud;
  if (baud != wanted) return out;  // noise on the line
  for (size_t i = 0; i < n; ++i) Byte(data[i], out);
  if (silent) out.clear();
  return out;
}

void GnssReceiver::Byte(uint8_t b, std::vector<uint8_t>& out) {
  switch (stage_) {
    case Stage::kNmea:
      if (b == '\n') {
        if (line_ == "$PMTK180*3B\r") {
          ++pmtk_lines_;
          stage_ = Stage::kSync;
          sync_ = 0;
        }
        line_.clear();
      } else if (line_.size() < 128) {
        line_.push_back(static_cast<char>(b));
      }
      return;
    case Stage::kSync:
      if (b != kSyncOut[sync_]) sync_ = 0;
      if (b != kSyncOut[sync_]) return;
      out.push_back(static_cast<uint8_t>(~b));
      if (++sync_ == 4) stage_ = Stage::kCommand;
      return;
    case Stage::kCommand:
      if (b == 0xA1 || b == 0xA4 || b == 0xA8) {
        out.push_back(b);
        command_ = b;
        part_ = 0;
        field_.clear();
        need_ = 4;
        echo_ = b != 0xA8;
        stage_ = Stage::kCollect;
      }
      return;
    case Stage::kCollect:
      field_.push_back(b);
      if (echo_) out.push_back(b);
      if (field_.size() == need_) Collected(out);
      return;
    case Stage::kAgent:
      field_.push_back(b);
      switch (agent_step_) {
        case 0:  // D3
        case 1:  // 01
          if (b == (agent_step_ == 0 ? 0xD3 : 0x01)) ++agent_step_;
          field_.clear();
          return;
        case 2:  // start address
          if (field_.size() == 4) {
            ++agent_step_;
            field_.clear();
          }
          return;
        case 3:  // firmware size
          if (field_.size() == 4) {
            firmware_size_ = Msb32(field_);
            out.push_back(0x5A);
            out.push_back(0x00);
            ++agent_step_;
            field_.clear();
          }
          return;
        case 4:  // D5, or the size once more
          if (field_.size() == 1 && b == 0xD5) {
            ++agent_step_;
            field_.clear();
          } else if (field_.size() == 4) {
            firmware_size_ = Msb32(field_);
            out.push_back(0x5A);
            out.push_back(0x00);
            field_.clear();
          }
          return;
        default:  // packet size
          if (field_.size() == 4) {
            packet_ = std::max<uint32_t>(1, Msb32(field_));
            out.push_back(0x5A);
            out.push_back(0x5A);
            field_.clear();
            firmware_.clear();
            stage_ = firmware_size_ == 0 ? Stage::kDone : Stage::kFirmware;
          }
          return;
      }
    case Stage::kFirmware: {
      field_.push_back(b);
      const size_t data = std::min<size_t>(packet_, firmware_size_ - firmware_.size());
      if (field_.size() < data + 2) return;
      uint16_t sum = 0;
      for (size_t i = 0; i < data; ++i) sum = static_cast<uint16_t>(sum + field_[i]);
      if (field_[data] == (sum >> 8) && field_[data + 1] == (sum & 0xFF)) {
        firmware_.insert(firmware_.end(), field_.begin(), field_.begin() + static_cast<std::ptrdiff_t>(data));
        out.push_back(0x69);
        if (firmware_.size() >= firmware_size_) {
          out.push_back(0x5A);
          out.push_back(0x5A);
          stage_ = Stage::kDone;
        }
      } else {
        ++bad_sums_;
        out.push_back(kBadSum);
      }
      field_.clear();
      return;
    }
    case Stage::kDone:
      if (b == 0xD9) finished_ = true;
      return;
  }
}

void GnssReceiver::Collected(std::vector<uint8_t>& out) {
  const std::vector<uint8_t> field = field_;
  field_.clear();
  ++part_;
  if (command_ == 0xA8) {
    stage_ = Stage::kAgent;  // the agent runs from the address just given
    agent_step_ = 0;
    return;
  }
  if (part_ == 1) {
    need_ = 4;  // the word count follows the address
    return;
  }
  if (part_ == 2) {
    words_ = Msb32(field);
    if (command_ == 0xA4) {
      std::vector<uint8_t> wire(
          agent_wire_.begin(),
          agent_wire_.begin() + static_cast<std::ptrdiff_t>(
                                    std::min<size_t>(agent_wire_.size(), static_cast<size_t>(words_) * 2)));
      const uint16_t check = AgentChecksum(wire);
      out.push_back(static_cast<uint8_t>(check >> 8));
      out.push_back(static_cast<uint8_t>(check));
      stage_ = Stage::kCommand;
      return;
    }
    // The words come in chunks of ten bytes, the last one filled with zeros.
    agent_wire_.clear();
    need_ = (static_cast<size_t>(words_) * 2 + kAgentChunk - 1) / kAgentChunk * kAgentChunk;
    if (need_ == 0 || need_ > kMaxAgent) stage_ = Stage::kCommand;
    return;
  }
  agent_wire_ = field;
  stage_ = Stage::kCommand;
}

}  // namespace rlv::sim

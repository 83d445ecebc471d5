#include "Bootloader.h"

#include <cstring>

#include "link/Bytes.h"

namespace rlv::sim {

namespace {
constexpr uint8_t kStart = 16;
constexpr uint8_t kSize = 18;
constexpr uint8_t kHeader = 19;
constexpr uint8_t kBlock = 20;
constexpr uint8_t kEnd = 21;
}  // namespace

void Bootloader::Restart() {
  stage_ = Stage::kIdle;
  if (!complete_) Clear();
}

void Bootloader::Clear() {
  file_size_ = 0;
  header_.clear();
  body_.clear();
  blocks_ = 0;
}

std::optional<uint8_t> Bootloader::Handle(uint8_t command, const uint8_t* p, size_t n, int* delay_ms) {
  if (delay_ms != nullptr) *delay_ms = 0;
  switch (command) {
    case kStart:
      // A start begins a new transfer whatever came before.
      Clear();
      complete_ = false;
      ++starts_;
      stage_ = Stage::kStarted;
      return 0;
    case kSize:
      if (stage_ != Stage::kStarted) return kOutOfOrder;
      if (n != 4 || link::GetU32(p) <= kHeaderSize) return kBadRequest;
      file_size_ = link::GetU32(p);
      stage_ = Stage::kSized;
      return 0;
    case kHeader:
      if (stage_ != Stage::kSized) return kOutOfOrder;
      if (n != 2 + kHeaderSize || p[0] != 0x00 || p[1] != 0x02 || std::memcmp(p + 2, "SLFW", 4) != 0 ||
          link::GetU32(p + 2 + 8) + kHeaderSize != file_size_) {
        return kBadRequest;
      }
      header_.assign(p + 2, p + 2 + kHeaderSize);
      stage_ = Stage::kHeader;
      return 0;
    case kBlock: {
      if (stage_ != Stage::kHeader) return kOutOfOrder;
      const int block = blocks_;
      if (faults.silent_from_block >= 0 && block >= faults.silent_from_block) return std::nullopt;
      // A held-back answer may be a refusal too.
      if (block == faults.delay_block && delay_ms != nullptr) *delay_ms = faults.delay_ms;
      if (block == faults.refuse_block) return faults.refuse_status;
      if (n < 6) return kBadRequest;
      const uint32_t offset = link::GetU32(p);
      const size_t count = link::GetU16(p + 4);
      // Blocks come in order, whole, never past the announced size.
      if (count == 0 || count > kMaxBlock || count != n - 6 || offset != body_.size() ||
          offset + count > file_size_ - kHeaderSize) {
        return kBadRequest;
      }
      body_.insert(body_.end(), p + 6, p + 6 + count);
      ++blocks_;
      return 0;
    }
    case kEnd:
      if (stage_ != Stage::kHeader || body_.size() + kHeaderSize != file_size_) return kOutOfOrder;
      stage_ = Stage::kDone;
      complete_ = true;
      return 0;
    default:
      return std::nullopt;
  }
}

}  // namespace rlv::sim

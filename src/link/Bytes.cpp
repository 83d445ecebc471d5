#include "link/Bytes.h"

namespace rlv::link {

std::string BytesToHex(const uint8_t* data, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0x0F]);
  }
  return out;
}

std::string Payload::CString(size_t i) const {
  std::string out;
  for (; i < size_ && data_[i] != 0; ++i) out.push_back(static_cast<char>(data_[i]));
  return out;
}

}  // namespace rlv::link

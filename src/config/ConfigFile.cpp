#include "config/ConfigFile.h"

#include <algorithm>
#include <cstdio>

#include "link/Bytes.h"

namespace rlv::config {

std::vector<uint8_t> BuildConfigFile(const Block& block1, const Block& block2) {
  std::vector<uint8_t> file(fcg::kFileSize, 0);
  file[0] = fcg::kMagic0;
  file[1] = fcg::kMagic1;
  file[2] = fcg::kDeviceType;
  file[3] = 1;  // two records
  const size_t heads[2] = {fcg::kHeaderSize, fcg::kBlock2Head};
  const uint8_t types[2] = {fcg::kTypeBlock1, fcg::kTypeBlock2};
  const Block* blocks[2] = {&block1, &block2};
  for (int i = 0; i < 2; ++i) {
    const size_t at = heads[i];
    file[at] = types[i];
    link::PutU16(&file[at + 1], static_cast<uint16_t>(fcg::kBlockSize));
    std::copy(blocks[i]->begin(), blocks[i]->end(), file.begin() + static_cast<std::ptrdiff_t>(at + 3));
  }
  return file;
}

FileVerdict ApplyConfigFile(const std::vector<uint8_t>& file, Block& block1, Block& block2) {
  const size_t size = std::min(file.size(), fcg::kReach);
  if (size < fcg::kHeaderSize) return FileVerdict::kNotConfigFile;
  if (file[0] != fcg::kMagic0 || file[1] != fcg::kMagic1 || (file[2] & 0x0F) != fcg::kDeviceType) {
    return FileVerdict::kNotConfigFile;
  }
  const int last = static_cast<int8_t>(file[3]);
  uint16_t p = fcg::kHeaderSize;
  for (int i = 0; i <= last; ++i) {
    if (size_t{p} + fcg::kRecordHeadSize > size) break;
    const uint8_t type = file[p];
    const uint16_t length = link::GetU16(&file[p + 1]);
    p = static_cast<uint16_t>(p + fcg::kRecordHeadSize);
    if (type == fcg::kTypeBlock1 || type == fcg::kTypeBlock2) {
      Block& block = type == fcg::kTypeBlock1 ? block1 : block2;
      const size_t n = p < size ? std::min(fcg::kBlockSize, size - p) : 0;
      std::copy_n(file.begin() + p, n, block.begin());
    }
    p = static_cast<uint16_t>(p + length);
  }
  return FileVerdict::kLoaded;
}

namespace {

struct Civil {
  long long year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day counted from 1970-01-01.
Civil CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

std::string BuildStamp(uint32_t write_time) {
  const long long days = write_time / 86400;
  const long long rest = write_time % 86400;
  const Civil date = CivilFromDays(days);
  char text[48];
  std::snprintf(text, sizeof text, " (%.2u.%.2u.%.2lld %.2lld:%.2lld:%.2lld)", date.day, date.month,
                date.year, rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

}  // namespace rlv::config

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rlv::config {

// The configuration file ".fcg", little-endian:
//   0  2  "RL"
//   2  1  device type 8 (a reader compares only the low four bits)
//   3  1  index of the last record (number of records - 1); written as 1
//   4  12 zero
//   16    records, back to back: type (1 = first record, 2 = second record,
//         anything else is skipped), u16 data length L, L bytes of data.
namespace fcg {
constexpr size_t kHeaderSize = 16;
constexpr size_t kRecordHeadSize = 3;
constexpr size_t kBlockSize = 512;
constexpr uint8_t kMagic0 = 'R';
constexpr uint8_t kMagic1 = 'L';
constexpr uint8_t kDeviceType = 8;
constexpr uint8_t kTypeBlock1 = 1;
constexpr uint8_t kTypeBlock2 = 2;
// The file this program writes: header and two records of 512 bytes.
constexpr size_t kFileSize = kHeaderSize + 2 * (kRecordHeadSize + kBlockSize);  // 1046
constexpr size_t kBlock1At = kHeaderSize + kRecordHeadSize;                     // 19
constexpr size_t kBlock2Head = kBlock1At + kBlockSize;                          // 531
constexpr size_t kBlock2At = kBlock2Head + kRecordHeadSize;                     // 534
// Record positions are counted in 16 bits, so nothing past this many bytes
// from the start of a file can ever be read.
constexpr size_t kReach = 0x10000 + kBlockSize;
}  // namespace fcg

using Block = std::array<uint8_t, fcg::kBlockSize>;

// The whole file for the two records.
std::vector<uint8_t> BuildConfigFile(const Block& block1, const Block& block2);

enum class FileVerdict {
  kLoaded,         // the records the file holds have been copied
  kNotConfigFile,  // wrong magic or device type, or shorter than its header: nothing copied
};

// Copies the records of a file image (the file's first bytes, at most
// fcg::kReach) into the two blocks. The number of records in byte 3 is signed
// (0x80 and above: none); each record's length only moves the position to the
// next one, which wraps at 16 bits; a record of type 1 or 2 always fills
// 512 bytes from its data start as far as the file goes, and the rest of the
// block keeps its content. A record head cut off by the end of the file ends
// the records. Neither signatures nor checksums of the records are checked.
FileVerdict ApplyConfigFile(const std::vector<uint8_t>& file, Block& block1, Block& block2);

// Offset and size of the build time in the first record: local wall-clock time
// counted in seconds since 1970-01-01 00:00:00 without any time-zone shift.
constexpr size_t kWriteTimeOffset = 349;
// Offset of the configuration password (u16) in the first record.
constexpr size_t kConfigPasswordOffset = 5;

// " (DD.MM.YYYY hh:mm:ss)" for a build time.
std::string BuildStamp(uint32_t write_time);

}  // namespace rlv::config

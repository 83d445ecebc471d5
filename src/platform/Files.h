#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace rlv::platform {

// Binary files read from their start and replaced as a whole.
class IFiles {
 public:
  virtual ~IFiles() = default;
  // At most `max_bytes` bytes from the start of the file; nullopt when it cannot be opened or read.
  virtual std::optional<std::vector<uint8_t>> Read(const std::string& path, size_t max_bytes) = 0;
  // Writes `content` to a temporary file in the folder of `path`, flushes it and only then puts it
  // in the place of `path`. On any failure an existing file stays byte for byte as it was, the
  // temporary file is removed and false is returned.
  virtual bool Replace(const std::string& path, const std::vector<uint8_t>& content) = 0;
};

// Real files through the standard library.
class StdFiles : public IFiles {
 public:
  // The temporary file is written in pieces of at most this many bytes.
  static constexpr size_t kPiece = 256;

  std::optional<std::vector<uint8_t>> Read(const std::string& path, size_t max_bytes) override;
  bool Replace(const std::string& path, const std::vector<uint8_t>& content) override;

 protected:
  // Appends one piece to the open temporary file; false when the write failed.
  virtual bool WritePiece(std::ostream& out, const uint8_t* data, size_t size);
};

// The program's one instance of the real file service.
StdFiles& DefaultFiles();

}  // namespace rlv::platform

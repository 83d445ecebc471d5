#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace rlv::platform {

// Binary files read whole and replaced as a whole.
class IFiles {
 public:
  virtual ~IFiles() = default;
  // The whole file. nullopt, with the reason in `why` when given, when it is
  // not a regular file (a folder, a FIFO, a device: never opened, so nothing
  // blocks), is larger than `max_bytes`, or cannot be opened or read. A file
  // that does not exist leaves `why` empty.
  virtual std::optional<std::vector<uint8_t>> Read(const std::string& path, size_t max_bytes,
                                                   std::string* why = nullptr) = 0;
  // Writes `content` to a temporary file in the folder of `path`, flushes it
  // to the disk and only then puts it in the place of `path`. A target that is
  // not a regular file or that the user may not write is refused. On any
  // failure an existing file stays byte for byte as it was, the temporary file
  // is removed, `why` (when given) says why and false is returned.
  virtual bool Replace(const std::string& path, const std::vector<uint8_t>& content,
                       std::string* why = nullptr) = 0;
};

// Real files through the standard library (and the system's calls where it
// has none: opening without blocking, syncing to the disk).
class StdFiles : public IFiles {
 public:
  // The temporary file is written in pieces of at most this many bytes.
  static constexpr size_t kPiece = 256;
  // Temporary files are named after their target: "<name>.tmp" and digits.
  static constexpr const char* kTempMark = ".tmp";

  std::optional<std::vector<uint8_t>> Read(const std::string& path, size_t max_bytes,
                                           std::string* why = nullptr) override;
  bool Replace(const std::string& path, const std::vector<uint8_t>& content,
               std::string* why = nullptr) override;

 protected:
  // Appends one piece to the open temporary file; false when the write failed.
  virtual bool WritePiece(std::ostream& out, const uint8_t* data, size_t size);
};

// True when `name` is one of our temporary files for the file `target_name`.
bool IsTempFileOf(const std::string& name, const std::string& target_name);

// The program's one instance of the real file service.
StdFiles& DefaultFiles();

}  // namespace rlv::platform

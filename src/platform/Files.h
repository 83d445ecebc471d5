#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rlv::platform {

// A file written beside its target and put in the target's place only once
// it is complete: the one way every file the program produces is written.
//
// Open checks the target (a regular file the user may write, or absent; a
// symbolic link, a folder, a FIFO or a device is refused with its reason) and
// creates a new temporary file in the target's folder, exclusively, without
// following links and under an unpredictable name. Commit flushes it to the
// disk and renames it over the target; a replaced file keeps its permissions.
// Until then the target stays byte for byte as it was, and a file that is
// never committed (a failure, Discard, destruction) is removed.
class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False, with the reason in Error(), when the target is refused or the
  // temporary file cannot be created.
  bool Open(const std::string& path);
  // Appends bytes to the temporary file; false, with the reason, when that fails.
  bool Write(const uint8_t* data, size_t size);
  // Puts the complete file in the target's place; false, with the reason and
  // the temporary file removed, when that fails.
  bool Commit();
  // Removes the temporary file; the target is untouched.
  void Discard();
  bool IsOpen() const;
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return target_; }

  // The temporary file's name: the target's name, kTempMark and this many digits.
  static constexpr size_t kTempDigits = 16;

  // The open temporary file, as the system knows it.
  struct Temp;

 private:
  bool Fail(const std::string& reason);

  std::string target_;
  std::string error_;
  std::unique_ptr<Temp> temp_;
};

// How an append to a log file ended.
enum class AppendResult {
  kWritten,  // the bytes are at the file's end
  kFull,     // the file would have grown past its limit: nothing written
  kFailed,   // refused or failed: nothing (or, on a write error, not all) written
};

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
  // Writes `content` through an OutputFile: a temporary file in the folder of
  // `path`, flushed to the disk and only then put in the place of `path`. A
  // target that is not a regular file or that the user may not write is
  // refused. On any failure an existing file stays byte for byte as it was,
  // the temporary file is removed, `why` (when given) says why and false is
  // returned.
  virtual bool Replace(const std::string& path, const std::vector<uint8_t>& content,
                       std::string* why = nullptr) = 0;
  // Appends `content` to the log file at `path`, creating it when absent, but
  // only when the file then holds at most `limit` bytes. A target that is not
  // a regular file (a symbolic link, a FIFO, a device, a folder) is refused
  // without being opened for writing.
  virtual AppendResult Append(const std::string& path, const std::vector<uint8_t>& content, uint64_t limit,
                              std::string* why = nullptr) = 0;
};

// Real files through the standard library (and the system's calls where it
// has none: exclusive creation, opening without blocking or following links,
// syncing to the disk).
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
  AppendResult Append(const std::string& path, const std::vector<uint8_t>& content, uint64_t limit,
                      std::string* why = nullptr) override;

 protected:
  // Appends one piece to the open temporary file; false when the write failed.
  virtual bool WritePiece(OutputFile& out, const uint8_t* data, size_t size);
};

// True when `name` is one of our temporary files for the file `target_name`.
bool IsTempFileOf(const std::string& name, const std::string& target_name);

// The program's one instance of the real file service.
StdFiles& DefaultFiles();

}  // namespace rlv::platform

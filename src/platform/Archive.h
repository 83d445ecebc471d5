#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rlv::platform {

// One file of an archive.
struct ArchiveEntry {
  std::string name;
  std::vector<uint8_t> content;
};

// Writing archives.
class IArchives {
 public:
  virtual ~IArchives() = default;
  // A ZIP archive of `entries` at `path`, written through an OutputFile: a
  // target that is not a regular file is refused, and on failure the target
  // stays as it was (absent or untouched) and `why` says why.
  virtual bool WriteZip(const std::string& path, const std::vector<ArchiveEntry>& entries,
                        std::string* why) = 0;
};

}  // namespace rlv::platform

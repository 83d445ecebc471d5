#pragma once

#include "platform/Archive.h"

namespace rlv::platform {

// ZIP archives through libarchive.
class LibArchiveZip : public IArchives {
 public:
  bool WriteZip(const std::string& path, const std::vector<ArchiveEntry>& entries, std::string* why) override;
};

}  // namespace rlv::platform

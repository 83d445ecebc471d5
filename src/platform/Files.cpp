#include "platform/Files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace rlv::platform {

namespace fs = std::filesystem;

std::optional<std::vector<uint8_t>> StdFiles::Read(const std::string& path, size_t max_bytes) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> data;
  uint8_t buffer[4096];
  while (data.size() < max_bytes) {
    const size_t want = std::min(sizeof buffer, max_bytes - data.size());
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(want));
    const std::streamsize got = in.gcount();
    if (got > 0) data.insert(data.end(), buffer, buffer + got);
    if (in.bad()) return std::nullopt;  // for example a folder: opens, but cannot be read
    if (!in) break;                     // end of the file
  }
  return data;
}

bool StdFiles::WritePiece(std::ostream& out, const uint8_t* data, size_t size) {
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool StdFiles::Replace(const std::string& path, const std::vector<uint8_t>& content) {
  const fs::path target = fs::u8path(path);
  std::random_device rd;
  fs::path temp = target;
  temp += ".tmp" + std::to_string(rd() % 1000000);

  auto discard = [&temp] {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  };

  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return discard();
    for (size_t at = 0; at < content.size(); at += kPiece) {
      const size_t n = std::min(kPiece, content.size() - at);
      if (!WritePiece(out, content.data() + at, n)) {
        out.close();
        return discard();
      }
    }
    out.flush();
    if (!out) {
      out.close();
      return discard();
    }
    out.close();
    if (out.fail()) return discard();
  }

  // A replaced file keeps the permissions it had.
  std::error_code ec;
  const fs::file_status old_status = fs::status(target, ec);
  if (!ec && fs::is_regular_file(old_status)) {
    std::error_code ignored;
    fs::permissions(temp, old_status.permissions(), fs::perm_options::replace, ignored);
  }

  fs::rename(temp, target, ec);
  if (ec) return discard();
  return true;
}

StdFiles& DefaultFiles() {
  static StdFiles files;
  return files;
}

}  // namespace rlv::platform

#include "platform/zip/LibArchiveZip.h"

#include <archive.h>
#include <archive_entry.h>

#include <ctime>
#include <filesystem>
#include <system_error>

namespace rlv::platform {

bool LibArchiveZip::WriteZip(const std::string& path, const std::vector<ArchiveEntry>& entries,
                             std::string* why) {
  const std::string temp = path + ".part";
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  bool ok = archive_write_open_filename(a, temp.c_str()) == ARCHIVE_OK;
  const time_t now = std::time(nullptr);
  for (const ArchiveEntry& e : entries) {
    if (!ok) break;
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_mtime(entry, now, 0);
    ok = archive_write_header(a, entry) == ARCHIVE_OK &&
         (e.content.empty() || archive_write_data(a, e.content.data(), e.content.size()) ==
                                   static_cast<la_ssize_t>(e.content.size()));
    archive_entry_free(entry);
  }
  if (!ok && why) *why = archive_error_string(a) ? archive_error_string(a) : "write error";
  if (archive_write_close(a) != ARCHIVE_OK && ok) {
    ok = false;
    if (why) *why = archive_error_string(a) ? archive_error_string(a) : "write error";
  }
  archive_write_free(a);
  std::error_code ec;
  if (ok) {
    std::filesystem::rename(std::filesystem::u8path(temp), std::filesystem::u8path(path), ec);
    if (ec) {
      ok = false;
      if (why) *why = ec.message();
    }
  }
  if (!ok) std::filesystem::remove(std::filesystem::u8path(temp), ec);
  return ok;
}

}  // namespace rlv::platform

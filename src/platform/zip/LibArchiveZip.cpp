#include "platform/zip/LibArchiveZip.h"

#include <archive.h>
#include <archive_entry.h>

#include <ctime>

#include "platform/Files.h"

namespace rlv::platform {

namespace {

// libarchive hands its output here: every byte goes into the output file.
la_ssize_t WriteToOutput(archive* a, void* client, const void* buffer, size_t length) {
  auto* out = static_cast<OutputFile*>(client);
  if (!out->Write(static_cast<const uint8_t*>(buffer), length)) {
    archive_set_error(a, 0, "%s", out->Error().c_str());
    return -1;
  }
  return static_cast<la_ssize_t>(length);
}

std::string ArchiveError(archive* a) {
  return archive_error_string(a) != nullptr ? archive_error_string(a) : "write error";
}

}  // namespace

bool LibArchiveZip::WriteZip(const std::string& path, const std::vector<ArchiveEntry>& entries,
                             std::string* why) {
  OutputFile out;
  if (!out.Open(path)) {
    if (why) *why = out.Error();
    return false;
  }
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_set_bytes_in_last_block(a, 1);  // no padding after the archive's end
  bool ok = archive_write_open(a, &out, nullptr, WriteToOutput, nullptr) == ARCHIVE_OK;
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
  std::string reason;
  if (!ok) reason = ArchiveError(a);
  if (archive_write_close(a) != ARCHIVE_OK && ok) {
    ok = false;
    reason = ArchiveError(a);
  }
  archive_write_free(a);
  if (ok && !out.Commit()) {
    ok = false;
    reason = out.Error();
  }
  if (!ok) {
    out.Discard();
    if (why) *why = reason;
  }
  return ok;
}

}  // namespace rlv::platform

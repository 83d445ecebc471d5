// The diagnostic bundle: what it holds, a trace of the link, no passwords.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <map>

#include "World.h"
#include "bundle/Bundle.h"

namespace rlv {
namespace {

std::map<std::string, std::string> ReadArchive(const std::string& path) {
  std::map<std::string, std::string> files;
  archive* a = archive_read_new();
  archive_read_support_format_zip(a);
  EXPECT_EQ(archive_read_open_filename(a, path.c_str(), 10240), ARCHIVE_OK);
  archive_entry* entry = nullptr;
  while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
    std::string content(static_cast<size_t>(archive_entry_size(entry)), '\0');
    if (!content.empty()) archive_read_data(a, content.data(), content.size());
    files[archive_entry_pathname(entry)] = content;
  }
  archive_read_free(a);
  return files;
}

TEST(DiagnosticBundle, HoldsTheTrackersStateTheTraceAndNoPassword) {
  fake::World t;
  bundle::TracingSerialPort trace(*t.env.platform.serial, [&] { return t.env.clock.Now(); });
  t.env.platform.serial = &trace;
  app::Options options;
  options.data_dir = t.env.dir.Path();
  t.window = std::make_unique<app::MainWindow>(t.env.platform, options);
  t.env.dir.Write("config.ini",
                  "[Settings]\nLanguage=english\nproxy_password=secret\n[Passes]\n866000000000001=4321\n");
  t.Start();
  t.env.clock.Advance(1500);
  ASSERT_FALSE(t.w().transfer.TrackerImei.empty());

  const std::string path = t.env.dir.File("bundle.zip");
  std::string why;
  ASSERT_TRUE(bundle::WriteArchive(t.w(), path, bundle::Collect(t.w(), trace.Trace()), &why)) << why;
  const auto files = ReadArchive(path);
  for (const char* name : {"device-record.bin", "device-record.txt", "navigation-record.bin",
                           "navigation-record.txt", "configuration.fcg", "configuration.txt", "event-log.txt",
                           "fault-log.txt", "traffic-trace.txt", "version.txt", "settings.ini"}) {
    EXPECT_EQ(files.count(name), 1u) << name;
  }
  EXPECT_EQ(files.at("configuration.fcg").size(), 1046u);
  EXPECT_NE(files.at("device-record.txt").find(t.w().transfer.TrackerImei), std::string::npos);
  EXPECT_NE(files.at("configuration.txt").find("CONFPASS = (removed)\n"), std::string::npos);
  EXPECT_NE(files.at("traffic-trace.txt").find(" tx "), std::string::npos);
  EXPECT_NE(files.at("traffic-trace.txt").find(" rx "), std::string::npos);
  const std::string& ini = files.at("settings.ini");
  EXPECT_NE(ini.find("Language=english"), std::string::npos);
  EXPECT_EQ(ini.find("secret"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("4321"), std::string::npos) << ini;
  EXPECT_NE(files.at("version.txt").find(app::MainWindow::kVersionText), std::string::npos);
  // The window goes before the traced port it uses.
  t.window.reset();
}

TEST(DiagnosticBundle, TheWindowsActionSavesTheArchiveTheUserNames) {
  fake::World t;
  t.Start();
  t.env.clock.Advance(1500);
  const std::string path = t.env.dir.File("support.zip");
  t.env.dialogs.QueueSave(path);
  t.w().controls.UserClick("SaveBundle");
  const auto files = ReadArchive(path);
  EXPECT_EQ(files.size(), 11u);
  EXPECT_EQ(files.at("traffic-trace.txt"), "(no trace)\n");  // this front end traces nothing
  EXPECT_NE(t.shown.back().find(path), std::string::npos);

  // Cancelled: nothing written, nothing shown.
  const size_t shown = t.shown.size();
  t.env.dialogs.QueueSave(std::nullopt);
  t.w().controls.UserClick("SaveBundle");
  EXPECT_EQ(t.shown.size(), shown);
}

TEST(DiagnosticBundle, AnArchiveThatCannotBeWrittenLeavesNothing) {
  fake::World t;
  std::string why;
  const std::string path = t.env.dir.Path() + "/no-such-folder/bundle.zip";
  EXPECT_FALSE(bundle::WriteArchive(t.w(), path, {{"a.txt", {'a'}}}, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace rlv

// The diagnostic bundle: what it holds, a trace of the link, no passwords.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "World.h"
#include "bundle/Bundle.h"
#include "config/ConfigFile.h"
#include "link/Bytes.h"
#include "link/Crc.h"

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

using Bytes = std::vector<uint8_t>;

// The bytes of one direction ("tx" or "rx") of a trace, in order.
Bytes Direction(const std::string& trace, const std::string& what) {
  Bytes out;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string time, direction, hex;
    words >> time >> direction;
    if (direction != what) continue;
    while (words >> hex) out.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
  }
  return out;
}

// The payloads of the complete frames with `command` in `stream`, each with
// whether its frame checksum holds.
std::vector<std::pair<Bytes, bool>> Payloads(const Bytes& stream, uint8_t command) {
  std::vector<std::pair<Bytes, bool>> out;
  for (size_t i = 0; i + 8 <= stream.size(); ++i) {
    if (std::memcmp(&stream[i], "SLRL", 4) != 0 || stream[i + 7] != command) continue;
    const size_t length = link::GetU16(&stream[i + 4]);
    if (length < 2 || i + 8 + length > stream.size()) continue;
    const bool whole = link::GetU16(&stream[i + 6 + length]) == link::Crc16(&stream[i + 6], length);
    out.emplace_back(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(i + 8),
                           stream.begin() + static_cast<std::ptrdiff_t>(i + 6 + length)),
                     whole);
  }
  return out;
}

// The record at `at` of a payload: its password blanked and its checksum whole.
void ExpectBlankedRecord(const Bytes& payload, size_t at) {
  ASSERT_GE(payload.size(), at + 512);
  EXPECT_EQ(link::GetU16(&payload[at + 5]), 0);
  EXPECT_EQ(link::GetU16(&payload[at + 510]), link::Crc16(&payload[at], 510));
}

TEST(DiagnosticBundle, TheTrackersPasswordIsInNoFileOfTheBundle) {
  constexpr uint16_t kSecret = 4321;
  sim::SimConfig locked;
  locked.password = kSecret;
  fake::World t(locked);
  config::Block record = t.sim.Record(0);
  link::PutU16(&record[5], kSecret);
  link::PutU16(&record[510], link::Crc16(record.data(), 510));
  t.sim.SetRecord(0, record);
  bundle::TracingSerialPort trace(*t.env.platform.serial, [&] { return t.env.clock.Now(); });
  t.env.platform.serial = &trace;
  app::Options options;
  options.data_dir = t.env.dir.Path();
  t.window = std::make_unique<app::MainWindow>(t.env.platform, options);
  t.env.dir.Write("config.ini", "[Passes]\n866000000000001=4321\n");
  t.Start();
  t.env.clock.Advance(3000);  // the read, refused, the remembered password, the read again
  ASSERT_EQ(link::GetU16(&t.w().config.ConfigBlock1[5]), kSecret);
  t.env.dialogs.QueueConfirm(true);
  t.w().transfer.LoadToDevice();
  t.env.clock.Advance(3000);

  const auto files = bundle::Collect(t.w(), trace.Trace());
  std::map<std::string, Bytes> bundle;
  for (const auto& e : files) bundle[e.name] = e.content;
  const std::string text = trace.Trace(),
                    redacted(bundle["traffic-trace.txt"].begin(), bundle["traffic-trace.txt"].end());
  // Each place the password travels, in the trace as it was and in the bundle's.
  const struct {
    const char* direction;
    uint8_t command;
    size_t record;  // where the record starts in the payload; npos: the payload is the password
  } kPlaces[] = {{"tx", 37, std::string::npos}, {"tx", 33, 3}, {"rx", 32, 4}};
  for (const auto& place : kPlaces) {
    SCOPED_TRACE(place.command);
    const auto before = Payloads(Direction(text, place.direction), place.command);
    const auto after = Payloads(Direction(redacted, place.direction), place.command);
    ASSERT_EQ(after.size(), before.size());
    size_t carried = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      EXPECT_TRUE(after[i].second);  // the frame's checksum gives nothing away either
      const Bytes& payload = after[i].first;
      if (place.record == std::string::npos) {
        ASSERT_GE(payload.size(), 2u);
        carried += link::GetU16(before[i].first.data()) == kSecret;
        EXPECT_EQ(link::GetU16(payload.data()), 0);
      } else if (payload[0] == 0 && (place.command == 33 || payload[1] == 0)) {
        carried += link::GetU16(&before[i].first[place.record + 5]) == kSecret;
        ExpectBlankedRecord(payload, place.record);
      }
    }
    EXPECT_GE(carried, 1u);  // the trace as it was did carry it
  }
  // The configuration's copy: the password blanked, the record still whole.
  config::Block one{}, two{};
  config::ApplyConfigFile(bundle["configuration.fcg"], one, two);
  ExpectBlankedRecord(Bytes(one.begin(), one.end()), 0);
  const std::string conf(bundle["configuration.txt"].begin(), bundle["configuration.txt"].end());
  EXPECT_NE(conf.find("CONFPASS = (removed)\n"), std::string::npos);
  EXPECT_EQ(conf.find("raw.record1.crc"), std::string::npos);
  t.window.reset();
}

TEST(DiagnosticBundle, ATraceWhoseBeginningWasDroppedLosesTheHeadlessBytesAndNoTraceBreaksIt) {
  const std::string trace = std::string(bundle::TracingSerialPort::kDropped) +
                            "        10 rx E1 10 4C\n"
                            "        11 rx 53 4C 52 4C 03 00 55 25 00 2C 3E\n";
  EXPECT_EQ(bundle::TraceWithoutPassword(trace), std::string(bundle::TracingSerialPort::kDropped) +
                                                     "        10 rx 00 00 00\n"
                                                     "        11 rx 53 4C 52 4C 03 00 55 25 00 2C 3E\n");

  // Any trace, frames cut anywhere and lengths of every size: same size, nothing outside it touched.
  std::mt19937 gen(7);
  for (int round = 0; round < 200; ++round) {
    std::string random = round % 2 ? std::string(bundle::TracingSerialPort::kDropped) : std::string();
    for (int line = 0; line < 6; ++line) {
      random += std::string("         1 ") + (gen() % 2 ? "tx" : "rx");
      const int count = static_cast<int>(gen() % 40);
      for (int i = 0; i < count; ++i) {
        static const uint8_t kPick[] = {'S', 'L', 'R', 'L', 0x00, 0x02, 0x04, 0xAA, 0x55, 0x20, 0x21, 0x25};
        char hex[4];
        const auto byte = static_cast<unsigned>(gen() % 3 ? kPick[gen() % sizeof kPick] : gen() % 256);
        std::snprintf(hex, sizeof hex, " %02X", byte);
        random += hex;
      }
      random += "\n";
    }
    EXPECT_EQ(bundle::TraceWithoutPassword(random).size(), random.size());
  }
}

TEST(DiagnosticBundle, OnlyARegularFileOrNothingIsReplacedByTheArchive) {
  fake::World t;
  const std::string victim = t.env.dir.File("victim.txt");
  t.env.dir.Write("victim.txt", "keep me");
  const struct {
    const char* name;
    std::function<void(const std::string& path)> plant;
    std::filesystem::file_type stays;
  } kCases[] = {
      {"a link planted at the temporary name",
       [&](const std::string& path) { std::filesystem::create_symlink(victim, path + ".part"); },
       std::filesystem::file_type::regular},
      {"a link in the target's place",
       [&](const std::string& path) { std::filesystem::create_symlink(victim, path); },
       std::filesystem::file_type::symlink},
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
       std::filesystem::file_type::fifo},
      {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); },
       std::filesystem::file_type::directory},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = t.env.dir.File("bundle" + std::to_string(++n) + ".zip");
    c.plant(path);
    std::string why;
    const bool written = bundle::WriteArchive(t.w(), path, {{"a.txt", {'a'}}}, &why);
    EXPECT_EQ(written, c.stays == std::filesystem::file_type::regular) << why;
    EXPECT_EQ(std::filesystem::symlink_status(path).type(), c.stays);
    EXPECT_EQ(t.env.dir.Read("victim.txt"), "keep me");
  }
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

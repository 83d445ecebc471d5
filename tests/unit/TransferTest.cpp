// The configuration file, the transfer to and from the tracker, the path label
// and the wait indicator.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>

#include "TrackerSim.h"
#include "World.h"
#include "config/ConfigFile.h"
#include "link/Bytes.h"
#include "platform/Files.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using config::Block;
using config::FileVerdict;

// 09.12.2026 12:34:56 as seconds since 1970 without a time-zone shift.
constexpr uint32_t kBuilt = 1796819696;
constexpr const char* kStamp = " (09.12.2026 12:34:56)";

Block Pattern(uint8_t seed, bool stamped = false) {
  Block b{};
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  if (stamped) link::PutU32(b.data() + config::kWriteTimeOffset, kBuilt);
  return b;
}

Bytes Record(uint8_t type, uint16_t length, const Bytes& data) {
  Bytes r{type, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Header(uint8_t last = 1, uint8_t device_type = 8) {
  Bytes h(16, 0);
  h[0] = 'R';
  h[1] = 'L';
  h[2] = device_type;
  h[3] = last;
  return h;
}

Bytes B(const Block& b) {
  return Bytes(b.begin(), b.end());
}

// Applies `file` to the blocks 1 and 2 preset to Pattern(1) and Pattern(2).
std::pair<Block, Block> Apply(const Bytes& file, FileVerdict expected = FileVerdict::kLoaded) {
  Block one = Pattern(1), two = Pattern(2);
  EXPECT_EQ(config::ApplyConfigFile(file, one, two), expected);
  return {one, two};
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

size_t FolderSize(const std::string& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(ConfigFileFormat, AWrittenFileHasTheFixedLayoutAndReadsBack) {
  const Bytes file = config::BuildConfigFile(Pattern(10), Pattern(80));
  EXPECT_EQ(file, Cat({Header(), Record(1, 512, B(Pattern(10))), Record(2, 512, B(Pattern(80)))}));
  ASSERT_EQ(file.size(), 1046u);
  EXPECT_EQ(file[531], 2);
  EXPECT_EQ(Apply(file), std::make_pair(Pattern(10), Pattern(80)));
}

TEST(ConfigFileFormat, TheRecordCountIsSignedAndTheLengthOnlyMovesOn) {
  const Bytes r1 = Record(1, 512, B(Pattern(10))), r2 = Record(2, 512, B(Pattern(80)));
  EXPECT_EQ(Apply(Cat({Header(0), r1, r2})), std::make_pair(Pattern(10), Pattern(2)));
  EXPECT_EQ(Apply(Cat({Header(0x80), r1, r2})), std::make_pair(Pattern(1), Pattern(2)));
  EXPECT_EQ(Apply(Cat({Header(0xFF), r1, r2})), std::make_pair(Pattern(1), Pattern(2)));
  // An unknown record between the two is skipped; with the index left at 1 the reader stops after it.
  const Bytes extra = Record(7, 10, Bytes(10, 0x77));
  EXPECT_EQ(Apply(Cat({Header(2), r1, extra, r2})), std::make_pair(Pattern(10), Pattern(80)));
  EXPECT_EQ(Apply(Cat({Header(1), r1, extra, r2})), std::make_pair(Pattern(10), Pattern(2)));

  // A first record claiming 100 bytes still fills 512 from its data start; the
  // next head is looked for 100 bytes after that start.
  const Bytes file = Cat({Header(), Record(1, 100, Bytes(100, 0x41)), r2});
  const auto [one, two] = Apply(file);
  EXPECT_EQ(B(one), Bytes(file.begin() + 19, file.begin() + 19 + 512));
  EXPECT_EQ(one[100], 2);
  EXPECT_EQ(two, Pattern(80));
}

TEST(ConfigFileFormat, HeaderChecksAndShortFiles) {
  Bytes file = config::BuildConfigFile(Pattern(10), Pattern(80));
  file[2] = 0x18;  // only the low four bits count
  EXPECT_EQ(Apply(file).first, Pattern(10));
  for (auto [at, value] : {std::pair{2, 0x07}, {2, 0x09}, {0, 'r'}, {1, 'X'}}) {
    Bytes bad = file;
    bad[static_cast<size_t>(at)] = static_cast<uint8_t>(value);
    EXPECT_EQ(Apply(bad, FileVerdict::kNotConfigFile), std::make_pair(Pattern(1), Pattern(2)));
  }
  Apply(Bytes(file.begin(), file.begin() + 15), FileVerdict::kNotConfigFile);
  Apply({}, FileVerdict::kNotConfigFile);

  // A record cut off by the end of the file fills what is there; the rest keeps its content.
  file.resize(534 + 40);
  const Block two = Apply(file).second, before = Pattern(2);
  EXPECT_EQ(Bytes(two.begin(), two.begin() + 40), Bytes(file.begin() + 534, file.end()));
  EXPECT_EQ(Bytes(two.begin() + 40, two.end()), Bytes(before.begin() + 40, before.end()));
  file.resize(532);  // a head cut off after its type ends the records
  EXPECT_EQ(Apply(file).second, Pattern(2));
}

TEST(ConfigFileFormat, PositionsWrapAt16Bits) {
  // Skipping 65517 bytes from offset 19 lands at offset 0: the header read as a
  // head of type 'R' and length 'L' + 8 * 256 = 2124 leads on to offset 2127.
  Bytes file = Cat({Header(2), Record(7, 65517, {})});
  file.resize(2127, 0);
  file = Cat({file, Record(1, 512, B(Pattern(10)))});
  EXPECT_EQ(Apply(file).first, Pattern(10));
}

TEST(ConfigFileFormat, HostileFilesStayInsideTheirBytes) {
  // Under the address sanitizer this proves every read stays inside the image.
  std::mt19937 random(1046);
  for (int round = 0; round < 400; ++round) {
    Bytes file(random() % 3000 + (round % 10 == 0 ? 66000 : 4));
    for (auto& byte : file) byte = static_cast<uint8_t>(random());
    file[0] = 'R', file[1] = 'L', file[2] = 8, file[3] = static_cast<uint8_t>(random() % 128);
    Block one{}, two{};
    config::ApplyConfigFile(file, one, two);
  }
}

TEST(ConfigFileFormat, TheBuildStampIsAPlainCalendarDate) {
  EXPECT_EQ(config::BuildStamp(kBuilt), kStamp);
  EXPECT_EQ(config::BuildStamp(0), " (01.01.1970 00:00:00)");
  EXPECT_EQ(config::BuildStamp(1709251199), " (29.02.2024 23:59:59)");
  EXPECT_EQ(config::BuildStamp(0xFFFFFFFFu), " (07.02.2106 06:28:15)");
}

constexpr const char* kLanguage =
    "[Messages]\nM0=По умолчанию//\\ Default\nM1=Из прибора//\\ From the tracker\nM46=Не сохранить//\\ No\n";

struct Files : fake::World {
  explicit Files(bool language = false) : World({}, false) {
    if (language) env.dir.Write("language.lng", kLanguage);
  }
  config::Transfer& T() { return w().transfer; }
  std::string Label() { return w().controls["LConfigPath"].Text(); }
  std::string Shown() { return w().controls["MESLABEL"].Text(); }
  std::string Msg(int n) { return w().messages.GetMessageA(n); }
  std::string File(const std::string& name) { return env.dir.File(name); }
};

// The temporary file's write fails once half of it is on the disk.
struct FailHalfWay : platform::StdFiles {
  size_t written = 0;
  bool WritePiece(platform::OutputFile& out, const uint8_t* data, size_t size) override {
    if (written >= 1046 / 2) return false;
    written += size;
    return StdFiles::WritePiece(out, data, size);
  }
};

TEST(ConfigFileSave, SaveThenOpenGivesBackTheRecordsThePagesAndTheStamp) {
  Files f;
  f.env.clock.Advance(7000);
  f.w().controls["CONFPASS"].SetText("4321");
  const std::string path = f.File("round.fcg");
  f.env.dialogs.QueueSave(path);
  f.T().SaveConfig();
  EXPECT_EQ(f.env.dialogs.LastSaveSuggestion(), f.File("configuration.fcg"));
  const Block one = f.w().config.ConfigBlock1, two = f.w().config.ConfigBlock2;
  EXPECT_EQ(ReadAll(path), config::BuildConfigFile(one, two));
  EXPECT_EQ(link::GetU16(one.data() + config::kConfigPasswordOffset), 4321);
  EXPECT_EQ(f.Label(), path + " (09.12.2026 12:00:07)");  // built by the save, on the fake clock
  EXPECT_EQ(FolderSize(f.env.dir.Path()), 1u);

  f.w().config.ConfigBlock1.fill(0x5A);
  f.w().config.ConfigBlock2.fill(0xA5);
  f.w().controls["CONFPASS"].SetText("1");
  f.T().ConfigPath = "elsewhere";
  f.env.dialogs.QueueOpen(path);
  f.T().OpenConfig();
  EXPECT_EQ(f.w().config.ConfigBlock1, one);
  EXPECT_EQ(f.w().config.ConfigBlock2, two);
  EXPECT_EQ(f.w().controls["CONFPASS"].Text(), "4321");
  EXPECT_EQ(f.T().ConfigPath, path);
}

TEST(ConfigFileSave, AWriteThatFailsHalfWayLeavesThePreviousFileByteForByte) {
  Files f(true);
  const std::string path = f.File("vehicle.fcg");
  const Bytes previous = config::BuildConfigFile(Pattern(1), Pattern(2));
  WriteAll(path, previous);
  FailHalfWay failing;
  f.env.platform.files = &failing;
  f.env.dialogs.QueueSave(path);
  f.T().SaveConfig();
  EXPECT_GE(failing.written, 1046u / 2);
  EXPECT_EQ(ReadAll(path), previous);
  EXPECT_EQ(FolderSize(f.env.dir.Path()), 2u);  // the temporary file is gone
  // The message names the file and the reason.
  EXPECT_EQ(f.Shown(), "Не сохранить: " + path + " (write error)");
  EXPECT_EQ(f.T().ConfigPath, "default");

  // A folder in the way: the rename fails. A missing folder: the file cannot be created.
  f.env.platform.files = nullptr;
  std::filesystem::create_directory(f.File("taken.fcg"));
  EXPECT_FALSE(f.T().SaveConfigToFile(f.File("taken.fcg")));
  EXPECT_FALSE(f.T().SaveConfigToFile(f.File("no/such/x.fcg")));
  EXPECT_EQ(FolderSize(f.env.dir.Path()), 3u);
}

TEST(ConfigFileSave, AFieldThatDoesNotConvertLeavesTheFileAndShowsOnlyItsError) {
  Files f;
  const std::string path = f.File("keep.fcg");
  const Bytes previous = config::BuildConfigFile(Pattern(1), Pattern(2));
  WriteAll(path, previous);
  f.w().controls["CONFPASS"].SetText("12x");
  f.env.dialogs.QueueSave(path);
  f.T().SaveConfig();
  EXPECT_EQ(ReadAll(path), previous);
  ASSERT_EQ(f.shown.size(), 1u);
  EXPECT_NE(f.shown[0].find("12x"), std::string::npos);
  EXPECT_EQ(f.T().WriteConfigFile(path), config::Transfer::SaveResult::kNotBuilt);
  EXPECT_EQ(f.T().ConfigPath, "default");
}

TEST(ConfigFileOpen, UnreadableAndForeignFiles) {
  Files f;
  const std::string good = f.File("good.fcg");
  WriteAll(good, config::BuildConfigFile(Pattern(1, true), Pattern(2)));
  ASSERT_TRUE(f.T().OpenFromFile(good));

  EXPECT_FALSE(f.T().OpenFromFile(f.File("missing.fcg")));
  EXPECT_FALSE(f.T().OpenFromFile(f.env.dir.Path()));  // a folder opens but cannot be read
  EXPECT_TRUE(f.shown.empty());
  f.env.dialogs.QueueOpen(f.File("missing.fcg"));
  f.T().OpenConfig();
  EXPECT_EQ(f.Shown(), f.Msg(45) + ": " + f.File("missing.fcg"));
  f.env.dialogs.QueueOpen(f.env.dir.Path());
  f.T().OpenConfig();
  EXPECT_EQ(f.Shown(), f.Msg(45) + ": " + f.env.dir.Path() + " (a folder, not a file)");

  Bytes foreign = config::BuildConfigFile(Pattern(50), Pattern(60));
  foreign[1] = 'X';
  WriteAll(f.File("bad.fcg"), foreign);
  EXPECT_TRUE(f.T().OpenFromFile(f.File("bad.fcg")));
  EXPECT_EQ(f.Shown(), f.Msg(126));
  EXPECT_EQ(f.w().config.ConfigBlock1, Pattern(1, true));
  EXPECT_EQ(f.T().ConfigPath, good);
  EXPECT_EQ(f.Label(), good + kStamp);

  // No records at all: the pages are still refreshed and the path changes.
  f.w().controls["CONFPASS"].SetText("55");
  foreign[1] = 'L';
  foreign[3] = 0x80;
  WriteAll(f.File("none.fcg"), foreign);
  EXPECT_TRUE(f.T().OpenFromFile(f.File("none.fcg")));
  EXPECT_EQ(f.w().controls["CONFPASS"].Text(), std::to_string(link::GetU16(Pattern(1).data() + 5)));
  EXPECT_EQ(f.Label(), f.File("none.fcg") + kStamp);
}

TEST(ConfigFileOpen, AFifoOrAnOversizedFileIsRefusedUnread) {
  Files f;
#ifndef _WIN32  // no FIFOs on Windows; its devices: Paths.DevicesAreNotFiles
  const std::string fifo = f.File("pipe.fcg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opening a FIFO for reading would wait for a writer for ever.
  f.env.dialogs.QueueOpen(fifo);
  f.T().OpenConfig();
  EXPECT_EQ(f.Shown(), f.Msg(45) + ": " + fifo + " (not a regular file)");
#endif

  Bytes big = config::BuildConfigFile(Pattern(1), Pattern(2));
  big.resize(config::fcg::kReach + 1);
  WriteAll(f.File("big.fcg"), big);
  EXPECT_FALSE(f.T().OpenFromFile(f.File("big.fcg")));
  EXPECT_NE(f.T().LastFileError.find("larger than"), std::string::npos);
  big.resize(config::fcg::kReach);
  WriteAll(f.File("big.fcg"), big);
  EXPECT_TRUE(f.T().OpenFromFile(f.File("big.fcg")));
  EXPECT_EQ(f.w().config.ConfigBlock1, Pattern(1));
}

TEST(ConfigFileOpen, ARememberedFileThatCannotBeReadIsReportedAtStart) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a FIFO; Windows has none (its devices: Paths.DevicesAreNotFiles)";
#else
  fake::World world;
  const std::string fifo = world.env.dir.File("last.fcg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  world.env.dir.Write("config.ini", "[Settings]\nFile_configuration=" + fifo + "\n");
  world.Start();
  ASSERT_FALSE(world.shown.empty());
  EXPECT_NE(world.shown.front().find(fifo + " (not a regular file)"), std::string::npos);
  // The reset ran instead.
  EXPECT_EQ(world.w().controls["LConfigPath"].Text(), world.w().messages.GetStringOr("Messages", "M0", ""));
#endif
}

TEST(ConfigFileSave, ARefusedTargetIsNamedWithItsReasonAndKept) {
  Files f;
  const std::string path = f.File("locked.fcg");
  const Bytes previous = config::BuildConfigFile(Pattern(1), Pattern(2));
  WriteAll(path, previous);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  f.env.dialogs.QueueSave(path);
  f.T().SaveConfig();
  EXPECT_EQ(ReadAll(path), previous);
  EXPECT_EQ(f.Shown().rfind(f.Msg(46) + ": " + path + " (", 0), 0u) << f.Shown();
  EXPECT_EQ(f.T().ConfigPath, "default");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);

#ifndef _WIN32  // no FIFOs on Windows; its devices: Paths.DevicesAreNotFiles
  const std::string fifo = f.File("pipe.fcg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(f.T().SaveConfigToFile(fifo));
  EXPECT_EQ(f.T().LastFileError, "not a regular file");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
#endif
}

TEST(ConfigFileSave, ASymbolicLinkIsRefusedAndNeitherItNorWhereItPointsChanges) {
  Files f;
  const std::string victim = f.File("victim.fcg");
  WriteAll(victim, Bytes(10, 7));
  for (const std::string& pointee : {victim, f.File("not-yet.fcg")}) {
    SCOPED_TRACE(pointee);
    const std::string link = f.File("link.fcg");
    std::filesystem::remove(link);
    std::error_code ec;
    std::filesystem::create_symlink(pointee, link, ec);
#ifdef _WIN32
    if (ec)
      GTEST_SKIP() << ec.message() << " (Windows links: Paths.DevicesFoldersAndReadOnlyFilesAreRefused)";
#endif
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_FALSE(f.T().SaveConfigToFile(link));
    EXPECT_EQ(f.T().LastFileError, "a symbolic link, not a file");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
  }
  EXPECT_EQ(ReadAll(victim), Bytes(10, 7));
  EXPECT_FALSE(std::filesystem::exists(f.File("not-yet.fcg")));
  EXPECT_EQ(FolderSize(f.env.dir.Path()), 2u);  // no temporary file left
}

TEST(ConfigFileSave, TemporaryFilesLeftByAnInterruptedSaveAreRemoved) {
  Files f;
  const std::string path = f.File("job.fcg");
  WriteAll(path + ".tmp123456", Bytes(100, 1));
  WriteAll(path + ".tmp7", Bytes(10, 1));
  WriteAll(path + ".tmpx", Bytes(10, 1));            // not one of ours
  WriteAll(f.File("other.fcg.tmp1"), Bytes(10, 1));  // another file's
  ASSERT_TRUE(f.T().SaveConfigToFile(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp123456"));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp7"));
  EXPECT_TRUE(std::filesystem::exists(path + ".tmpx"));
  EXPECT_TRUE(std::filesystem::exists(f.File("other.fcg.tmp1")));
  EXPECT_EQ(ReadAll(path).size(), 1046u);
}

TEST(ConfigPathLabel, DefaultDeviceAndFile) {
  Files f;
  link::PutU32(f.w().config.ConfigBlock1.data() + config::kWriteTimeOffset, kBuilt);
  f.T().SetConfigPath("device");  // messages 0 and 1 default to empty texts
  EXPECT_EQ(f.Label(), kStamp);
  f.env.dir.Write("language.lng", kLanguage);
  f.T().SetConfigPath("/data/truck 7.fcg");
  EXPECT_EQ(f.Label(), std::string("/data/truck 7.fcg") + kStamp);
  f.T().SetConfigPath("device");
  EXPECT_EQ(f.T().ConfigPath, "/data/truck 7.fcg");
  EXPECT_EQ(f.Label(), std::string("Из прибора") + kStamp);
  f.T().SetConfigPath("default.fcg");
  EXPECT_EQ(f.T().ConfigPath, "default.fcg");
  EXPECT_EQ(f.Label(), "По умолчанию");
}

TEST(ConfigStart, OpensTheRememberedFileOrBuildsTheDefaults) {
  Files f(true);
  WriteAll(f.File("last.fcg"), config::BuildConfigFile(Pattern(1, true), Pattern(2)));
  f.env.dir.Write("config.ini", "[Settings]\nFile_configuration=last.fcg\n");  // beside the program
  f.Start();
  EXPECT_EQ(f.w().config.ConfigBlock2, Pattern(2));
  EXPECT_EQ(f.Label(), std::string("last.fcg") + kStamp);

  Files none(true);
  none.Start();  // no settings: "default" does not exist
  EXPECT_EQ(none.T().ConfigPath, "default.fcg");
  EXPECT_EQ(none.Label(), "По умолчанию");
}

TEST(WaitIndicator, TimedWaitProgressAndStop) {
  Files f;
  config::Transfer& t = f.T();
  ui::ControlModel& c = f.w().controls;
  t.StartWait(15, 0, "Жду");
  EXPECT_TRUE(c["MESPANEL"].Visible());
  EXPECT_EQ(c["PageControlMes"].Index(), 3);
  EXPECT_EQ(c["Lprocess"].Text(), "Жду");
  EXPECT_EQ(t.BarSegments, 50);
  std::vector<int> positions;
  for (int i = 0; i < 12; ++i) {
    f.env.clock.Advance(200);
    positions.push_back(c["ProgressBar2"].Position());
  }
  EXPECT_EQ(positions, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0, 10}));
  EXPECT_EQ(t.WaitCount, 13);
  f.w().messages.MessageShow("x");  // a message replaces the page; the count goes on
  f.env.clock.Advance(200);
  EXPECT_EQ(c["PageControlMes"].Index(), 0);
  EXPECT_EQ(t.WaitCount, 14);
  t.ResumeWait();
  EXPECT_EQ(c["PageControlMes"].Index(), 3);
  EXPECT_EQ(t.WaitCount, 1);

  t.StartWait(3, 12, "0");  // progress: 25 %, caption unchanged, limit 15
  EXPECT_EQ(c["Lprocess"].Text(), "Жду");
  EXPECT_EQ(t.BarSegments, 20);
  EXPECT_EQ(t.WaitLimit, 15);
  f.env.clock.Advance(400);
  EXPECT_EQ(c["ProgressBar2"].Position(), 25);

  t.StopWait("0");
  EXPECT_EQ(t.WaitCount, 0);
  EXPECT_FALSE(t.TimerProgress->IsActive());
  EXPECT_FALSE(c["MESPANEL"].Visible());
  t.StopWait("Готово");
  EXPECT_EQ(f.Shown(), "Готово");
  EXPECT_TRUE(c["MESPANEL"].Visible());
}

// ---- With the simulated tracker ----------------------------------------------

struct Tracker : fake::World {
  Tracker() {
    Start();
    env.clock.Advance(1500);  // connected; the automatic read is over
    mark = env.serial.Writes().size();
  }
  // Payloads of the frames with `command` sent since the mark.
  std::vector<Bytes> Sent(int command) const {
    std::vector<Bytes> out;
    for (size_t i = mark; i < env.serial.Writes().size(); ++i) {
      const Bytes& frame = env.serial.Writes()[i].bytes;
      if (frame[7] == command)
        out.emplace_back(frame.begin() + 8, frame.begin() + 6 + link::GetU16(&frame[4]));
    }
    return out;
  }
  std::string Msg(int n) { return w().messages.GetMessageA(n); }
  size_t mark = 0;
};

TEST(TransferRead, ShowsMessage6FillsBothRecordsAndKeepsTheFile) {
  Tracker t;
  app::MainWindow& w = t.w();
  const std::string path = t.env.dir.File("fleet.fcg");
  WriteAll(path, config::BuildConfigFile(Pattern(1), Pattern(2)));
  ASSERT_TRUE(w.transfer.OpenFromFile(path));
  t.sim.SetRecord(0, Pattern(0x41, true));
  t.sim.SetRecord(1, Pattern(0x42));

  w.transfer.ReadFromDevice();
  EXPECT_EQ(t.Sent(32), std::vector<Bytes>{Bytes{0}});
  EXPECT_EQ(t.shown.back(), t.Msg(2));
  EXPECT_TRUE(w.transfer.TimerProgress->IsActive());
  t.env.clock.Advance(400);
  EXPECT_EQ(t.Sent(32), (std::vector<Bytes>{Bytes{0}, Bytes{1}}));
  EXPECT_EQ(w.config.ConfigBlock1, Pattern(0x41, true));
  EXPECT_EQ(w.config.ConfigBlock2, Pattern(0x42));
  EXPECT_EQ(t.shown.back(), t.Msg(6));
  EXPECT_TRUE(w.controls["MESPANEL"].Visible());
  EXPECT_FALSE(w.transfer.TimerProgress->IsActive());
  EXPECT_EQ(w.controls["LConfigPath"].Text(), kStamp);  // message 1 (empty here) and the stamp
  EXPECT_EQ(w.transfer.ConfigPath, path);
  w.FormClose();  // the next start opens the file, not the tracker's configuration
  EXPECT_EQ(t.env.ini.ReadString(w.settings.Path(), "Settings", "File_configuration", ""), path);
}

TEST(TransferWrite, SendsBlock0ThenOnAcceptanceBlock1AndRemembersThePassword) {
  Tracker t;
  app::MainWindow& w = t.w();
  Block junk;
  junk.fill(0xEE);
  t.sim.SetRecord(0, junk);
  t.sim.SetRecord(1, junk);
  t.env.clock.RunUntil([&] { return !w.transfer.TrackerImei.empty(); }, 2000);
  ASSERT_EQ(w.transfer.TrackerImei, t.sim.Config().imei);
  w.controls["CONFPASS"].SetText("4321");

  t.env.dialogs.QueueConfirm(true);  // the review of the changes after the read
  w.transfer.LoadToDevice();
  ASSERT_EQ(t.Sent(33).size(), 1u);
  EXPECT_EQ(t.Sent(33)[0], Cat({Bytes{0, 0x00, 0x02}, B(w.config.ConfigBlock1)}));
  EXPECT_EQ(t.shown.back(), t.Msg(3));
  EXPECT_EQ(t.env.ini.ReadInteger(w.settings.Path(), "Passes", t.sim.Config().imei, -1), 4321);
  t.env.clock.Advance(400);
  ASSERT_EQ(t.Sent(33).size(), 2u);
  EXPECT_EQ(t.Sent(33)[1], Cat({Bytes{1, 0x00, 0x02}, B(w.config.ConfigBlock2)}));
  EXPECT_EQ(t.sim.Record(0), w.config.ConfigBlock1);
  EXPECT_EQ(t.sim.Record(1), w.config.ConfigBlock2);
  EXPECT_EQ(t.shown.back(), t.Msg(7));

  // A refused first block sends no second one; a field that does not convert sends nothing.
  t.sim.Config().forced_status[33] = 1;
  t.mark = t.env.serial.Writes().size();
  w.transfer.LoadToDevice();
  t.env.clock.Advance(400);
  EXPECT_EQ(t.Sent(33).size(), 1u);
  w.controls["CONFPASS"].SetText("4x");
  w.transfer.LoadToDevice();
  EXPECT_EQ(t.Sent(33).size(), 1u);
  EXPECT_NE(t.shown.back().find("4x"), std::string::npos);
}

TEST(TransferRead, AnUnplugBetweenTheHalvesReplacesTheSuccessMessage) {
  Tracker t;
  app::MainWindow& w = t.w();
  // The tracker goes away once it has answered the first half.
  int reads = 0;
  t.sim.SetRequestHook([&](uint8_t command, size_t) {
    if (command == 32 && ++reads == 2)
      t.env.clock.Post(0, [&] { t.env.devices.Remove(fake::World::kTrackerPort); });
  });
  w.transfer.ReadFromDevice();
  t.env.clock.Advance(400);
  EXPECT_EQ(reads, 2);
  EXPECT_FALSE(w.link.Connected);
  EXPECT_EQ(t.shown.back(), w.messages.GetStringOr("Errors", "ReadInterrupted", "ReadInterrupted"));
  EXPECT_NE(t.shown.back(), t.Msg(6));
  EXPECT_FALSE(w.transfer.TimerProgress->IsActive());
  EXPECT_EQ(w.transfer.InProgress, config::Transfer::Exchange::kNone);
}

TEST(TransferWrite, ATrackerThatStopsAnsweringEndsTheWriteWithAMessage) {
  Tracker t;
  app::MainWindow& w = t.w();
  t.sim.SetRequestHook([&](uint8_t command, size_t) {
    if (command == 33) t.sim.Config().silent = true;
  });
  t.env.dialogs.QueueConfirm(true);  // the review of the changes after the read
  w.transfer.LoadToDevice();
  t.env.clock.Advance(2900);
  EXPECT_EQ(t.shown.back(), t.Msg(3));  // still waiting within the limit
  t.env.clock.Advance(600);
  EXPECT_EQ(t.shown.back(), w.messages.GetStringOr("Errors", "WriteInterrupted", "WriteInterrupted"));
  EXPECT_FALSE(w.transfer.TimerProgress->IsActive());
}

TEST(TransferRead, ACompletedReadIsNotCalledInterruptedByALaterUnplug) {
  Tracker t;
  app::MainWindow& w = t.w();
  w.transfer.ReadFromDevice();
  t.env.clock.Advance(400);
  ASSERT_EQ(t.shown.back(), t.Msg(6));
  t.env.devices.Remove(fake::World::kTrackerPort);
  EXPECT_EQ(t.shown.back(), t.Msg(6));
}

TEST(ConfigFileSave, WithAFullStopAsSeparatorTheDesignedAndDefaultTextsStillConvert) {
  fake::World world({}, false);
  world.env.locale.separator = '.';
  world.Start();
  EXPECT_EQ(world.w().controls["BrakingLevel"].Text(), "3.0");
  EXPECT_TRUE(world.w().transfer.SaveConfigToFile(world.env.dir.File("dot.fcg"))) << world.shown.back();
  world.w().config.Load_default();
  EXPECT_TRUE(world.w().transfer.SaveConfigToFile(world.env.dir.File("dot.fcg")));

  // Before any configuration reached the pages (the designed texts themselves).
  fake::World fresh({}, false);
  fresh.env.locale.separator = '.';
  fresh.w().FormCreate();
  EXPECT_EQ(fresh.w().controls["SkidLevel"].Text(), "3.0");
}

}  // namespace
}  // namespace rlv

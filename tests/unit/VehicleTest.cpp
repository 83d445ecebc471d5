// The J1939 catalogue and the CAN patterns, the tachograph and its DDD
// download, the transparent port and the accelerometer calibration, reached
// through the pages, the pattern and catalogue files and the simulated tracker.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "TrackerSim.h"
#include "VehicleSim.h"
#include "World.h"
#include "link/Bytes.h"
#include "vehicle/J1939.h"
#include "vehicle/Vehicle.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using vehicle::J1939Str;
using vehicle::ParseJ1939Line;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ReadBytes(const std::string& path) {
  const std::string s = ReadText(path);
  return Bytes(s.begin(), s.end());
}

const std::string kShippedCatalogue = RLVEXA_SOURCE_DIR "/data/j1939.can";

// A connected tracker with the CAN option; no automatic read.
struct Vehicle : fake::World {
  explicit Vehicle(bool catalogue = true, uint8_t options = 0x01, uint16_t password = 0)
      : World(Config(options, password)) {
    if (catalogue) env.dir.Write("j1939.can", ReadText(kShippedCatalogue));
    // These tests are about the bytes written, not the review before a write.
    env.dir.Write("config.ini", "[Settings]\nReviewBeforeWrite=0\n");
    w().link.AutoReadConfig = false;
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    env.clock.RunUntil([&] { return !w().monitoring.Imei().empty(); }, 3000);
    env.clock.Advance(100);
    mark = env.serial.Writes().size();
    shown.clear();
  }
  static sim::SimConfig Config(uint8_t options, uint16_t password) {
    sim::SimConfig config;
    config.device_options = options;
    config.password = password;
    return config;
  }
  // Payloads of the frames with `command` sent since the mark.
  std::vector<Bytes> Sent(int command) const {
    std::vector<Bytes> out;
    for (size_t i = mark; i < env.serial.Writes().size(); ++i) {
      const Bytes& frame = env.serial.Writes()[i].bytes;
      if (frame.size() >= 8 && frame[7] == command)
        out.emplace_back(frame.begin() + 8, frame.begin() + 6 + link::GetU16(&frame[4]));
    }
    return out;
  }
  void ReadConfig() {
    w().transfer.ReadFromDevice();
    env.clock.Advance(400);
  }
  void WriteConfig() {
    w().transfer.LoadToDevice();
    env.clock.Advance(400);
  }
  ui::Control& C(const std::string& name) { return w().controls[name]; }
  std::string PatternFile() { return env.dir.File("CAN_patterns.txt"); }
  std::string Summary(const std::string& spns) {
    return w().messages.GetStringOr("Strings", "Str67", "Состав параметров шаблона: ") + spns;
  }
  size_t mark = 0;
};

// ---- Catalogue lines ---------------------------------------------------------------

TEST(J1939Catalogue, ALineGivesItsFieldsInTheLineFormat) {
  const J1939Str e = ParseJ1939Line("SPN190=61444;Engine speed;4.1;16;a;b;c;d");
  EXPECT_EQ(e.Spn, 190u);
  EXPECT_EQ(e.Pgn, 61444);
  EXPECT_EQ(e.Name, "Engine speed");
  EXPECT_EQ(e.StartBit, 25);
  EXPECT_EQ(e.Length, 16);
  EXPECT_EQ(e.Spare1, "c");
  EXPECT_EQ(e.Spare2, "d");
  // SPNs run past 16 bits and keep their width.
  EXPECT_EQ(ParseJ1939Line("SPN524287=65265;x;1.1;8;;;u;v").Spn, 524287u);
  // Byte 33 bit 1 wraps at 256; a 17-bit PGN keeps its low 16 bits.
  EXPECT_EQ(ParseJ1939Line("SPN1=70000;x;33.1;8").StartBit, 1);
  EXPECT_EQ(ParseJ1939Line("SPN1=70000;x;33.1;8").Pgn, 70000 - 65536);
}

TEST(J1939Catalogue, ShortAndOddLinesGiveZerosAndEmptyTextsNeverMore) {
  for (const char* line :
       {"", "S", "SPN", "SPN=", "SPN12", "SPN=;;;", "SPN1=2", "SPN1=2;", "SPN1=2;n;9", "SPN1=2;n;9.",
        "SPN1=2;n;9.9", "SPN1=2;n;1.1;16", "=;.;;;;;", "SPN99999999999999=1;n"}) {
    SCOPED_TRACE(line);
    // Heap copies without a terminator: the sanitizer build catches a read past the end.
    const std::string copy(line);
    const std::unique_ptr<char[]> exact(new char[copy.size() + 1]);
    std::copy(copy.begin(), copy.end(), exact.get());
    (void)ParseJ1939Line(std::string_view(exact.get(), copy.size()));
  }
  EXPECT_EQ(ParseJ1939Line("SPN12").Spn, 0u);
  EXPECT_EQ(ParseJ1939Line("SPNx=5;n;1.1;8").Spn, 0u);
  EXPECT_EQ(ParseJ1939Line("SPN99999999999999=1;n").Spn, 0xFFFFFFFFu);
  const J1939Str e = ParseJ1939Line("SPN7=300;name");
  EXPECT_EQ(e.Pgn, 300);
  EXPECT_EQ(e.Name, "");  // no separator after the name: an empty field
  EXPECT_EQ(e.Length, 0);
}

TEST(J1939Catalogue, SpnTextsThatAreNotNumbersFindNothing) {
  EXPECT_EQ(vehicle::SpnFromText("190"), 190u);
  EXPECT_EQ(vehicle::SpnFromText(" 524287 "), 524287u);
  EXPECT_FALSE(vehicle::SpnFromText(""));
  EXPECT_FALSE(vehicle::SpnFromText("19x"));
  EXPECT_FALSE(vehicle::SpnFromText("-5"));
  EXPECT_FALSE(vehicle::SpnFromText("4294967296"));
  EXPECT_FALSE(vehicle::SpnFromText("99999999999999999999999"));
}

TEST(J1939Catalogue, TheShippedCatalogueIsWholeAndUnambiguous) {
  std::istringstream lines(ReadText(kShippedCatalogue));
  std::string line;
  std::set<uint32_t> spns;
  std::set<std::pair<uint16_t, uint8_t>> positions;
  std::map<uint32_t, J1939Str> by_spn;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    ASSERT_EQ(line.rfind("SPN", 0), 0u);
    const J1939Str e = ParseJ1939Line(line);
    EXPECT_TRUE(spns.insert(e.Spn).second) << "SPN twice";
    // Reading a record back finds one parameter per bus position.
    EXPECT_TRUE(positions.insert({e.Pgn, e.StartBit}).second) << "position twice";
    EXPECT_GE(e.Length, 1);
    EXPECT_LE(e.Length, 32);
    EXPECT_GE(e.StartBit, 1);
    EXPECT_LE(e.StartBit + e.Length - 1, 64) << "past the 8 data bytes";
    const size_t sep = e.Name.find("//\\ ");
    ASSERT_NE(sep, std::string::npos);
    EXPECT_GT(sep, 0u);
    EXPECT_GT(e.Name.size(), sep + 4);
    EXPECT_FALSE(e.Spare1.empty());
    by_spn[e.Spn] = e;
  }
  EXPECT_GE(spns.size(), 60u);
  for (uint32_t spn : {190u, 84u,  91u,  92u,  110u, 175u, 100u, 96u,  183u, 250u, 247u,
                       245u, 244u, 171u, 172u, 168u, 582u, 597u, 598u, 595u, 523u}) {
    EXPECT_TRUE(by_spn.count(spn)) << spn;
  }
  EXPECT_EQ(by_spn[190].Pgn, 61444);
  EXPECT_EQ(by_spn[190].StartBit, 25);
  EXPECT_EQ(by_spn[190].Length, 16);
  EXPECT_EQ(by_spn[84].Pgn, 65265);
  EXPECT_EQ(by_spn[84].StartBit, 9);
  EXPECT_EQ(by_spn[245].Pgn, 65248);
  EXPECT_EQ(by_spn[245].StartBit, 33);
  EXPECT_EQ(by_spn[245].Length, 32);
}

TEST(J1939Catalogue, RegistersAndTheirMaskBits) {
  const std::vector<std::string> items = vehicle::RegisterItems();
  ASSERT_EQ(items.size(), 33u);
  EXPECT_EQ(items.front(), "Not used");
  EXPECT_EQ(vehicle::RegisterOfItem("Reg 17 (2 bytes)"), "17");
  EXPECT_EQ(vehicle::RegisterOfItem("Reg 1 (1 byte)"), "1");
  EXPECT_EQ(vehicle::RegisterOfItem(items.back()), "88");
  EXPECT_EQ(vehicle::RegisterOfItem("Not used"), "");
  EXPECT_EQ(vehicle::RegisterOfItem("Re ("), "");
  size_t offset = 0;
  int bit = -1;
  EXPECT_TRUE(vehicle::RegisterMaskBit(8, &offset, &bit));
  EXPECT_EQ(offset, 140u);
  EXPECT_EQ(bit, 7);
  EXPECT_TRUE(vehicle::RegisterMaskBit(81, &offset, &bit));
  EXPECT_EQ(offset, 150u);
  EXPECT_EQ(bit, 0);
  EXPECT_TRUE(vehicle::RegisterMaskBit(96, &offset, &bit));
  EXPECT_EQ(bit, 15);
  for (int none : {0, 9, 16, 33, 80, 97, 255})
    EXPECT_FALSE(vehicle::RegisterMaskBit(static_cast<uint8_t>(none), &offset, &bit));
}

// ---- Patterns and the record -----------------------------------------------------------

TEST(CanPatterns, ThePatternIsWrittenAsBusPositionsAndRegisterMasks) {
  Vehicle v;
  app::MainWindow& w = v.w();
  ASSERT_TRUE(w.vehicle.J1939Available);
  ASSERT_TRUE(v.C("PanelCAN").Visible());
  v.env.dir.Write("CAN_patterns.txt",
                  "[PATTERN1]\nID0=190,17\nID1=99999999999,5\nID2=245,81\nID3=abc,3\nID4=96,8\nID5=84,\n"
                  "ID6=524288,1\n");
  ASSERT_TRUE(w.controls.UserSelect("CANBUSMODE", 1));
  EXPECT_EQ(v.C("Label19").Text(), v.Summary("190,245,96,84"));
  EXPECT_EQ(v.C("PatternIDGrid").Cell(0, 2), "99999999999");  // kept in the grid
  EXPECT_EQ(v.C("PatternIDGrid").Cell(1, 1), "16");

  v.WriteConfig();
  const auto& r = v.sim.Record(0);
  EXPECT_EQ(Bytes(r.begin() + 298, r.begin() + 303), (Bytes{0x04, 0xF0, 0x19, 0x10, 0x11}));
  EXPECT_EQ(Bytes(r.begin() + 303, r.begin() + 308), (Bytes{0xE0, 0xFE, 33, 32, 81}));
  EXPECT_EQ(Bytes(r.begin() + 308, r.begin() + 313), (Bytes{0xFC, 0xFE, 9, 8, 8}));
  EXPECT_EQ(Bytes(r.begin() + 313, r.begin() + 348), Bytes(35, 0));  // rows without both parts are left out
  EXPECT_NE(link::GetU16(r.data() + 142) & 0x0001, 0);               // register 17
  EXPECT_NE(link::GetU16(r.data() + 150) & 0x0001, 0);               // register 81
  EXPECT_NE(link::GetU16(r.data() + 140) & 0x0080, 0);               // register 8
  EXPECT_EQ(r[348], 1);
  EXPECT_NE(r[12] & 0x80, 0);
  // The file keeps every row, the uncatalogued ones too.
  EXPECT_NE(ReadText(v.PatternFile()).find("ID1=99999999999,5"), std::string::npos);
}

TEST(CanPatterns, NoPatternZeroesTheBusPositionsAndSetsNoMask) {
  Vehicle v;
  v.env.dir.Write("CAN_patterns.txt", "[PATTERN1]\nID0=190,17\n");
  v.w().controls.UserSelect("CANBUSMODE", 1);
  v.WriteConfig();
  v.w().controls.UserSelect("CANBUSMODE", 0);
  EXPECT_EQ(v.C("Label19").Text(), "");
  v.WriteConfig();
  const auto& r = v.sim.Record(0);
  EXPECT_EQ(Bytes(r.begin() + 298, r.begin() + 349), Bytes(51, 0));
  EXPECT_EQ(link::GetU16(r.data() + 142) & 0x0001, 0);
  EXPECT_EQ(r[12] & 0x80, 0);
}

TEST(CanPatterns, ReadingATrackerAndWritingItBackKeepsItsCanParameters) {
  Vehicle v;
  app::MainWindow& w = v.w();
  v.env.dir.Write("CAN_patterns.txt",
                  "; the fleet's patterns\n[PATTERN1]\nID0=110,2\n[PATTERN2]\nID0=100,3\nID1=183,4\n");
  auto record = v.sim.Record(0);
  sim::PutCanParams(record,
                    {{0x04, 0xF0, 25, 16, 17},  // 190 engine speed
                     {0xF1, 0xFE, 9, 16, 18},   // 84 wheel-based speed
                     {0xE0, 0xFE, 33, 32, 81},  // 245 total distance
                     {0xFC, 0xFE, 9, 8, 1},     // 96 fuel level
                     {0xF1, 0xFE, 29, 2, 2}},   // 597 brake switch
                    2);
  v.sim.SetRecord(0, record);

  v.ReadConfig();
  EXPECT_EQ(v.C("CANBUSMODE").Index(), 2);
  // The summary names what the tracker holds now, not what the file held.
  EXPECT_EQ(v.C("Label19").Text(), v.Summary("190,84,245,96,597"));
  const std::string file = ReadText(v.PatternFile());
  EXPECT_NE(file.find("ID0=190,17"), std::string::npos);
  EXPECT_NE(file.find("ID4=597,2"), std::string::npos);
  EXPECT_NE(file.find("ID5=,"), std::string::npos);
  EXPECT_NE(file.find("[PATTERN1]\nID0=110,2"), std::string::npos);  // the other sections stay
  EXPECT_NE(file.find("; the fleet's patterns"), std::string::npos);

  v.WriteConfig();
  const auto& back = v.sim.Record(0);
  EXPECT_EQ(Bytes(back.begin() + 298, back.begin() + 348), Bytes(record.begin() + 298, record.begin() + 348));
  EXPECT_EQ(back[348], 2);
  EXPECT_EQ(w.config.ConfigBlock1[348], 2);
}

TEST(CanPatterns, APatternNumberNoPatternHasReadsAsNone) {
  Vehicle v;
  auto record = v.sim.Record(0);
  sim::PutCanParams(record, {{0x04, 0xF0, 25, 16, 17}}, 7);
  v.sim.SetRecord(0, record);
  v.ReadConfig();
  EXPECT_EQ(v.C("CANBUSMODE").Index(), 0);
  EXPECT_FALSE(v.env.dir.Exists("CAN_patterns.txt"));
  v.WriteConfig();
  const auto& back = v.sim.Record(0);
  EXPECT_EQ(back[348], 0);  // never 0xFF
  EXPECT_EQ(back[12] & 0x80, 0);
  EXPECT_EQ(Bytes(back.begin() + 298, back.begin() + 303), Bytes(5, 0));
}

TEST(CanPatterns, TwoCatalogueEntriesAtOnePositionFillTwoRows) {
  Vehicle v(false);
  v.env.dir.Write("j1939.can", "SPN10=61444;A//\\ A;4.1;16;;;;\nSPN11=61444;B//\\ B;4.1;16;;;;\n");
  v.w().vehicle.LoadJ1939Struct();
  auto record = v.sim.Record(0);
  sim::PutCanParams(record, {{0x04, 0xF0, 25, 16, 5}}, 3);
  v.sim.SetRecord(0, record);
  v.ReadConfig();
  const ui::Control& grid = v.C("PatternIDGrid");
  EXPECT_EQ(grid.Cell(0, 1), "10");
  EXPECT_EQ(grid.Cell(0, 2), "11");
  EXPECT_EQ(grid.Cell(2, 1), "5");
  EXPECT_EQ(grid.Cell(2, 2), "5");
  EXPECT_EQ(grid.Cell(3, 1), "A");
}

TEST(CanPatterns, WithoutACatalogueRowsShowOnlyTheirSpnAndRegisterAndAreNotWritten) {
  Vehicle v(false);
  EXPECT_FALSE(v.w().vehicle.J1939Available);
  EXPECT_TRUE(v.C("SPNLIST").Items().empty());
  v.env.dir.Write("CAN_patterns.txt", "[PATTERN4]\nID0=190,17\n");
  v.w().controls.UserSelect("CANBUSMODE", 4);
  EXPECT_EQ(v.C("PatternIDGrid").Cell(0, 1), "190");
  EXPECT_EQ(v.C("PatternIDGrid").Cell(2, 1), "17");
  EXPECT_EQ(v.C("PatternIDGrid").Cell(1, 1), "");
  EXPECT_EQ(v.C("Label19").Text(), v.Summary(""));
  v.WriteConfig();
  EXPECT_EQ(Bytes(v.sim.Record(0).begin() + 298, v.sim.Record(0).begin() + 303), Bytes(5, 0));
  // The catalogue loaded after the pattern was shown completes it.
  v.env.dir.Write("j1939.can", ReadText(kShippedCatalogue));
  v.w().vehicle.LoadJ1939Struct();
  EXPECT_EQ(v.C("PatternIDGrid").Cell(1, 1), "16");
  EXPECT_EQ(v.C("Label19").Text(), v.Summary("190"));
}

TEST(CanPatterns, WithoutTheCanOptionTheRecordCarriesNoBusPositions) {
  Vehicle v(true, 0x00);
  EXPECT_FALSE(v.C("PanelCAN").Visible());
  v.env.dir.Write("CAN_patterns.txt", "[PATTERN1]\nID0=190,17\n");
  v.w().controls.UserSelect("CANBUSMODE", 1);
  v.WriteConfig();
  EXPECT_EQ(Bytes(v.sim.Record(0).begin() + 298, v.sim.Record(0).begin() + 303), Bytes(5, 0));
}

TEST(CanPatternEditor, PickSpnsAndRegistersClearCancelAndSave) {
  Vehicle v;
  app::MainWindow& w = v.w();
  ui::ControlModel& c = w.controls;
  v.env.dir.Write("CAN_patterns.txt", "[PATTERN3]\nID0=110,2\n");
  c.UserSelect("CANBUSMODE", 3);
  EXPECT_EQ(v.C("Label44").Text(), "Шаблон 3");
  c.UserClick("EditPattern");
  EXPECT_TRUE(v.C("PatternPanel").Visible());

  // The SPN list over row 2.
  c.UserSelectCell("PatternIDGrid", 0, 2);
  EXPECT_TRUE(v.C("SPNLIST").Visible());
  const auto& items = v.C("SPNLIST").Items();
  const auto it =
      std::find_if(items.begin(), items.end(), [](const std::string& s) { return s.rfind("190;", 0) == 0; });
  ASSERT_NE(it, items.end());
  c.UserSelect("SPNLIST", static_cast<int>(it - items.begin()));
  const ui::Control& grid = v.C("PatternIDGrid");
  EXPECT_EQ(grid.Cell(0, 2), "190");
  EXPECT_EQ(grid.Cell(1, 2), "16");
  EXPECT_EQ(grid.Cell(3, 2), "Обороты двигателя");
  EXPECT_FALSE(v.C("SPNLIST").Visible());
  // Row 1's SPN is selected when its cell is chosen.
  c.UserSelectCell("PatternIDGrid", 0, 1);
  EXPECT_EQ(v.C("SPNLIST").Text().rfind("110;", 0), 0u);

  // Registers: one row each; a register already used leaves the row empty.
  c.UserSelectCell("PatternIDGrid", 2, 2);
  EXPECT_FALSE(v.C("SPNLIST").Visible());
  EXPECT_TRUE(v.C("REGLIST").Visible());
  c.UserSelect("REGLIST", 9);  // Reg 17
  EXPECT_EQ(grid.Cell(2, 2), "17");
  c.UserSelectCell("PatternIDGrid", 2, 1);
  EXPECT_EQ(v.C("REGLIST").Text(), "Reg 2 (1 byte)");
  c.UserSelect("REGLIST", 9);
  EXPECT_EQ(grid.Cell(2, 1), "");
  c.UserSelectCell("PatternIDGrid", 2, 2);
  c.UserSelect("REGLIST", 9);  // the row's own register again clears it
  EXPECT_EQ(grid.Cell(2, 2), "");
  c.UserSelectCell("PatternIDGrid", 2, 2);
  c.UserSelect("REGLIST", 10);
  EXPECT_EQ(grid.Cell(2, 2), "18");

  // Cancel goes back to the file; clear empties every row; the close icon saves.
  c.UserClick("Label48");
  EXPECT_EQ(grid.Cell(0, 2), "");
  EXPECT_EQ(grid.Cell(2, 1), "2");
  c.UserClick("Label45");
  EXPECT_EQ(grid.Cell(0, 1), "");
  c.UserSelectCell("PatternIDGrid", 0, 1);
  c.UserSelect("SPNLIST", static_cast<int>(it - items.begin()));
  c.UserSelectCell("PatternIDGrid", 2, 1);
  c.UserSelect("REGLIST", 9);
  c.UserClick("Image2");
  EXPECT_FALSE(v.C("PatternPanel").Visible());
  const std::string file = ReadText(v.PatternFile());
  EXPECT_NE(file.find("ID0=190,17"), std::string::npos);
  EXPECT_NE(file.find("ID9=,"), std::string::npos);
  EXPECT_EQ(v.C("Label19").Text(), v.Summary("190"));
}

TEST(CanPatternEditor, AFileThatCannotBeWrittenIsReportedAndTheEditorStaysOpen) {
  Vehicle v;
  ui::ControlModel& c = v.w().controls;
  std::filesystem::create_directory(v.PatternFile());  // in the file's place: neither read nor replaced
  c.UserSelect("CANBUSMODE", 1);
  c.UserClick("EditPattern");
  c.UserSelectCell("PatternIDGrid", 2, 1);
  c.UserSelect("REGLIST", 1);
  v.shown.clear();
  c.UserClick("Image2");
  EXPECT_TRUE(v.C("PatternPanel").Visible());
  ASSERT_FALSE(v.shown.empty());
  EXPECT_NE(v.shown.back().find("CAN_patterns.txt"), std::string::npos);
  EXPECT_EQ(v.C("PatternIDGrid").Cell(2, 1), "1");  // the edit is still there
  EXPECT_TRUE(std::filesystem::is_directory(v.PatternFile()));
}

// ---- Tachograph ----------------------------------------------------------------------

Bytes Image(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(size);
  for (uint8_t& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

struct Tacho : Vehicle {
  Tacho() : Vehicle(false) {}
  // "Чтение файла" with the save dialog answered `path`; runs until the download ends.
  void Download(const std::optional<std::string>& path, int slot = 0) {
    env.dialogs.QueueSave(path);
    w().controls.UserSelect("THSlot", slot);
    w().controls.UserClick("Button7");
    env.clock.RunUntil([&] { return w().vehicle.TachoDownloading; }, 1000);
    env.clock.RunUntil([&] { return !w().vehicle.TachoDownloading; }, 600000);
    env.clock.Advance(200);
  }
};

TEST(TachoDownload, TheSpecimenExchangeOfThreeChunks) {
  Tacho t;
  sim::VehicleSim& tacho = t.sim.Vehicle();
  tacho.DddImage = Image(1124, 1);
  tacho.ChunkSize = 512;
  const std::string path = t.env.dir.File("card.ddd");
  t.Download(path, 1);
  const std::vector<Bytes> sent = t.Sent(69);
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[0], (Bytes{3, 1, 0, 0, 0, 0}));
  EXPECT_EQ(sent[1], (Bytes{2, 1, 0, 0, 0, 0}));
  EXPECT_EQ(sent[2], (Bytes{2, 0x00, 0x02, 0, 0}));
  EXPECT_EQ(sent[3], (Bytes{2, 0x00, 0x04, 0, 0}));
  EXPECT_EQ(sent[4], (Bytes{2, 0x64, 0x04, 0, 0}));
  EXPECT_EQ(sent[5], Bytes{0xFF});
  EXPECT_EQ(sent[6], Bytes{0xFF});
  EXPECT_EQ(ReadBytes(path), tacho.DddImage);
  EXPECT_EQ(t.C("Label54").Text(), "Считано: 1124");
  ASSERT_FALSE(t.shown.empty());
  EXPECT_EQ(t.shown.back(), "Файл выгружен");
  EXPECT_EQ(t.env.dialogs.LastSaveSuggestion(), t.env.dir.File("Object_866000000000001.ddd"));
}

TEST(TachoDownload, EqualsTheTrackersImageForEveryChunkSizeThroughABusyAnswer) {
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{511}, size_t{2000}, sim::kMaxTachoChunk}) {
    SCOPED_TRACE(chunk);
    Tacho t;
    sim::VehicleSim& tacho = t.sim.Vehicle();
    tacho.DddImage = Image(chunk <= 3 ? 200 * chunk : 9000 + chunk, static_cast<unsigned>(chunk));
    tacho.ChunkSize = chunk;
    tacho.BusyAnswers = 1;
    const std::string path = t.env.dir.File("card.ddd");
    t.Download(path);
    EXPECT_EQ(ReadBytes(path), tacho.DddImage);
    EXPECT_EQ(tacho.StartSlots.size(), 2u);
    EXPECT_EQ(tacho.EndRequests, 2);
    EXPECT_EQ(t.shown.back(), "Файл выгружен");
  }
}

TEST(TachoDownload, TheBusyAnswerRestartsAfterHalfASecondWithoutBlocking) {
  Tacho t;
  t.sim.Vehicle().DddImage = Image(100, 3);
  t.sim.Vehicle().BusyAnswers = 1;
  std::vector<int64_t> starts;
  t.sim.SetRequestHook([&](uint8_t command, size_t n) {
    if (command == 69 && n == 6) starts.push_back(t.env.clock.Now());
  });
  t.Download(t.env.dir.File("card.ddd"));
  ASSERT_EQ(starts.size(), 3u);  // the file request, the start, the start again
  EXPECT_GE(starts[2] - starts[1], 500);
  EXPECT_LE(starts[2] - starts[1], 700);
  EXPECT_EQ(t.shown.back(), "Файл выгружен");
}

TEST(TachoDownload, AnErrorAnswerShowsItsCodeAndKeepsTheDownloadWaiting) {
  Tacho t;
  t.sim.Vehicle().DddImage = Image(2000, 4);
  t.sim.Vehicle().ChunkErrorAt = 512;
  t.sim.Vehicle().ChunkErrorCode = 7;
  t.env.dialogs.QueueSave(t.env.dir.File("card.ddd"));
  t.w().controls.UserClick("Button7");
  t.env.clock.Advance(2000);
  EXPECT_EQ(t.shown.back(), "Код ошибки выполнения команды тахографом 7");
  EXPECT_EQ(t.C("Label54").Text(), "");
  EXPECT_TRUE(t.w().vehicle.TachoDownloading);
  EXPECT_EQ(t.sim.Vehicle().EndRequests, 0);
}

TEST(TachoDownload, AFileThatCannotBeCreatedOrWrittenEndsTheTransfer) {
  {
    Tacho t;
    t.sim.Vehicle().DddImage = Image(600, 5);
    t.Download(t.env.dir.File("no-such-folder/card.ddd"));
    EXPECT_EQ(t.shown.back().rfind("Неудается создать файл в указанном месте: " +
                                       t.env.dir.File("no-such-folder/card.ddd") + " (",
                                   0),
              0u)
        << t.shown.back();
    EXPECT_EQ(t.sim.Vehicle().EndRequests, 2);
    EXPECT_FALSE(t.w().vehicle.TachoDownloading);
  }
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Tacho t;
  t.sim.Vehicle().DddImage = Image(600, 6);
  t.Download("/dev/full");
  EXPECT_NE(t.shown.back().find("/dev/full"), std::string::npos);
  EXPECT_NE(t.shown.back(), "Файл выгружен");
  EXPECT_EQ(t.sim.Vehicle().EndRequests, 2);
  EXPECT_FALSE(t.w().vehicle.TachoDownloading);
  EXPECT_EQ(t.sim.Vehicle().ChunkOffsets.size(), 1u);  // nothing acknowledged
}

TEST(TachoDownload, ACancelledDialogAndAStrayChunkDoNothing) {
  Tacho t;
  t.sim.Vehicle().DddImage = Image(600, 7);
  t.Download(std::nullopt);
  EXPECT_EQ(t.Sent(69).size(), 1u);
  EXPECT_FALSE(t.w().vehicle.TachoDownloading);
  const Bytes chunk = sim::BuildResponseFrame(69, {0, 0, 2, 3, 0, 1, 2, 3});
  t.w().codec.ScanFrames(chunk.data(), chunk.size());
  EXPECT_EQ(t.Sent(69).size(), 1u);
}

TEST(TachoDownload, AChunkLongerThanItsFrameWritesAndAcknowledgesWhatArrived) {
  Tacho t;
  const std::string path = t.env.dir.File("card.ddd");
  t.sim.Config().silent = true;
  t.env.dialogs.QueueSave(path);
  const Bytes ready = sim::BuildResponseFrame(69, {0, 0, 3, 0, 0});
  t.w().codec.ScanFrames(ready.data(), ready.size());
  ASSERT_TRUE(t.w().vehicle.TachoDownloading);
  const Bytes lying = sim::BuildResponseFrame(69, {0, 0, 2, 0xA0, 0x0F, 10, 20, 30});
  t.w().codec.ScanFrames(lying.data(), lying.size());
  EXPECT_EQ(t.Sent(69).back(), (Bytes{2, 3, 0, 0, 0}));
  EXPECT_EQ(t.C("Label54").Text(), "Считано: 3");
  EXPECT_FALSE(std::filesystem::exists(path));  // in its place only once complete
  const Bytes end = sim::BuildResponseFrame(69, {0, 0, 2, 0, 0});
  t.w().codec.ScanFrames(end.data(), end.size());
  EXPECT_EQ(ReadBytes(path), (Bytes{10, 20, 30}));
}

TEST(TachoFileName, KeepsOnlyTheImeiDigits) {
  EXPECT_EQ(vehicle::TachoProposedName("866000000000001"), "Object_866000000000001.ddd");
  EXPECT_EQ(vehicle::TachoProposedName(""), "Object_.ddd");
  EXPECT_EQ(vehicle::TachoProposedName("86/../..\\x12"), "Object_8612.ddd");
}

TEST(TachoRecords, StateAndVehicleTextsInMessageBoxes) {
  Tacho t;
  sim::VehicleSim& tacho = t.sim.Vehicle();
  auto& s = tacho.TachoState;
  s[0] = 3;
  s[1] = 1;
  s[2] = 2;
  s[3] = 4;
  link::PutU16(s.data() + 4, 300);
  link::PutU16(s.data() + 6, 500);
  link::PutU16(s.data() + 8, 65535);
  for (size_t i = 0; i < 16; ++i) s[10 + i] = static_cast<uint8_t>(0xA0 + i);
  link::PutU32(s.data() + 193, static_cast<uint32_t>(-5));
  s[197] = 88;
  link::PutU32(s.data() + 198, 123456);
  link::PutU32(s.data() + 202, 789);
  link::PutU32(s.data() + 206, 0x80000000u);
  t.w().controls.UserClick("Button5");
  t.env.clock.Advance(200);
  ASSERT_FALSE(t.env.dialogs.Boxes().empty());
  EXPECT_EQ(t.env.dialogs.Boxes().back(),
            "Текущий режим:3\r\nВид деят. в1/в2:1/2\r\nТип карты в1/в2:4/4\r\n"
            "Время в текущем режиме в1/в2:300/300\r\nОбщ.время управления за сутки в1/в2:500/500\r\n"
            "Непрерывное время управления в1/в2:65535/65535\r\n"
            "Номер карты в1/в2:A0A1A2A3A4A5A6A7A8A9AAABACADAEAF/A0A1A2A3A4A5A6A7A8A9AAABACADAEAF\r\n"
            "Время:-5\r\nСкорость:88\r\nДистанция:123456\r\nДистанция TRIP:789\r\nФлаги:-2147483648");
  t.w().controls.UserClick("Button6");
  t.env.clock.Advance(200);
  EXPECT_EQ(t.env.dialogs.Boxes().back(), "Регистрационный номер:A123BC77\r\nНомер VIN:XTA21099000000001");
  EXPECT_EQ(t.Sent(69), (std::vector<Bytes>{Bytes{0}, Bytes{1}}));
}

TEST(TachoRecords, ShortAndUnterminatedRecordsStayInsideTheFrame) {
  Tacho t;
  t.sim.Config().silent = true;
  const size_t boxes = t.env.dialogs.Boxes().size();
  auto answer = [&](const Bytes& p) {
    const Bytes f = sim::BuildResponseFrame(69, p);
    t.w().codec.ScanFrames(f.data(), f.size());
  };
  answer({0, 2, 0});
  ASSERT_EQ(t.env.dialogs.Boxes().size(), boxes + 1);
  EXPECT_NE(t.env.dialogs.Boxes().back().find("Флаги:0"), std::string::npos);
  answer({0, 1, 0, 0, 0, 1, 2});  // P[1] other than 2: nothing shown
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes + 1);
  Bytes vehicle{0, 2, 1, 0, 0};
  for (int i = 0; i < 20; ++i) vehicle.push_back(static_cast<uint8_t>('A' + i));  // no terminator at all
  answer(vehicle);
  EXPECT_EQ(t.env.dialogs.Boxes().back(), "Регистрационный номер:ABCDEFGHIJKLMNO\r\nНомер VIN:PQRST");
  answer({2});  // a step result without its code
  EXPECT_EQ(t.shown.back(), "Код ошибки выполнения команды тахографом 0");
  answer({12});
  EXPECT_EQ(t.shown.back(), "Тахограф не настроен. Сохраните настройки в прибор");
  answer({18});
  EXPECT_EQ(t.shown.back(), "Тахограф не готов, не подключен");
}

TEST(TransparentPort, TheBaudRateIsClampedAndWrittenBack) {
  Tacho t;
  ui::ControlModel& c = t.w().controls;
  struct Case {
    const char* typed;
    uint32_t sent;
  };
  for (const Case& k : {Case{"1200", 9600}, Case{"230400", 115200}, Case{"", 9600}, Case{"57600", 57600}}) {
    SCOPED_TRACE(k.typed);
    c.UserType("TransBaud", k.typed);
    c.UserClick("OpenTransPort");
    t.env.clock.Advance(200);
    EXPECT_EQ(t.C("TransBaud").Text(), std::to_string(k.sent));
    ASSERT_FALSE(t.sim.Vehicle().TransparentRequests.empty());
    EXPECT_EQ(t.sim.Vehicle().TransparentRequests.back().baud, k.sent);
  }
  EXPECT_EQ(t.shown.back(), t.w().messages.GetMessageA(88));
  c.UserSelect("TransPort", 2);
  t.C("TRANSTORS485").SetChecked(true);
  c.UserClick("OpenTransPort");
  t.env.clock.Advance(200);
  EXPECT_EQ(t.Sent(52).back(), (Bytes{0x82, 0x00, 0xE1, 0x00, 0x00}));
  // A refusal shows message 81; a text that is not a number sends nothing.
  t.sim.Config().forced_status[52] = 3;
  c.UserClick("OpenTransPort");
  t.env.clock.Advance(200);
  EXPECT_EQ(t.shown.back(), t.w().messages.GetMessageA(81));
  const size_t before = t.Sent(52).size();
  c.UserType("TransBaud", "fast");
  c.UserClick("OpenTransPort");
  EXPECT_EQ(t.Sent(52).size(), before);
  EXPECT_NE(t.shown.back().find("fast"), std::string::npos);
}

// ---- Calibration ----------------------------------------------------------------------

TEST(CalibrationSweep, TheWorkedExamples) {
  using vehicle::Sweep;
  using vehicle::TruncAngle;
  const float h1 = Sweep(500, 866, +1);
  EXPECT_NEAR(h1, -29.9983, 0.0005);
  EXPECT_EQ(TruncAngle(h1), -29);
  EXPECT_EQ(Sweep(0, 1000, +1), 0.0f);
  const float incline = Sweep(300, 300, -1);
  EXPECT_NEAR(incline, 45.0017, 0.0005);
  EXPECT_EQ(TruncAngle(incline), 45);
  const float back = Sweep(-300, 300, -1);
  EXPECT_NEAR(back, -44.9981, 0.0005);
  EXPECT_EQ(TruncAngle(back), -44);
  EXPECT_EQ(TruncAngle(Sweep(0, 500, -1)), 0);
  EXPECT_EQ(Sweep(0, 0, +1), 0.0f);  // nothing beats the start
  EXPECT_EQ(vehicle::MovementAngle(-300, 300), -45);
  EXPECT_EQ(vehicle::MovementAngle(0, -500), 180);
  EXPECT_EQ(vehicle::MovementAngle(500, 0), 90);
  EXPECT_EQ(vehicle::MovementAngle(0, 32767), 0);
  EXPECT_EQ(vehicle::MovementAngle(0, -32768), 180);
  EXPECT_EQ(vehicle::MovementAngle(0, 0), 0);
}

struct Calibrate : Vehicle {
  explicit Calibrate(uint16_t password = 0) : Vehicle(false, 0x01, password) {}
  // The accelerometer held at (x, y, z) until the configurator has a navigation record of it.
  void Hold(int16_t x, int16_t y, int16_t z) {
    sim.Vehicle().SetAcceleration({x, y, z});
    const size_t seen = sim.Vehicle().NavigationAnswers();
    env.clock.RunUntil([&] { return sim.Vehicle().NavigationAnswers() > seen; }, 2000);
    env.clock.Advance(100);
  }
  std::array<int16_t, 3> Stored() {
    const auto& r = sim.Record(0);
    return {static_cast<int16_t>(link::GetU16(r.data() + 361)),
            static_cast<int16_t>(link::GetU16(r.data() + 363)),
            static_cast<int16_t>(link::GetU16(r.data() + 365))};
  }
  void Click(const std::string& name) {
    w().controls.UserClick(name);
    env.clock.Advance(400);
  }
};

TEST(CalibrationSteps, TheThreeStepsAgainstTheTrackersAccelerometer) {
  Calibrate t;
  ui::ControlModel& c = t.w().controls;
  c.UserClick("Button9");
  EXPECT_TRUE(t.C("DopPanel").Visible());
  EXPECT_EQ(t.C("DopControl").Index(), 0);

  t.Hold(0, 0, 1000);
  t.Click("CalibrateStep1");
  EXPECT_EQ(t.Stored(), (std::array<int16_t, 3>{0, 0, 0}));

  t.Hold(0, 500, 866);
  t.Click("CalibrateStep1");
  EXPECT_EQ(t.Stored(), (std::array<int16_t, 3>{-29, 0, 0}));
  t.Hold(200, 500, 866);
  t.Click("CalibrateStep1");
  EXPECT_EQ(t.Stored(), (std::array<int16_t, 3>{-29, -11, 0}));

  // Inclined platform.
  t.Hold(300, 300, 900);
  t.Click("CalibrateStep3");
  EXPECT_EQ(t.Stored()[2], 45);
  t.Hold(-300, 300, 900);
  t.Click("CalibrateStep3");
  EXPECT_EQ(t.Stored()[2], -44);

  // Step 1 resets all three.
  t.Click("CalibrateStep0");
  EXPECT_EQ(t.Stored(), (std::array<int16_t, 3>{0, 0, 0}));
  // The angles travel with the configuration read back.
  t.Hold(200, 500, 866);
  t.Click("CalibrateStep1");
  t.w().vehicle.Calibration = {};
  t.ReadConfig();
  EXPECT_EQ(t.w().vehicle.Calibration, (std::array<int16_t, 3>{-29, -11, 0}));
}

TEST(CalibrationSteps, TheMovementMethodFollowsTheLargestAccelerationOnFastPolls) {
  Calibrate t;
  ui::ControlModel& c = t.w().controls;
  c.UserSelect("CalibrateStep3Type", 1);
  EXPECT_TRUE(t.w().link.FastNavPoll);
  EXPECT_EQ(t.C("CalibrateTypePanel").Index(), 1);
  const size_t before = t.sim.Vehicle().NavigationAnswers();
  t.sim.Vehicle().QueueAccelerations(
      {{0, 100, 1000}, {500, 0, 1000}, {-300, 300, 1000}, {0, 200, 1000}, {0, -600, 1000}, {0, 599, 1000}});
  t.env.clock.Advance(1000);
  // About one record every 100 ms.
  EXPECT_GE(t.sim.Vehicle().NavigationAnswers() - before, 8u);
  // (0,-600) is the largest; (0,599) after it does not replace it.
  EXPECT_EQ(t.C("Step3AngleValueByMove").Text(), "180");
  EXPECT_EQ(t.w().vehicle.MoveMaxY, -600);
  // Choosing the method again starts afresh; the edit keeps its text until a larger value.
  c.UserSelect("CalibrateStep3Type", 1);
  EXPECT_EQ(t.w().vehicle.MoveMaxY, 0);
  EXPECT_EQ(t.C("Step3AngleValueByMove").Text(), "180");
  t.sim.Vehicle().QueueAccelerations({{-300, 300, 1000}});
  t.env.clock.Advance(300);
  EXPECT_EQ(t.C("Step3AngleValueByMove").Text(), "-45");
  t.Click("CalibrateStep3");
  EXPECT_FALSE(t.w().link.FastNavPoll);
  EXPECT_EQ(t.Stored()[2], -45);
  c.UserSelect("CalibrateStep3Type", 1);
  c.UserSelect("CalibrateStep3Type", 0);
  EXPECT_FALSE(t.w().link.FastNavPoll);
}

TEST(CalibrationSteps, TheManualAngleAndATextThatIsNotANumber) {
  Calibrate t;
  ui::ControlModel& c = t.w().controls;
  c.UserSelect("CalibrateStep3Type", 2);
  c.UserSelect("A0", 7);
  EXPECT_EQ(t.C("CalibrateHandAngle").Text(), "-135");
  t.Click("CalibrateStep3");
  EXPECT_EQ(t.Stored()[2], -135);
  c.UserType("CalibrateHandAngle", "17");
  t.Click("CalibrateStep3");
  EXPECT_EQ(t.Stored()[2], 17);
  const size_t writes = t.Sent(33).size();
  c.UserType("CalibrateHandAngle", "1a");
  t.Click("CalibrateStep3");
  EXPECT_EQ(t.Sent(33).size(), writes);
  EXPECT_NE(t.shown.back().find("1a"), std::string::npos);
}

TEST(CalibrationSteps, APasswordAskedForByACalibrationRepeatsTheCalibrationWrite) {
  Calibrate t(1234);
  ui::ControlModel& c = t.w().controls;
  t.w().shell.MenuImageClick(7);  // a read first, refused: the read was the last operation
  t.env.clock.Advance(400);
  ASSERT_EQ(c["PageControlMes"].Index(), 1);
  c.UserClick("Button2");
  const size_t reads = t.Sent(32).size();
  // The configuration carries the tracker's password: the write remembers it and
  // gives it when the tracker asks; the accepted password repeats the calibration.
  c.UserType("CONFPASS", "1234");
  t.Hold(200, 500, 866);
  c.UserClick("CalibrateStep1");
  t.env.clock.Advance(1500);
  EXPECT_TRUE(t.sim.Unlocked());
  EXPECT_EQ(t.Sent(32).size(), reads);  // not the read again
  EXPECT_EQ(t.Sent(37), std::vector<Bytes>{(Bytes{0xD2, 0x04})});
  EXPECT_EQ(t.Stored(), (std::array<int16_t, 3>{-29, -11, 0}));
}

// ---- Hostile answers -------------------------------------------------------------------

TEST(VehicleFuzz, HostileTachographAndTransparentAnswersStayInsideTheFrame) {
  Tacho t;
  t.sim.Config().silent = true;
  std::mt19937 gen(1234);
  const std::string path = t.env.dir.File("fuzz.ddd");
  for (int round = 0; round < 3000; ++round) {
    if (round % 50 == 0) {
      t.env.dialogs.QueueSave(path);
      const Bytes ready = sim::BuildResponseFrame(69, {0, 0, 3, 0, 0});
      t.w().codec.ScanFrames(ready.data(), ready.size());
    }
    const size_t size = gen() % 24 == 0 ? gen() % 4000 : gen() % 12;
    Bytes p(size);
    for (uint8_t& b : p) b = static_cast<uint8_t>(gen());
    if (!p.empty() && gen() % 2 == 0) p[0] = static_cast<uint8_t>(gen() % 3);
    if (p.size() > 2 && gen() % 2 == 0) p[2] = static_cast<uint8_t>(gen() % 4);
    // Heap copy of exactly the frame: a read past it is caught by the sanitizer.
    const Bytes frame = sim::BuildResponseFrame(gen() % 8 == 0 ? 52 : 69, p);
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size()]);
    std::copy(frame.begin(), frame.end(), exact.get());
    t.w().codec.ScanFrames(exact.get(), frame.size());
    if (round % 100 == 0) t.env.clock.Advance(600);
  }
  t.env.clock.Advance(1000);
  EXPECT_LE(ReadBytes(path).size(), 3000u * 4000u);
}

TEST(VehicleFuzz, HostileRecordsAndCatalogueLines) {
  Vehicle v;
  std::mt19937 gen(99);
  v.env.dir.Write("CAN_patterns.txt", "[PATTERN1]\nID0=,\n");
  v.sim.Config().silent = true;
  for (int round = 0; round < 80; ++round) {
    auto record = v.sim.Record(0);
    for (size_t i = 298; i < 349; ++i) record[i] = static_cast<uint8_t>(gen() % 4 == 0 ? gen() % 7 : gen());
    Bytes answer(4 + record.size(), 0);  // sized once: see SimulatorTest's WritePayload
    answer[3] = 0x02;
    std::copy(record.begin(), record.end(), answer.begin() + 4);
    const Bytes frame = sim::BuildResponseFrame(32, answer);
    v.w().codec.ScanFrames(frame.data(), frame.size());
    EXPECT_GE(v.C("CANBUSMODE").Index(), 0);
    EXPECT_LE(v.C("CANBUSMODE").Index(), 5);
    v.w().transfer.LoadToDevice();
    const Bytes written = v.Sent(33).back();
    ASSERT_EQ(written.size(), 3u + 512u);
    EXPECT_LE(written[3 + 348], 5);
    EXPECT_EQ((written[3 + 12] & 0x80) != 0, written[3 + 348] != 0);
  }
  for (int round = 0; round < 2000; ++round) {
    std::string line(gen() % 40, ' ');
    for (char& ch : line) ch = "SPN0123456789=;.,/\\x\xD0"[gen() % 21];
    const std::unique_ptr<char[]> exact(new char[line.size() + 1]);
    std::copy(line.begin(), line.end(), exact.get());
    (void)ParseJ1939Line(std::string_view(exact.get(), line.size()));
  }
}

}  // namespace
}  // namespace rlv

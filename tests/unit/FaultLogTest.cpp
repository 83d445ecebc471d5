// The fault log of the testing page: blocks, the Crc8 check of each record and the grid.
#include <gtest/gtest.h>

#include <vector>

#include "TrackerSim.h"
#include "World.h"
#include "link/Bytes.h"
#include "link/Crc.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

struct Testing : fake::World {
  explicit Testing(sim::SimConfig config = {}) : World(std::move(config)) {
    w().link.AutoReadConfig = false;
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    env.clock.Advance(100);
  }
  void Answer(const Bytes& payload) {
    const Bytes frame = sim::BuildResponseFrame(177, payload);
    w().codec.ScanFrames(frame.data(), frame.size());
  }
  void Block(uint8_t index, const Bytes& data) {
    Bytes p{index, 0, 0};
    p.insert(p.end(), data.begin(), data.end());
    p.resize(3 + 512, 0);
    Answer(p);
  }
  void Fill(uint8_t value) {
    for (uint8_t b = 0; b < 8; ++b) Block(b, Bytes(512, value));
  }
  ui::Control& Grid() { return w().controls["FLOGGRID"]; }
  std::vector<std::string> Row(int row) {
    std::vector<std::string> out;
    for (int col = 0; col < 6; ++col) out.push_back(Grid().Cell(col, row));
    return out;
  }
};

Bytes Record(uint32_t time, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  Bytes r(21, 0);
  link::PutU32(r.data(), time);
  link::PutU32(r.data() + 4, a);
  link::PutU32(r.data() + 8, b);
  link::PutU32(r.data() + 12, c);
  link::PutU32(r.data() + 16, d);
  r[20] = link::Crc8(r.data(), 20);
  return r;
}

TEST(FaultLog, TheHiddenPageOpensFromTheDiagnosticLabel) {
  Testing t;
  auto& c = t.w().controls;
  ASSERT_TRUE(c.UserDblClick("Label22"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 3);
  EXPECT_EQ(t.Row(0), (std::vector<std::string>{"", "Time", "CFSR", "HFSR", "MMFAR", "BFAR"}));
  const size_t mark = t.env.serial.Writes().size();
  ASSERT_TRUE(c.UserClick("Button23"));
  ASSERT_TRUE(c.UserClick("Button24"));
  const auto& writes = t.env.serial.Writes();
  ASSERT_EQ(writes.size(), mark + 2);
  EXPECT_EQ(writes[mark].bytes[7], 177);
  EXPECT_EQ(writes[mark].bytes[8], 0);
  EXPECT_EQ(writes[mark + 1].bytes[8], 1);
}

TEST(FaultLog, AllZeroBytesPassTheCheck) {
  Testing t;
  t.Fill(0);
  t.Answer({0xFF});
  ASSERT_EQ(t.Grid().Rows(), 197);
  EXPECT_EQ(t.Row(1), (std::vector<std::string>{"1", "01.01.1970 00:00:00", "0", "0", "0", "0"}));
  EXPECT_EQ(t.Row(195)[0], "195");
  EXPECT_EQ(t.Row(196), std::vector<std::string>(6, ""));
}

TEST(FaultLog, ErasedMemoryShowsNoRecords) {
  Testing t;
  t.Fill(0xFF);
  t.Answer({0xFF});
  EXPECT_EQ(t.Grid().Rows(), 2);
  EXPECT_EQ(t.Row(1), (std::vector<std::string>{"", "Нет записей", "", "", "", ""}));
}

TEST(FaultLog, ListingStopsAtTheFirstBadRecord) {
  Testing t;
  Bytes data;
  for (uint32_t i = 0; i < 3; ++i) {
    const Bytes r = Record(1520258829 + i, 0xFFFFFFFFu, 2, 3, 4 + i);
    data.insert(data.end(), r.begin(), r.end());
  }
  Bytes bad = Record(1, 1, 1, 1, 1);
  bad[20] ^= 1;
  data.insert(data.end(), bad.begin(), bad.end());
  const Bytes good = Record(2, 2, 2, 2, 2);  // after the bad one: never listed
  data.insert(data.end(), good.begin(), good.end());
  t.Fill(0xFF);
  t.Block(0, data);
  t.Answer({0xFF});
  ASSERT_EQ(t.Grid().Rows(), 5);
  EXPECT_EQ(t.Row(1), (std::vector<std::string>{"1", "05.03.2018 14:07:09", "4294967295", "2", "3", "4"}));
  EXPECT_EQ(t.Row(3)[5], "6");
  EXPECT_EQ(t.Row(4), std::vector<std::string>(6, ""));

  // A second listing starts afresh; a block index of 8 or more, or a block
  // without its 512 bytes, changes nothing.
  Bytes short_block{0, 0, 0};
  short_block.resize(3 + 511, 0);
  t.Answer(short_block);
  t.Answer(Bytes(3 + 512, 8));
  t.Answer({0xFF});
  EXPECT_EQ(t.Grid().Rows(), 5);
  EXPECT_EQ(t.Row(1)[1], "05.03.2018 14:07:09");
}

TEST(FaultLog, TheSimulatorsRecordsTheirEraseAndAnEmptyLog) {
  sim::SimConfig config;
  config.fault_block_pace_ms = 100;  // each block read on its own
  Testing t(config);
  for (uint32_t i = 0; i < 30; ++i) t.sim.AddFaultRecord({1767225600u + i, i, 2, 3, 4});
  auto& c = t.w().controls;
  c.UserDblClick("Label22");
  c.UserClick("Button23");
  // Paced blocks: nothing listed until the end marker has come.
  for (int i = 0; i < 20 && t.Grid().Rows() == 2; ++i) {
    t.sim.Advance(100);
    t.env.clock.Advance(100);
  }
  ASSERT_EQ(t.Grid().Rows(), 32);
  EXPECT_EQ(t.Row(30), (std::vector<std::string>{"30", "01.01.2026 00:00:29", "29", "2", "3", "4"}));

  // One corrupted record in the tracker's memory ends the list before it.
  t.sim.FaultMemory()[21 * 10 + 3] ^= 0x10;
  c.UserClick("Button23");
  for (int i = 0; i < 20; ++i) {
    t.sim.Advance(100);
    t.env.clock.Advance(100);
  }
  EXPECT_EQ(t.Grid().Rows(), 12);

  c.UserClick("Button24");
  t.env.clock.Advance(100);
  EXPECT_EQ(t.sim.FaultRecordCount(), 0u);
  c.UserClick("Button23");
  for (int i = 0; i < 20; ++i) {
    t.sim.Advance(100);
    t.env.clock.Advance(100);
  }
  EXPECT_EQ(t.Row(1)[1], "Нет записей");
}

}  // namespace
}  // namespace rlv

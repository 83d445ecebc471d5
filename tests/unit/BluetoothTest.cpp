// The Bluetooth panel: scan with its countdown, the device list, pairing and
// removal by row, and the simulated tracker's Bluetooth module behind them.
#include <gtest/gtest.h>

#include <algorithm>

#include "TunnelWorld.h"
#include "World.h"
#include "link/Bytes.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

// A connected tracker; answers arrive as frames on the fake serial port.
struct Panel : fake::World {
  explicit Panel(sim::SimConfig config = {}) : fake::World(std::move(config)) {
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    Run(1000);  // the automatic read of the configuration is over
    EXPECT_TRUE(c().UserClick("Button12"));
    shown.clear();
    mark = env.serial.Writes().size();
  }
  ui::ControlModel& c() { return w().controls; }
  ui::Control& grid() { return c()["BlueScan"]; }
  // Time passes for the configurator and the simulated tracker alike.
  void Run(int ms) {
    for (int step = 0; step < ms; step += 100) {
      sim.Advance(100);
      env.clock.Advance(100);
    }
  }
  // One answer frame arrives from the tracker and is read once the line is quiet.
  void Arrive(uint8_t command, const Bytes& payload) {
    env.serial.Inject(sim::BuildResponseFrame(command, payload));
    env.clock.Advance(100);
  }
  // Payloads of the frames sent with `command` since the panel was opened.
  std::vector<Bytes> Sent(uint8_t command) const {
    std::vector<Bytes> out;
    const auto& writes = env.serial.Writes();
    for (size_t i = mark; i < writes.size(); ++i) {
      const Bytes& f = writes[i].bytes;
      if (f.size() < 10 || f[7] != command) continue;
      const size_t length = link::GetU16(f.data() + 4);
      out.emplace_back(f.begin() + 8, f.begin() + 8 + static_cast<std::ptrdiff_t>(length - 2));
    }
    return out;
  }
  std::vector<std::string> Column(int col) {
    std::vector<std::string> out;
    for (int row = 1; row < grid().Rows(); ++row) out.push_back(grid().Cell(col, row));
    return out;
  }
  size_t mark = 0;
};

TEST(BluetoothPanel, OpensWithItsDesignedContents) {
  Panel p;
  EXPECT_TRUE(p.c()["Panel26"].Visible());
  EXPECT_EQ(p.grid().Cols(), 2);
  EXPECT_EQ(p.grid().Rows(), 6);
  EXPECT_EQ(p.grid().Cell(0, 0), "№");
  EXPECT_EQ(p.grid().Cell(1, 0), "Устройство");
  EXPECT_EQ(p.c()["HFPROF"].Caption(), "HandFree profile");
  EXPECT_EQ(p.c()["HFPROF"].Items(), (std::vector<std::string>{"HF PROFILE", "HFG PROFILE"}));
  EXPECT_EQ(p.c()["HFPROF"].Index(), 1);
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");
  EXPECT_EQ(p.c()["Button17"].Text(), "Список ");
  ASSERT_TRUE(p.c().UserClick("Button13"));
  EXPECT_FALSE(p.c()["Panel26"].Visible());
}

TEST(BluetoothScan, CountsDownOnTheScanButtonAndEndsAfterThirtySeconds) {
  Panel p;
  ASSERT_TRUE(p.c().UserClick("Button14"));
  EXPECT_EQ(p.Sent(72), std::vector<Bytes>{Bytes({0x01, 0x1E})});
  EXPECT_EQ(p.w().bluetooth.ScanCountdown, 30);
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");  // until the first tick
  p.Run(1000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Скан: 30");
  p.Run(28000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Скан: 2");
  p.Run(1000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");
  EXPECT_EQ(p.w().bluetooth.ScanCountdown, 0);
  p.Run(3000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");
  // The simulated tracker found its three devices and said the scan was over.
  EXPECT_EQ(p.Column(0), (std::vector<std::string>{"1", "2", "3", "", ""}));
  EXPECT_EQ(p.Column(1), (std::vector<std::string>{"RL Headset", "Fuel Sensor BT", "Driver Phone", "", ""}));
  EXPECT_EQ(p.shown.back(), "Bluetooth: cканирование завершено");
  EXPECT_EQ(p.shown.back().substr(11, 1), "c");  // Latin
}

TEST(BluetoothScan, StopEndsTheCountdownAtOnce) {
  Panel p;
  ASSERT_TRUE(p.c().UserClick("Button14"));
  p.Run(5000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Скан: 26");
  ASSERT_TRUE(p.c().UserClick("Button15"));
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");
  EXPECT_EQ(p.w().bluetooth.ScanCountdown, 0);
  EXPECT_EQ(p.Sent(72), (std::vector<Bytes>{{0x01, 0x1E}, {0x00}}));
  p.Run(30000);
  EXPECT_EQ(p.c()["Button14"].Text(), "Сканировать");
  // Stopped before its first hit (at 7.5 s), the tracker found nothing.
  EXPECT_EQ(p.Column(0), std::vector<std::string>(5, ""));
  EXPECT_FALSE(p.sim.Bluetooth().Scanning());
  EXPECT_EQ(p.shown, std::vector<std::string>{"Bluetooth: cканирование завершено"});
}

TEST(BluetoothList, GrowsByOneRowWhenEveryRowIsTaken) {
  Panel p;
  for (uint8_t n = 1; n <= 6; ++n) p.Arrive(72, {n, 'D', static_cast<uint8_t>('0' + n), 0});
  EXPECT_EQ(p.grid().Rows(), 7);  // grown once
  p.Arrive(72, {7, 'D', '7', 0});
  ASSERT_EQ(p.grid().Rows(), 8);
  EXPECT_EQ(p.grid().Cell(0, 7), "7");
  EXPECT_EQ(p.grid().Cell(1, 7), "D7");
  EXPECT_EQ(p.grid().Cell(1, 6), "D6");
  // A new list empties the rows but keeps them; its answers fill them from the top.
  ASSERT_TRUE(p.c().UserClick("Button17"));
  EXPECT_EQ(p.Sent(74), std::vector<Bytes>{Bytes({0x02})});
  EXPECT_EQ(p.grid().Rows(), 8);
  EXPECT_EQ(p.Column(1), std::vector<std::string>(7, ""));
  p.Arrive(74, {2, 0, 4, 'P', 'h', 'o', 'n', 'e', 0});
  p.Arrive(74, {2, 1, 5, 'X', 0});  // not a list entry
  p.Arrive(74, {2, 0});             // no device number
  EXPECT_EQ(p.grid().Cell(0, 1), "4");
  EXPECT_EQ(p.grid().Cell(1, 1), "Phone");
  EXPECT_EQ(p.grid().Cell(0, 2), "");
  // A new scan empties them too.
  ASSERT_TRUE(p.c().UserClick("Button14"));
  EXPECT_EQ(p.Column(0), std::vector<std::string>(7, ""));
}

TEST(BluetoothList, StopsGrowingAt255Rows) {
  Panel p;
  for (int n = 1; n <= 260; ++n) {
    const auto number = static_cast<uint8_t>(n <= 255 ? n : n - 255);
    p.Arrive(74, {2, 0, number, 'N', 0});
  }
  EXPECT_EQ(p.grid().Rows(), 256);
  EXPECT_EQ(p.grid().Cell(0, 255), "255");
  EXPECT_TRUE(p.w().link.Connected);
}

TEST(BluetoothPair, SendsTheSelectedRowAndTheProfile) {
  Panel p;
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 2));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  ASSERT_TRUE(p.c().UserSelect("HFPROF", 0));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  EXPECT_EQ(p.Sent(73), (std::vector<Bytes>{{0x01, 0x02, 0x06}, {0x01, 0x02, 0x05}}));
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 0, 4));
  ASSERT_TRUE(p.c().UserClick("Button18"));
  EXPECT_EQ(p.Sent(73).back(), Bytes({0x00, 0x04}));
  EXPECT_TRUE(p.shown.empty());
}

TEST(BluetoothPair, WithoutADeviceRowAsksForOne) {
  Panel p;
  // Nothing selected yet, then the heading row.
  ASSERT_TRUE(p.c().UserClick("Button16"));
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 0));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  ASSERT_TRUE(p.c().UserClick("Button18"));
  EXPECT_EQ(p.shown, std::vector<std::string>(3, "Выберите устройство"));
  // Row 21 lies beyond what the tracker pairs; row 20 does not.
  for (uint8_t n = 1; n <= 21; ++n) p.Arrive(72, {n, 'B', 0});
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 0, 21));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  EXPECT_EQ(p.shown.back(), "Выберите устройство");
  EXPECT_TRUE(p.Sent(73).empty());
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 0, 20));
  ASSERT_TRUE(p.c().UserClick("Button18"));
  EXPECT_EQ(p.Sent(73), std::vector<Bytes>{Bytes({0x00, 20})});
}

TEST(BluetoothAnswers, ANameWithoutItsZeroEndsWithThePayload) {
  Panel p;
  p.Arrive(72, {3, 'A', 'B', 'C'});
  EXPECT_EQ(p.grid().Cell(0, 1), "3");
  EXPECT_EQ(p.grid().Cell(1, 1), "ABC");
  // Windows-1251 text is shown as such; line breaks do not split a row.
  p.Arrive(72, {4, 0xC4, 0xE0, '\n', 'X', 0});
  EXPECT_EQ(p.grid().Cell(1, 2), "Да X");
  // A device number without a name, and an empty answer.
  p.Arrive(72, {5});
  p.Arrive(72, {});
  EXPECT_EQ(p.grid().Cell(0, 3), "5");
  EXPECT_EQ(p.grid().Cell(1, 3), "");
  EXPECT_EQ(p.grid().Cell(0, 4), "");
  EXPECT_TRUE(p.shown.empty());
  // An overlong name is cut to what a Bluetooth name can hold.
  Bytes longer{6};
  longer.resize(1 + 600, 'L');
  p.Arrive(72, longer);
  EXPECT_EQ(p.grid().Cell(1, 4), std::string(248, 'L'));
  // The connection event's name likewise.
  p.Arrive(74, {1, 1, 'S', 'e', 't'});
  EXPECT_EQ(p.shown.back(), "Bluetooth: подключение установлено - Set");
}

TEST(ModbusAnswer, ShorterThanItsSizeIsIgnored) {
  Panel p;
  p.Arrive(57, {2, 0x00, 0x11});
  EXPECT_EQ(p.c()["MODVALUE"].Text(), "17");
  p.Arrive(57, {4, 0x01, 0x02, 0x03});
  p.Arrive(57, {2, 0x05});
  p.Arrive(57, {});
  EXPECT_EQ(p.c()["MODVALUE"].Text(), "17");
  p.Arrive(57, {4, 0x00, 0x00, 0x01, 0x00});
  EXPECT_EQ(p.c()["MODVALUE"].Text(), "256");
}

// ---- Against the simulated tracker -------------------------------------------------

TEST(BluetoothSimulator, PairsListsAndRemovesByRow) {
  Panel p;
  p.sim.Bluetooth().Devices = {"Headset A", "Sensor B"};
  p.sim.Bluetooth().Refuses = "Sensor B";
  ASSERT_TRUE(p.c().UserClick("Button14"));
  p.Run(31000);
  ASSERT_EQ(p.Column(1), (std::vector<std::string>{"Headset A", "Sensor B", "", "", ""}));
  // The second device refuses, the first pairs and connects.
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 2));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  p.Run(300);
  EXPECT_EQ(p.shown.back(), "Bluetooth: cопряжение провалено");
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 1));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  p.Run(300);
  ASSERT_GE(p.shown.size(), 2u);
  EXPECT_EQ(p.shown[p.shown.size() - 2], "Bluetooth: cопряжение успешно");
  EXPECT_EQ(p.shown.back(), "Bluetooth: подключение установлено - Headset A");
  EXPECT_EQ(p.sim.Bluetooth().Paired(), std::vector<std::string>{"Headset A"});
  // A row the scan did not fill fails.
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 5));
  ASSERT_TRUE(p.c().UserClick("Button16"));
  p.Run(300);
  EXPECT_EQ(p.shown.back(), "Bluetooth: cопряжение провалено");

  ASSERT_TRUE(p.c().UserClick("Button17"));
  p.Run(300);
  EXPECT_EQ(p.Column(1), (std::vector<std::string>{"Headset A", "", "", "", ""}));
  ASSERT_TRUE(p.c().UserSelectCell("BlueScan", 1, 1));
  ASSERT_TRUE(p.c().UserClick("Button18"));
  p.Run(300);
  EXPECT_EQ(p.shown.back(), "Bluetooth: удален из списка");
  EXPECT_TRUE(p.sim.Bluetooth().Paired().empty());
  ASSERT_TRUE(p.c().UserClick("Button17"));
  p.Run(300);
  EXPECT_EQ(p.Column(1), std::vector<std::string>(5, ""));
}

TEST(BluetoothSimulator, ScanAndPairingGoThroughTheRemoteTunnel) {
  fake::TunnelWorld t;
  t.StartListening();
  auto peer = t.ConnectTracker();
  ASSERT_TRUE(peer != nullptr);
  ASSERT_TRUE(t.env.clock.RunUntil([&] { return t.w().link.Connected; }, 5000));
  t.sim.Bluetooth().Devices = {"Remote Headset"};
  ui::ControlModel& c = t.w().controls;
  ASSERT_TRUE(c.UserClick("Button14"));
  for (int step = 0; step < 320; ++step) {
    t.sim.Advance(100);
    t.env.clock.Advance(100);
  }
  EXPECT_EQ(c["BlueScan"].Cell(1, 1), "Remote Headset");
  ASSERT_TRUE(c.UserSelectCell("BlueScan", 1, 1));
  ASSERT_TRUE(c.UserClick("Button16"));
  t.env.clock.Advance(1000);
  EXPECT_EQ(t.sim.Bluetooth().Paired(), std::vector<std::string>{"Remote Headset"});
  EXPECT_EQ(fake::TunnelWorld::Frames(*peer, 72).size(), 1u);
  EXPECT_EQ(fake::TunnelWorld::Frames(*peer, 73).size(), 1u);
  // Nothing of it went to a serial port.
  const auto& writes = t.env.serial.Writes();
  EXPECT_TRUE(std::none_of(writes.begin(), writes.end(),
                           [](const auto& write) { return write.bytes.size() > 7 && write.bytes[7] == 72; }));
}

TEST(BluetoothSimulator, SpreadsTheHitsOverTheScanTime) {
  sim::BluetoothSim bt;
  bt.Devices = {"A", "B", "C"};
  const uint8_t scan[] = {0x01, 0x1E};
  EXPECT_TRUE(bt.OnRequest(72, scan, sizeof scan, 1000).empty());
  EXPECT_TRUE(bt.Advance(8499).empty());
  auto hits = bt.Advance(8500);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].payload, Bytes({1, 'A', 0}));
  EXPECT_EQ(bt.Advance(23499).size(), 1u);
  hits = bt.Advance(31000);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].payload, Bytes({3, 'C', 0}));
  EXPECT_EQ(hits[1].payload, Bytes({0}));
  EXPECT_FALSE(bt.Scanning());
  EXPECT_TRUE(bt.Advance(60000).empty());
  // A stop without a scan is not answered; malformed requests are not either.
  const uint8_t stop[] = {0x00};
  EXPECT_TRUE(bt.OnRequest(72, stop, sizeof stop, 61000).empty());
  EXPECT_TRUE(bt.OnRequest(72, scan, 1, 61000).empty());
  EXPECT_TRUE(bt.OnRequest(73, scan, 1, 61000).empty());
  // An unknown profile does not pair.
  const uint8_t pair[] = {0x01, 0x01, 0x07};
  const auto refused = bt.OnRequest(73, pair, sizeof pair, 61000);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].payload, Bytes({1, 0}));
}

}  // namespace
}  // namespace rlv

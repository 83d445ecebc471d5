// Port discovery, identification, status polling and losing the tracker.
#include <gtest/gtest.h>

#include "TrackerSim.h"
#include "World.h"
#include "link/PortDiscovery.h"

namespace rlv {
namespace {

using fake::World;

std::vector<int> Polls() {
  return {41, 34, 34};
}

TEST(Discovery, ProbesTheTrackerAtOnceAtStart) {
  World world;
  world.Start();
  auto& w = world.w();
  EXPECT_EQ(w.link.PortName, World::kTrackerPort);
  EXPECT_TRUE(w.link.DevicePresent);
  EXPECT_EQ(w.controls["RzPageControl1"].Index(), 0);
  EXPECT_FALSE(w.controls["MImage7"].Enabled());

  // The probe runs once the start-up steps are done, not on the first discovery tick.
  EXPECT_TRUE(world.env.serial.Writes().empty());
  world.env.clock.Advance(0);
  ASSERT_EQ(world.SentCommands(), std::vector<int>{0});
  EXPECT_EQ(world.env.serial.Writes()[0].port, World::kTrackerPort);
  EXPECT_EQ(world.env.serial.Writes()[0].time, 0);
  EXPECT_EQ(w.controls["ComPortDeviceCaption"].Text(), std::string(World::kTrackerPort) + ": Find device");

  // The answer is read after the quiet gate (at once with the fast link).
  EXPECT_TRUE(world.env.clock.RunUntil([&] { return w.link.Connected; }, 60));
  EXPECT_FALSE(w.link.Searching);
  EXPECT_EQ(w.controls["RzPageControl1"].Index(), 1);
  EXPECT_EQ(w.controls["ComPortDeviceCaption"].Text(), std::string(World::kTrackerPort) + ": RL20Vexa");
  for (const char* name : {"MImage4", "MImage6", "MImage7", "MImage8", "MImage9"}) {
    EXPECT_TRUE(w.controls[name].Enabled()) << name;
  }
  EXPECT_TRUE(w.controls["PanelRS485"].Visible());
  EXPECT_FALSE(w.controls["PanelCAN"].Visible());
}

TEST(Discovery, PollsStatusOnTheNextLinkTickThenEveryHalfSecond) {
  World world;
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 2000);
  // The tick that reads the identify answer goes on to the first poll; the
  // fast link reads the answer as it arrives, and the next tick polls.
  const int64_t connected_at = world.env.clock.Now();
  const size_t after_identify = 1;
  world.env.clock.RunUntil([&] { return world.SentCommands(after_identify).size() >= 3; }, 10);
  ASSERT_EQ(world.SentCommands(after_identify), Polls());
  const auto& writes = world.env.serial.Writes();
  EXPECT_EQ(writes[after_identify].bytes[8], 1);      // 41 [01]
  EXPECT_EQ(writes[after_identify + 1].bytes[8], 0);  // 34 [00]
  EXPECT_EQ(writes[after_identify + 2].bytes[8], 1);  // 34 [01]
  EXPECT_LE(writes[after_identify].time - connected_at, world.w().link.FastLink ? 10 : 0);

  const int64_t first = writes[after_identify].time;
  world.env.clock.Advance(1200);
  std::vector<int64_t> poll_times;
  for (size_t i = after_identify; i < world.env.serial.Writes().size(); ++i) {
    if (world.env.serial.Writes()[i].bytes[7] == 41) poll_times.push_back(world.env.serial.Writes()[i].time);
  }
  ASSERT_GE(poll_times.size(), 3u);
  EXPECT_EQ(poll_times[0], first);
  EXPECT_EQ(poll_times[1] - poll_times[0], 500);
  EXPECT_EQ(poll_times[2] - poll_times[1], 500);
}

TEST(Discovery, StatusAnswersFillTheRecordsAndStartTheAutomaticRead) {
  sim::SimConfig config;
  World world(config);
  world.sim.NavigationRecord()[0] = 0x12;
  world.sim.DeviceRecord()[511] = 0x34;
  world.Start();
  world.env.clock.Advance(1200);
  EXPECT_EQ(world.w().monitoring.NavigationRecord[0], 0x12);
  EXPECT_EQ(world.w().monitoring.DeviceRecord[511], 0x34);
  EXPECT_FALSE(world.w().link.AutoReadConfig);
  EXPECT_EQ(world.w().shell.LastOperation, 10);
}

TEST(Discovery, AcceptsTypeByteWithHighBitsSet) {
  sim::SimConfig config;
  config.device_type = 0x18;
  config.device_options = 1;
  World world(config);
  world.Start();
  world.env.clock.Advance(1100);
  EXPECT_TRUE(world.w().link.Connected);
  EXPECT_EQ(world.w().link.DeviceType, 0x18);
  EXPECT_TRUE(world.w().controls["PanelCAN"].Visible());
  EXPECT_FALSE(world.w().controls["PanelRS485"].Visible());
}

TEST(Discovery, AnotherDeviceTypeClosesThePortAndProbesTheNextPort) {
  sim::SimConfig config;
  config.device_type = 0x07;
  World world(config);
  world.Start();
  world.env.clock.Advance(100);  // probed at start, answered
  auto& w = world.w();
  EXPECT_FALSE(w.link.Connected);
  EXPECT_TRUE(w.link.Searching);
  EXPECT_FALSE(w.link.PortOpen);
  // The port list is walked from its start: the next probe goes to the first port.
  EXPECT_EQ(w.link.PortName, "/dev/ttyS0");
  EXPECT_EQ(w.controls["ENUMPORTS"].Items().size(), 3u);
  world.env.clock.Advance(1000);
  EXPECT_EQ(world.env.serial.Writes().back().port, "/dev/ttyS0");
}

TEST(Discovery, NoAnswerMovesToTheNextPortOneSecondLater) {
  sim::SimConfig config;
  config.silent = true;
  World world(config);
  world.Start();
  world.env.clock.Advance(1000);
  EXPECT_TRUE(world.w().link.IdentifyPending);
  const auto& writes = world.env.serial.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].port, World::kTrackerPort);
  EXPECT_EQ(writes[1].port, "/dev/ttyS0");
  EXPECT_EQ(writes[1].time - writes[0].time, 1000);
  EXPECT_FALSE(world.w().link.AutoReadConfig);
  world.env.clock.Advance(2000);
  EXPECT_EQ(world.env.serial.Writes().back().port, "/dev/ttyS1");
}

TEST(Discovery, WithoutTrackerPortsAreOpenedButNothingIsSent) {
  World world(sim::SimConfig{}, /*plugged=*/false);
  world.Start();
  world.env.clock.Advance(5000);
  EXPECT_FALSE(world.w().link.DevicePresent);
  EXPECT_TRUE(world.env.serial.Writes().empty());
  EXPECT_GE(world.env.serial.OpenCount(), 4);
}

TEST(Discovery, WithNoSerialPortAtAllTheSearchKeepsTrying) {
  World world(sim::SimConfig{}, false);
  world.env.devices.ports.clear();
  world.env.serial.RemovePort("/dev/ttyS0");
  world.env.serial.RemovePort("/dev/ttyS1");
  world.env.serial.RemovePort(World::kTrackerPort);
  world.Start();
  world.env.clock.Advance(5000);
  EXPECT_EQ(world.w().link.PortCycleIndex, 0);
  EXPECT_EQ(world.w().link.PortName, "COM1");
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(), "COM1: Not connected (no such device)");
  EXPECT_TRUE(world.shown.empty());
}

TEST(Discovery, TheLastMatchingDeviceWins) {
  World world;
  world.env.devices.devices.push_back({"STMicroelectronics Virtual COM Port", "/dev/ttyACM7"});
  world.env.devices.devices.push_back({"FTDI USB Serial", "/dev/ttyUSB0"});
  EXPECT_TRUE(world.w().discovery.FindUsbPort());
  EXPECT_EQ(world.w().link.PortName, "/dev/ttyACM7");
}

TEST(Discovery, BootloaderAnswerStopsTheSearchWithoutPolling) {
  sim::SimConfig config;
  config.bootloader = true;
  World world(config);
  world.Start();
  world.env.clock.Advance(1100);
  EXPECT_TRUE(world.w().link.BootloaderMode);
  EXPECT_FALSE(world.w().link.Searching);
  EXPECT_FALSE(world.w().link.Connected);
  world.env.clock.Advance(3000);
  EXPECT_EQ(world.SentCommands(), std::vector<int>{0});
}

TEST(Connection, AWriteFailureClosesTheConnectionAndRestartsTheSearch) {
  World world;
  world.sim.NavigationRecord()[0] = 0x77;
  world.Start();
  world.env.clock.Advance(1200);
  ASSERT_TRUE(world.w().link.Connected);
  ASSERT_EQ(world.w().monitoring.NavigationRecord[0], 0x77);
  world.env.serial.FailWrites(true);
  world.env.clock.Advance(500);
  auto& w = world.w();
  EXPECT_FALSE(w.link.Connected);
  EXPECT_FALSE(w.link.PortOpen);
  EXPECT_TRUE(w.link.Searching);
  EXPECT_EQ(w.monitoring.NavigationRecord[0], 0);
  EXPECT_FALSE(w.controls["MImage7"].Enabled());
  EXPECT_EQ(w.controls["RzPageControl1"].Index(), 0);
}

TEST(Connection, RemovingTheDeviceClosesTheConnectionAndReconnectsOnReturn) {
  World world;
  world.Start();
  world.env.clock.Advance(1200);
  ASSERT_TRUE(world.w().link.Connected);
  world.env.devices.Remove(World::kTrackerPort);
  auto& w = world.w();
  EXPECT_FALSE(w.link.DevicePresent);
  EXPECT_FALSE(w.link.Connected);
  EXPECT_TRUE(w.link.Searching);
  EXPECT_FALSE(w.controls["MImage4"].Enabled());
  const size_t writes = world.env.serial.Writes().size();
  world.env.clock.Advance(3000);
  EXPECT_EQ(world.env.serial.Writes().size(), writes);  // nothing is sent while it is away

  world.env.devices.Arrive({"STMicroelectronics Virtual COM Port", World::kTrackerPort});
  EXPECT_EQ(w.link.PortName, World::kTrackerPort);
  // Probed as soon as it arrives, not on the next discovery tick.
  world.env.clock.RunUntil([&] { return w.link.Connected; }, 100);
  EXPECT_TRUE(w.link.Connected);
}

TEST(Connection, ATrackerPluggedInJustBeforeADiscoveryTickGetsAWholeTickToAnswer) {
  World world(sim::SimConfig{}, /*plugged=*/false);
  world.env.serial.SetLatency(300);  // a tracker slow to answer
  world.Start();
  auto& w = world.w();
  // The ticks come at 1000, 2000...: the tracker arrives 10 ms before the one
  // that would move the search on to /dev/ttyS1.
  world.env.clock.Advance(2990);
  world.env.devices.Arrive({"STMicroelectronics Virtual COM Port", World::kTrackerPort});
  world.env.clock.Advance(400);
  EXPECT_TRUE(w.link.Connected);
  EXPECT_EQ(w.link.PortName, World::kTrackerPort);
}

TEST(Connection, ResetDeviceSendsRestartAndSearchesAgain) {
  World world;
  world.Start();
  world.env.clock.Advance(1200);
  const size_t from = world.env.serial.Writes().size();
  world.w().discovery.ResetDevice(1);
  ASSERT_EQ(world.SentCommands(from), std::vector<int>{4});
  EXPECT_EQ(world.env.serial.Writes()[from].bytes[8], 1);
  EXPECT_FALSE(world.w().link.Connected);
  EXPECT_TRUE(world.w().link.Searching);
  // The tracker comes back in its bootloader on the next probe.
  world.env.clock.Advance(1100);
  EXPECT_TRUE(world.w().link.BootloaderMode);
}

TEST(Connection, TheCloseStepsClosePortAndStopNotifications) {
  World world;
  world.Start();
  world.env.clock.Advance(1200);
  EXPECT_EQ(world.env.hotkeys.registered.size(), 3u);
  world.w().FormClose();
  EXPECT_FALSE(world.w().link.PortOpen);
  const size_t writes = world.env.serial.Writes().size();
  world.env.clock.Advance(2000);
  EXPECT_EQ(world.env.serial.Writes().size(), writes);
  world.w().FormDestroy();
  EXPECT_TRUE(world.env.hotkeys.registered.empty());
}

TEST(LinkTick, FastNavigationPollEveryTenthTick) {
  World world;
  world.Start();
  world.env.clock.Advance(1200);
  world.w().discovery.SetFastNavPoll(true);
  const size_t from = world.env.serial.Writes().size();
  world.env.clock.Advance(100);
  int nav = 0;
  for (size_t i = from; i < world.env.serial.Writes().size(); ++i) {
    const auto& b = world.env.serial.Writes()[i].bytes;
    if (b[7] == 34 && b[8] == 0) ++nav;
  }
  EXPECT_EQ(nav, 1);
}

TEST(LinkTick, NothingRunsWhileTheReceiverUpdateOwnsThePort) {
  World world;
  world.Start();
  world.env.clock.Advance(1200);
  world.w().link.GnssUpdateMode = true;
  const size_t from = world.env.serial.Writes().size();
  world.env.clock.Advance(2000);
  EXPECT_EQ(world.env.serial.Writes().size(), from);
}

}  // namespace
}  // namespace rlv

namespace rlv {
namespace {

// A peer that sends `size` bytes of noise every `every_ms` until `until_ms` (virtual time).
void Flood(fake::World& world, int every_ms, size_t size, int64_t until_ms) {
  if (world.env.clock.Now() >= until_ms) return;
  world.env.serial.Inject(std::vector<uint8_t>(size, 'x'));
  world.env.clock.Post(every_ms,
                       [&world, every_ms, size, until_ms] { Flood(world, every_ms, size, until_ms); });
}

TEST(ReceiveGate, ALineThatNeverFallsQuietIsStillScannedEverySecond) {
  World world;
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 2000);
  world.sim.DeviceRecord()[100] = 0x77;
  // 40 bytes every 4 ms: the line is never quiet for five ticks.
  Flood(world, 4, 40, world.env.clock.Now() + 5000);
  world.env.clock.Advance(2500);
  EXPECT_EQ(world.w().monitoring.DeviceRecord[100], 0x77);
  EXPECT_LE(world.w().link.RxPending, 2u * link::PacketCodec::kBufferSize);
}

TEST(ReceiveGate, AFullBufferIsScannedOnTheNextTick) {
  World world;
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 2000);
  world.env.clock.Advance(600);
  world.env.serial.Inject(std::vector<uint8_t>(link::PacketCodec::kBufferSize, 'x'));
  EXPECT_EQ(world.w().link.RxQuiet, 1);
  world.env.clock.Advance(10);
  EXPECT_EQ(world.w().link.RxPending, 0u);
  EXPECT_EQ(world.w().link.RxQuiet, 0);
}

TEST(ReceiveGate, AConfigurationReadStartedInAFloodCompletesOnceItEnds) {
  World world;
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 2000);
  world.env.clock.Advance(3000);  // the automatic read is over
  Flood(world, 4, 40, world.env.clock.Now() + 3000);
  world.env.clock.Advance(1000);
  world.shown.clear();
  world.w().shell.LastOperation = 10;
  world.w().transfer.ReadFromDevice();
  world.env.clock.Advance(5000);
  ASSERT_FALSE(world.shown.empty());
  // Either the read got through the noise, or it was given up with a message; never silence.
  const std::string last = world.shown.back();
  EXPECT_NE(last, world.w().messages.GetMessageA(2));
  world.shown.clear();
  world.w().transfer.ReadFromDevice();
  world.env.clock.Advance(1000);
  ASSERT_FALSE(world.shown.empty());
  EXPECT_EQ(world.shown.back(), world.w().messages.GetMessageA(6));
}

}  // namespace
}  // namespace rlv

namespace rlv {
namespace {

// The link tick sleeps between the things it has to do, with the same timing
// on the wire as a tick every 10 ms.
struct Sleeping : fake::World {
  Sleeping() {
    Start();
    env.clock.Advance(1500);  // connected, the automatic read over
  }
  // Link timer expiries within the next `ms`.
  int Expiries(int ms) {
    int count = 0;
    w().Timer1->SetHandler([&] {
      ++count;
      w().Timer1Timer();
    });
    env.clock.Advance(ms);
    w().Timer1->SetHandler([this] { w().Timer1Timer(); });
    return count;
  }
};

TEST(LinkSleep, ConnectedItWakesForThePollsAndTheAnswersOnly) {
  Sleeping s;
  ASSERT_TRUE(s.w().link.Connected);
  // Two seconds hold four polls; each wakes the link once to send and five
  // times while its answers fall quiet, far from 200 ticks.
  const int expiries = s.Expiries(2000);
  EXPECT_LE(expiries, 4 * 8);
  EXPECT_GE(expiries, 4);
}

TEST(LinkSleep, WhileSearchingNothingIsDueButASafetyTick) {
  fake::World world({}, false);
  world.env.devices.ports.clear();
  world.Start();
  world.env.clock.Advance(1500);
  int count = 0;
  world.w().Timer1->SetHandler([&] {
    ++count;
    world.w().Timer1Timer();
  });
  world.env.clock.Advance(5000);
  EXPECT_LE(count, 5000 / (link::PortDiscovery::kMaxSleepTicks * 10) + 1);
}

TEST(LinkSleep, PollsKeepTheirPeriodAndAnswersTheirQuietGate) {
  Sleeping s;
  std::vector<int64_t> polls;
  const size_t from = s.env.serial.Writes().size();
  s.env.clock.Advance(3000);
  for (size_t i = from; i < s.env.serial.Writes().size(); ++i) {
    const auto& w = s.env.serial.Writes()[i];
    if (w.bytes[7] == 41) polls.push_back(w.time);
  }
  ASSERT_GE(polls.size(), 5u);
  for (size_t i = 1; i < polls.size(); ++i) EXPECT_EQ(polls[i] - polls[i - 1], 500) << i;
  // Bytes that arrive while the link sleeps are scanned 5 ticks later.
  int64_t scanned = -1;
  s.w().controls.Observe([&](const ui::Control& c, ui::Prop) {
    if (c.Name() == "MESLABEL" && scanned < 0) scanned = s.env.clock.Now();
  });
  s.env.clock.Advance(123);
  const int64_t arrival = s.env.clock.Now();
  s.env.serial.Inject(sim::BuildResponseFrame(61, {0}));
  s.env.clock.Advance(200);
  ASSERT_GE(scanned, 0);
  EXPECT_GE(scanned - arrival, 40);
  EXPECT_LE(scanned - arrival, 50);
}

}  // namespace
}  // namespace rlv

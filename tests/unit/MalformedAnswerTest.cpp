// Answers that lie about their lengths, stop short or carry unknown kinds:
// nothing is read outside the frame and nothing crashes (run under the
// sanitizer build too), and the remembered-password paths keyed by the IMEI.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TrackerSim.h"
#include "World.h"
#include "link/Bytes.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

struct Quiet : fake::World {
  explicit Quiet(sim::SimConfig config = {}) : World(std::move(config)) {
    w().link.AutoReadConfig = false;
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    env.clock.Advance(100);
  }
  // The frame goes through the scan in a buffer of exactly its own size.
  void Answer(uint8_t command, const Bytes& payload, size_t cut = 0) {
    Bytes frame = sim::BuildResponseFrame(command, payload);
    frame.resize(frame.size() - std::min(cut, frame.size()));
    auto exact = std::make_unique<uint8_t[]>(frame.size() + (frame.empty() ? 1 : 0));
    std::copy(frame.begin(), frame.end(), exact.get());
    w().codec.ScanFrames(exact.get(), frame.size());
  }
};

TEST(MalformedAnswers, RandomPayloadsForEveryMonitoringAnswer) {
  Quiet q;
  std::mt19937 random(12345);
  const uint8_t commands[] = {34, 41, 177, 37, 38, 32, 33, 57, 72, 74, 255};
  for (int round = 0; round < 3000; ++round) {
    const uint8_t command = commands[random() % sizeof commands];
    Bytes p(random() % 600);
    for (auto& b : p) b = static_cast<uint8_t>(random());
    // Plausible headers make the interesting cases common.
    if (!p.empty() && command == 34) p[0] = static_cast<uint8_t>(random() % 3);
    if (!p.empty() && command == 177) p[0] = static_cast<uint8_t>(random() % 3 == 0 ? 0xFF : random() % 9);
    if (p.size() >= 3 && command == 34 && random() % 2 == 0) link::PutU16(p.data() + 1, 0xFFFF);
    q.Answer(command, p, random() % 4 == 0 ? random() % 8 : 0);
    q.w().controls["MESPANEL"].SetVisible(false);
  }
  // Short answers of each kind: too short for kind and length, for a block, for a count.
  for (const Bytes& p : {Bytes{}, Bytes{0}, Bytes{1}, Bytes{0, 0xFF}, Bytes{1, 0xFF, 0xFF}}) {
    q.Answer(34, p);
    q.Answer(41, p);
    q.Answer(177, p);
  }
  Bytes block{3, 0, 0};
  block.resize(514, 0x5A);
  q.Answer(177, block);
  EXPECT_EQ(q.w().faultlog.Buffer()[3 * 512], 0x00);
  block.push_back(0x5A);
  q.Answer(177, block);
  EXPECT_EQ(q.w().faultlog.Buffer()[3 * 512], 0x5A);
  EXPECT_TRUE(q.w().link.Connected);
}

TEST(MalformedAnswers, TheSimulatorCanLie) {
  sim::SimConfig config;
  config.forced_payload[34] = {1, 0x00, 0x02, 0, 0, '4', '2'};  // a device record promising 512 bytes
  config.forced_payload[41] = {200, 5};                         // a count of 200 with one code
  Quiet q(config);
  q.env.clock.Advance(600);
  EXPECT_EQ(q.w().monitoring.Imei(), "42");
  EXPECT_EQ(q.w().controls["LOG_memo"].Lines().size(), 2u);  // one code per poll, two polls
}

// ---- The remembered password by IMEI -------------------------------------------

std::vector<int> Requests(const fake::World& world) {
  std::vector<int> out;
  for (int command : world.SentCommands()) {
    if (command != 34 && command != 41) out.push_back(command);
  }
  return out;
}

TEST(RememberedPassword, AWrongOneIsForgottenAndThePromptAppearsAtTheNextRefusal) {
  sim::SimConfig config;
  config.password = 1234;
  fake::World world(config);
  world.env.dir.Write("config.ini", "[Passes]\n866000000000001=999\n");
  world.Start();
  world.env.clock.Advance(2500);
  // identify, the automatic read refused, the remembered password rejected
  EXPECT_EQ(Requests(world), (std::vector<int>{0, 32, 37}));
  EXPECT_EQ(world.w().settings.ReadPass("866000000000001"), 0);
  EXPECT_FALSE(world.w().controls["MESPANEL"].Visible() && world.w().controls["PageControlMes"].Index() == 1);
  world.w().controls.UserClick("MImage7");
  world.env.clock.Advance(300);
  EXPECT_EQ(world.w().controls["PageControlMes"].Index(), 1);
  EXPECT_TRUE(world.w().controls["MESPANEL"].Visible());
}

TEST(RememberedPassword, AnImeiThatIsNoPlainNumberUsesThePromptAndTheWriteStillGoesAhead) {
  sim::SimConfig config;
  config.password = 1234;
  config.imei = "1\r\n[Settings]";
  fake::World world(config);
  const std::string ini = "[Passes]\n1=1234\n";
  world.env.dir.Write("config.ini", ini);
  world.Start();
  world.env.clock.Advance(2500);
  EXPECT_EQ(Requests(world), (std::vector<int>{0, 32}));
  EXPECT_EQ(world.w().controls["PageControlMes"].Index(), 1);  // the prompt
  world.w().controls["MESPANEL"].SetVisible(false);
  world.w().controls.UserClick("MImage6");
  world.env.clock.Advance(300);
  EXPECT_EQ(Requests(world), (std::vector<int>{0, 32, 33}));
  EXPECT_EQ(world.env.dir.Read("config.ini").find("Settings"), std::string::npos);
  EXPECT_EQ(world.env.dir.Read("config.ini").find("[Passes]\n1=1234\n"), 0u);
}

TEST(TrackErase, AfterNoALaterAcceptedPasswordNeverErases) {
  sim::SimConfig config;
  config.password = 1234;
  fake::World world(config);
  world.w().link.AutoReadConfig = false;
  world.Start();
  world.env.clock.Advance(1500);
  auto& c = world.w().controls;
  c.UserClick("DeleteTrack");
  c.UserClick("Button4");  // "Нет"
  world.w().shell.GetPassword('?');
  c.UserType("PassEdit", "1234");
  c.UserClick("PassButOK");
  world.env.clock.Advance(300);
  EXPECT_EQ(Requests(world), (std::vector<int>{0, 37}));
  EXPECT_EQ(world.sim.TrackDeleteCount(), 0);
}

// ---- The simulator as a living tracker ---------------------------------------------

TEST(SimulatorLife, TheStateMovesOnlyWhenLiving) {
  sim::TrackerSim still;
  still.Advance(60000);
  EXPECT_EQ(link::GetU32(still.NavigationRecord().data()), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(still.DeviceRecord().data() + 2)), "866000000000001");
  EXPECT_EQ(link::GetU16(still.DeviceRecord().data() + 233), 118);

  sim::SimConfig config;
  config.living = true;
  config.gnss_version = 0;
  config.input_types[0] = 2;
  sim::TrackerSim live(config);
  EXPECT_EQ(live.DeviceRecord()[97], 2);
  EXPECT_EQ(link::GetU16(live.DeviceRecord().data() + 233), 0);
  const uint32_t start = link::GetU32(live.NavigationRecord().data());
  live.Advance(250500);
  EXPECT_EQ(link::GetU32(live.NavigationRecord().data()), start + 250);
  EXPECT_EQ(link::GetU32(live.NavigationRecord().data() + 67), 86400u + 250);
  EXPECT_GT(live.PendingEvents(), 10u);
}

}  // namespace
}  // namespace rlv

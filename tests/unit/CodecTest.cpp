// Frame building, checksums and the frame scan.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "TrackerSim.h"
#include "World.h"
#include "link/Crc.h"

namespace rlv {
namespace {

using fake::World;
using Bytes = std::vector<uint8_t>;

Bytes Ascii(const char* text) {
  return Bytes(text, text + std::strlen(text));
}

TEST(Crc, CheckValuesOfTheStandardInput) {
  const Bytes digits = Ascii("123456789");
  EXPECT_EQ(link::Crc16(digits.data(), digits.size()), 0x4B37);
  EXPECT_EQ(link::Crc8(digits.data(), digits.size()), 0xA1);
  EXPECT_EQ(link::Crc16(nullptr, 0), 0xFFFF);
  EXPECT_EQ(link::Crc8(nullptr, 0), 0);
}

// The checksums a bit at a time, as their definitions read.
uint16_t BitwiseCrc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}
uint8_t BitwiseCrc8(const uint8_t* data, size_t count) {
  uint8_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
  }
  return crc;
}

TEST(Crc, EightBytesAtATimeAgreeWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  std::mt19937 rng(7);
  Bytes data(600);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t start = 0; start < 9; ++start) {
    for (size_t length = 0; length + start <= 530; length += (length < 40 ? 1 : 37)) {
      const uint8_t* p = data.data() + start;
      ASSERT_EQ(link::Crc16(p, length), BitwiseCrc16(p, length)) << start << " " << length;
      ASSERT_EQ(link::Crc8(p, length), BitwiseCrc8(p, length)) << start << " " << length;
    }
  }
}

// A configurator with a tracker device present and its port open, but idle.
struct OpenPortWorld : World {
  OpenPortWorld() {
    env.serial.AddPort("COM9");
    w().link.DevicePresent = true;
    w().discovery.OpenPort("COM9");
  }
  Bytes LastWrite() const { return env.serial.Writes().back().bytes; }
};

TEST(SendPacket, WritesFramesAsTheTrackerExpects) {
  OpenPortWorld world;
  auto& codec = world.w().codec;

  EXPECT_EQ(codec.SendPacket(0, nullptr, 0), 10);
  Bytes identify = Ascii("SLRL");
  identify.insert(identify.end(), {0x02, 0x00, 0xAA, 0x00, 0x7F, 0x10});
  EXPECT_EQ(world.LastWrite(), identify);

  const uint8_t one = 1;
  EXPECT_EQ(codec.SendPacket(41, &one, 1), 11);
  Bytes poll = Ascii("SLRL");
  poll.insert(poll.end(), {0x03, 0x00, 0xAA, 0x29, 0x01, 0x8F, 0xB0});
  EXPECT_EQ(world.LastWrite(), poll);
}

TEST(SendPacket, AddsOneFillerByteWhenTheFrameSizeIsAMultipleOfEight) {
  OpenPortWorld world;
  std::vector<uint8_t> payload(30, 0x5A);
  for (uint16_t len : {uint16_t{6}, uint16_t{14}, uint16_t{22}}) {
    EXPECT_EQ(world.w().codec.SendPacket(7, payload.data(), len), len + 11) << len;
  }
  for (uint16_t len : {uint16_t{5}, uint16_t{7}, uint16_t{13}}) {
    EXPECT_EQ(world.w().codec.SendPacket(7, payload.data(), len), len + 10) << len;
  }
  // The frame itself still checks out: the tracker reads it without the filler.
  world.w().codec.SendPacket(7, payload.data(), 6);
  const Bytes frame = world.LastWrite();
  EXPECT_EQ(link::GetU16(frame.data() + 4), 8);
  EXPECT_EQ(link::Crc16(frame.data() + 6, 8), link::GetU16(frame.data() + 14));
}

TEST(SendPacket, SendsNothingWithoutTrackerOrOpenPort) {
  OpenPortWorld world;
  world.w().link.DevicePresent = false;
  EXPECT_EQ(world.w().codec.SendPacket(0, nullptr, 0), -1);
  world.w().link.DevicePresent = true;
  world.w().discovery.ClosePort();
  EXPECT_EQ(world.w().codec.SendPacket(0, nullptr, 0), 0);
  EXPECT_TRUE(world.env.serial.Writes().empty());
  EXPECT_EQ(world.w().codec.SendToPort(nullptr, 3), 0);
}

TEST(SendPacket, RejectsAPayloadThatDoesNotFitTheBuffer) {
  OpenPortWorld world;
  std::vector<uint8_t> payload(5000);
  EXPECT_EQ(world.w().codec.SendPacket(20, payload.data(), 4086), -1);
  EXPECT_EQ(world.w().codec.SendPacket(20, payload.data(), 4085), 4095);
  EXPECT_EQ(world.w().codec.SendPacket(20, payload.data(), 4078), 4089);  // with its filler
}

TEST(SendPacket, TracesWritesOnlyWhileTheTraceIsVisible) {
  OpenPortWorld world;
  auto& trace = world.w().controls["LogMemo"];
  world.w().codec.SendPacket(0, nullptr, 0);
  EXPECT_TRUE(trace.Lines().empty());
  trace.SetVisible(true);
  world.w().codec.SendPacket(0, nullptr, 0);
  ASSERT_EQ(trace.Lines().size(), 2u);
  EXPECT_EQ(trace.Lines()[0], "Send>>>");
  EXPECT_EQ(trace.Lines()[1], "534C524C0200AA007F10");
}

// Frames handed to the dispatcher, seen through the answers it reacts to:
// status answers of kind 0 land in the navigation record.
Bytes NavAnswer(uint8_t marker) {
  return sim::BuildResponseFrame(34, {0, 1, 0, marker});
}

TEST(ScanFrames, DispatchesBackToBackFramesInOrder) {
  World world;
  std::vector<std::string> texts;
  Bytes block = sim::BuildResponseFrame(4, {0});  // restart acknowledged: message 79
  const Bytes second = sim::BuildResponseFrame(52, {0});
  block.insert(block.end(), second.begin(), second.end());
  world.w().codec.ScanFrames(block.data(), block.size());
  EXPECT_EQ(world.shown, (std::vector<std::string>{"Message79", "Message88"}));
}

TEST(ScanFrames, FindsAMagicRightAfterAStrayS) {
  World world;
  Bytes block = Ascii("SSLS");
  const Bytes frame = NavAnswer(0x42);
  block.insert(block.end(), frame.begin(), frame.end());
  world.w().codec.ScanFrames(block.data(), block.size());
  EXPECT_EQ(world.w().monitoring.NavigationRecord[0], 0x42);
}

TEST(ScanFrames, DropsBadFramesAndGoesOn) {
  World world;
  Bytes bad_crc = NavAnswer(0x11);
  bad_crc.back() ^= 0xFF;
  const Bytes echo = sim::BuildFrame(0xAA, 4, {0});  // our own direction, CRC right
  const Bytes good = NavAnswer(0x22);
  Bytes block = bad_crc;
  block.insert(block.end(), echo.begin(), echo.end());
  block.insert(block.end(), good.begin(), good.end());
  world.w().codec.ScanFrames(block.data(), block.size());
  EXPECT_EQ(world.w().monitoring.NavigationRecord[0], 0x22);
  EXPECT_TRUE(world.shown.empty());
}

TEST(ScanFrames, IgnoresAFrameCutOffAtTheEndOfTheBlock) {
  World world;
  const Bytes frame = NavAnswer(0x33);
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    // Copy into an exact-size buffer so that ASan sees any read past the cut.
    std::vector<uint8_t> part(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut));
    world.w().codec.ScanFrames(part.data(), part.size());
  }
  EXPECT_EQ(world.w().monitoring.NavigationRecord[0], 0);
}

TEST(ScanFrames, DropsFramesTooShortToHoldACommand) {
  World world;
  // L = 0 and L = 1 with matching CRCs over what they claim.
  for (uint16_t len : {uint16_t{0}, uint16_t{1}}) {
    Bytes frame = Ascii("SLRL");
    frame.push_back(static_cast<uint8_t>(len));
    frame.push_back(0);
    const Bytes body{0x55};
    frame.insert(frame.end(), body.begin(), body.begin() + len);
    const uint16_t crc = link::Crc16(frame.data() + 6, len);
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    world.w().codec.ScanFrames(frame.data(), frame.size());
  }
  EXPECT_TRUE(world.shown.empty());
}

TEST(ScanFrames, ShortAnswersReadAsZeroPastTheirEnd) {
  World world;
  world.Start();
  // An identify answer with only the mode byte: type reads as 0, not 8.
  const Bytes frame = sim::BuildResponseFrame(0, {1});
  world.w().codec.ScanFrames(frame.data(), frame.size());
  EXPECT_FALSE(world.w().link.Connected);
}

TEST(ScanFrames, SurvivesRandomAndMutatedBlocks) {
  World world;
  world.Start();
  std::mt19937 rng(12345);
  std::vector<Bytes> seeds = {
      sim::BuildResponseFrame(0, {1, 0, 0, 0, 8, 1}), sim::BuildResponseFrame(32, {0, 0, 0x58, 0x02}),
      sim::BuildResponseFrame(34, {1, 0xFF, 0xFF}),   sim::BuildResponseFrame(41, {200, 1, 2}),
      sim::BuildResponseFrame(72, {3, 'a', 'b'}),     sim::BuildResponseFrame(74, {1, 1, 'x'}),
      sim::BuildResponseFrame(57, {4, 1, 2, 3, 4}),   sim::BuildResponseFrame(33, {0, 0}),
  };
  for (int round = 0; round < 20000; ++round) {
    Bytes block;
    const int parts = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < parts; ++i) {
      if (rng() % 3 == 0) {
        Bytes noise(rng() % 40);
        for (auto& b : noise) b = static_cast<uint8_t>(rng() % 4 == 0 ? "SLRL"[rng() % 4] : rng());
        block.insert(block.end(), noise.begin(), noise.end());
      } else {
        Bytes frame = seeds[rng() % seeds.size()];
        // Mutate a few bytes, possibly the length, and sometimes truncate.
        const int flips = static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) frame[rng() % frame.size()] = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0) frame.resize(rng() % frame.size());
        block.insert(block.end(), frame.begin(), frame.end());
      }
    }
    Bytes exact(block);  // exact size: ASan flags any read past the end
    world.w().codec.ScanFrames(exact.data(), exact.size());
  }
  SUCCEED();
}

TEST(Receive, ReadsAnswersFortyToFiftyMillisecondsAfterTheLastByte) {
  OpenPortWorld world;
  world.w().FormCreate();
  world.env.clock.Advance(3);  // somewhere between two link ticks
  world.env.serial.Inject(NavAnswer(0x44));
  const int64_t arrived = world.env.clock.Now();
  EXPECT_TRUE(
      world.env.clock.RunUntil([&] { return world.w().monitoring.NavigationRecord[0] == 0x44; }, 100));
  const int64_t delay = world.env.clock.Now() - arrived;
  EXPECT_GE(delay, 40);
  EXPECT_LE(delay, 50);
}

TEST(Receive, AFrameSplitAcrossTwoReadsIsLost) {
  OpenPortWorld world;
  world.w().FormCreate();
  const Bytes frame = NavAnswer(0x55);
  world.env.serial.Inject(Bytes(frame.begin(), frame.begin() + 5));
  world.env.clock.Advance(100);
  world.env.serial.Inject(Bytes(frame.begin() + 5, frame.end()));
  world.env.clock.Advance(100);
  EXPECT_EQ(world.w().monitoring.NavigationRecord[0], 0);
  // The buffer is clean again for the next read.
  for (uint8_t b : world.w().codec.RxBuffer()) ASSERT_EQ(b, 0);
}

// How received bytes become frames, in the gated and in the fast link: the
// same frames are handed over, only sooner in the fast one. Each answer shows
// its message: a restart acknowledged message 79, a reset 88.
struct Arrival {
  int64_t at;  // ms after the first bytes
  Bytes bytes;
};
struct ReceiveCase {
  const char* name;
  std::vector<Arrival> arrivals;
  std::vector<std::string> shown;  // the answers handed over, in order
  bool at_once_when_fast;          // the fast link hands them over without the gate
};

class ReceiveModes : public ::testing::TestWithParam<bool> {};

TEST_P(ReceiveModes, SplitJoinedAndNoisyFramesAreHandedOverAlike) {
  const bool fast = GetParam();
  const Bytes a = sim::BuildResponseFrame(4, {0}), b = sim::BuildResponseFrame(52, {0});
  auto cat = [](Bytes x, const Bytes& y) {
    x.insert(x.end(), y.begin(), y.end());
    return x;
  };
  const std::vector<std::string> just_a = {"Message79"}, both = {"Message79", "Message88"};
  const ReceiveCase cases[] = {
      {"split across two receive events",
       {{0, Bytes(a.begin(), a.begin() + 7)}, {5, Bytes(a.begin() + 7, a.end())}},
       just_a,
       true},
      {"two frames in one event", {{0, cat(a, b)}}, both, true},
      {"a frame followed by noise", {{0, cat(a, Ascii("S\x01noise SLR"))}}, just_a, true},
      {"noise, then a frame", {{0, cat(Ascii("xx"), a)}}, just_a, false},
      {"a bad checksum, then a frame", {{0, cat(Bytes(b.begin(), b.end() - 1), a)}}, just_a, false},
  };
  for (const ReceiveCase& c : cases) {
    SCOPED_TRACE(c.name);
    World world({}, true, fast);
    world.env.serial.AddPort("COM9");
    world.w().link.DevicePresent = true;
    world.w().discovery.OpenPort("COM9");
    world.w().FormCreate();
    int64_t last_arrival = 0, handed_over = -1;
    for (const Arrival& arrival : c.arrivals) {
      world.env.clock.Post(static_cast<int>(arrival.at), [&world, &last_arrival, bytes = arrival.bytes] {
        last_arrival = world.env.clock.Now();
        world.env.serial.Inject(bytes);
      });
    }
    for (int step = 0; step < 200; ++step) {
      world.env.clock.Advance(1);
      if (handed_over < 0 && !world.shown.empty()) handed_over = world.env.clock.Now() - last_arrival;
    }
    EXPECT_EQ(world.shown, c.shown);
    // A complete frame at the front needs no quiet gate in the fast link.
    if (fast && c.at_once_when_fast) {
      EXPECT_LE(handed_over, 1);
    } else {
      EXPECT_GE(handed_over, 40);
    }
    for (uint8_t byte : world.w().codec.RxBuffer()) ASSERT_EQ(byte, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Link, ReceiveModes, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Fast" : "Gated"; });

}  // namespace
}  // namespace rlv

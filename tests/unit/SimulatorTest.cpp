#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "TrackerSim.h"
#include "link/Bytes.h"
#include "link/Crc.h"

namespace rlv::sim {
namespace {

struct Answer {
  uint8_t command = 0xFF;
  std::vector<uint8_t> payload;
};

// Checks an answer frame independently of the simulator's own builder.
Answer ParseAnswer(const std::vector<uint8_t>& f) {
  EXPECT_GE(f.size(), 10u);
  if (f.size() < 10) return {};
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 4), (std::vector<uint8_t>{'S', 'L', 'R', 'L'}));
  const size_t length = link::GetU16(f.data() + 4);
  EXPECT_EQ(f.size(), length + 8);
  if (f.size() != length + 8) return {};
  EXPECT_EQ(f[6], 0x55);
  EXPECT_EQ(link::GetU16(f.data() + 6 + length), link::Crc16(f.data() + 6, length));
  return {f[7], std::vector<uint8_t>(f.begin() + 8, f.end() - 2)};
}

std::array<uint8_t, 512> Pattern(uint8_t seed) {
  std::array<uint8_t, 512> record{};
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(seed + i * 7);
  return record;
}

std::vector<uint8_t> WritePayload(uint8_t index, const std::array<uint8_t, 512>& record) {
  // Sized once and filled in place (GCC 12 reports a false out-of-bounds copy
  // for a range insert after a short list at -O2).
  std::vector<uint8_t> p(3 + record.size());
  p[0] = index;
  p[1] = 0x00;
  p[2] = 0x02;
  std::copy(record.begin(), record.end(), p.begin() + 3);
  return p;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void Start(SimConfig config = {}) {
    sim_ = TrackerSim(std::move(config));
    sim_.SetOutput([this](const std::vector<uint8_t>& bytes) { answers_.push_back(ParseAnswer(bytes)); });
  }
  void SetUp() override { Start(); }

  // Sends one request and returns the answers it produced.
  std::vector<Answer> Ask(uint8_t command, const std::vector<uint8_t>& payload = {}) {
    answers_.clear();
    sim_.Feed(BuildRequestFrame(command, payload));
    return answers_;
  }
  Answer AskOne(uint8_t command, const std::vector<uint8_t>& payload = {}) {
    const auto answers = Ask(command, payload);
    EXPECT_EQ(answers.size(), 1u) << "command " << int{command};
    return answers.empty() ? Answer{} : answers.front();
  }

  TrackerSim sim_;
  std::vector<Answer> answers_;
};

TEST_F(SimulatorTest, RequestBuilderMatchesKnownFrames) {
  EXPECT_EQ(BuildRequestFrame(0, {}),
            (std::vector<uint8_t>{'S', 'L', 'R', 'L', 0x02, 0x00, 0xAA, 0x00, 0x7F, 0x10}));
  EXPECT_EQ(BuildRequestFrame(41, {0x01}),
            (std::vector<uint8_t>{'S', 'L', 'R', 'L', 0x03, 0x00, 0xAA, 0x29, 0x01, 0x8F, 0xB0}));
  EXPECT_EQ(BuildRequestFrame(0, std::vector<uint8_t>(6)).size(), 17u);
}

TEST_F(SimulatorTest, IdentifyInApplicationMode) {
  Start({.device_type = 0x18, .device_options = 0x01});
  const Answer a = AskOne(cmd::kIdentify);
  EXPECT_EQ(a.command, cmd::kIdentify);
  ASSERT_GE(a.payload.size(), 6u);
  EXPECT_EQ(a.payload[0], 1);
  EXPECT_EQ(a.payload[4], 0x18);
  EXPECT_EQ(a.payload[5], 0x01);
}

TEST_F(SimulatorTest, FrameSplitAcrossFeedsIsReassembled) {
  const std::vector<uint8_t> frame = BuildRequestFrame(cmd::kConfigWrite, WritePayload(0, Pattern(3)));
  for (size_t i = 0; i + 1 < frame.size(); ++i) sim_.Feed(&frame[i], 1);
  EXPECT_TRUE(answers_.empty());
  sim_.Feed(&frame.back(), 1);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].payload, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(sim_.Record(0), Pattern(3));
}

TEST_F(SimulatorTest, BadCrcIsIgnoredAndNextFrameStillAnswered) {
  std::vector<uint8_t> bytes = BuildRequestFrame(cmd::kStatusRecord, {0});
  bytes.back() ^= 0x01;
  const std::vector<uint8_t> good = BuildRequestFrame(cmd::kIdentify, {});
  bytes.insert(bytes.end(), good.begin(), good.end());
  sim_.Feed(bytes);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].command, cmd::kIdentify);
  EXPECT_EQ(sim_.ReceivedCommands(), (std::vector<uint8_t>{cmd::kIdentify}));
}

TEST_F(SimulatorTest, FillerByteAndStrayBytesAreSkipped) {
  // A 6-byte payload makes a 16-byte frame, so a filler follows; an 'S'
  // filler right before the next magic must not hide that frame.
  std::vector<uint8_t> bytes{'x', 'S', 'L'};
  const std::vector<uint8_t> first = BuildRequestFrame(cmd::kIdentify, std::vector<uint8_t>(6), 'S');
  const std::vector<uint8_t> second = BuildRequestFrame(cmd::kEventLog, {1});
  ASSERT_EQ(first.size(), 17u);
  bytes.insert(bytes.end(), first.begin(), first.end());
  bytes.insert(bytes.end(), second.begin(), second.end());
  sim_.Feed(bytes);
  ASSERT_EQ(answers_.size(), 2u);
  EXPECT_EQ(answers_[0].command, cmd::kIdentify);
  EXPECT_EQ(answers_[1].command, cmd::kEventLog);
}

TEST_F(SimulatorTest, FalseMagicWithLongLengthDoesNotBlockRealFrame) {
  std::vector<uint8_t> bytes{'S', 'L', 'R', 'L', 0xF0, 0x0F, 0xAA};
  const std::vector<uint8_t> good = BuildRequestFrame(cmd::kIdentify, {});
  bytes.insert(bytes.end(), good.begin(), good.end());
  sim_.Feed(bytes);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].command, cmd::kIdentify);
}

TEST_F(SimulatorTest, RandomNoiseNeverHidesRequests) {
  std::mt19937 rng(20240611);
  std::vector<uint8_t> stream;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0, n = static_cast<int>(rng() % 40); i < n; ++i) {
      // Noise rich in magic fragments.
      const uint8_t pick = static_cast<uint8_t>(rng());
      stream.push_back(pick < 64 ? static_cast<uint8_t>("SLRL"[pick % 4]) : pick);
    }
    const std::vector<uint8_t> request = BuildRequestFrame(cmd::kEventLog, {1});
    stream.insert(stream.end(), request.begin(), request.end());
  }
  for (size_t at = 0; at < stream.size();) {
    const size_t chunk = std::min<size_t>(1 + rng() % 64, stream.size() - at);
    sim_.Feed(stream.data() + at, chunk);
    at += chunk;
  }
  EXPECT_EQ(answers_.size(), 200u);
}

TEST_F(SimulatorTest, EchoedAnswersAreNotRequests) {
  // Loop every answer straight back in: it carries direction 0x55 and must be dropped.
  sim_.SetOutput([this](const std::vector<uint8_t>& bytes) {
    answers_.push_back(ParseAnswer(bytes));
    if (answers_.size() < 3) sim_.Feed(bytes);  // bounded, so a regression fails instead of looping
  });
  sim_.Feed(BuildRequestFrame(cmd::kIdentify, {}));
  EXPECT_EQ(answers_.size(), 1u);
  EXPECT_EQ(sim_.ReceivedCommands().size(), 1u);
}

TEST_F(SimulatorTest, PasswordLocksConfigurationUntilGiven) {
  Start({.password = 1234});
  sim_.SetRecord(1, Pattern(9));
  EXPECT_EQ(AskOne(cmd::kConfigRead, {0}).payload, (std::vector<uint8_t>{4}));
  EXPECT_EQ(AskOne(cmd::kDeleteTrack).payload, (std::vector<uint8_t>{4}));
  EXPECT_EQ(AskOne(cmd::kConfigWrite, WritePayload(1, Pattern(1))).payload, (std::vector<uint8_t>{4}));
  EXPECT_EQ(sim_.Record(1), Pattern(9));
  EXPECT_EQ(sim_.TrackDeleteCount(), 0);
  // Status polling is not locked.
  EXPECT_EQ(AskOne(cmd::kStatusRecord, {0}).payload.size(), 3u + 256u);

  EXPECT_EQ(AskOne(cmd::kPassword, {0xD3, 0x04}).payload, (std::vector<uint8_t>{1}));
  EXPECT_FALSE(sim_.Unlocked());
  EXPECT_EQ(AskOne(cmd::kPassword, {0xD2, 0x04}).payload, (std::vector<uint8_t>{0}));  // 1234 = 0x04D2
  EXPECT_TRUE(sim_.Unlocked());
  EXPECT_EQ(AskOne(cmd::kConfigRead, {1}).payload.size(), 4u + 512u);
  EXPECT_EQ(AskOne(cmd::kDeleteTrack).payload, (std::vector<uint8_t>{0}));
  EXPECT_EQ(sim_.TrackDeleteCount(), 1);
}

TEST_F(SimulatorTest, WriteThenReadRoundTrip) {
  const auto before = sim_.Record(0);
  EXPECT_EQ(link::GetU16(before.data() + 510), link::Crc16(before.data(), 510));
  // Record data that happens to hold a whole request frame is data, not a request.
  auto record = Pattern(42);
  const std::vector<uint8_t> inner = BuildRequestFrame(cmd::kIdentify, {});
  std::copy(inner.begin(), inner.end(), record.begin() + 100);
  EXPECT_EQ(AskOne(cmd::kConfigWrite, WritePayload(1, record)).payload, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(sim_.Record(0), before);

  const Answer a = AskOne(cmd::kConfigRead, {1});
  ASSERT_EQ(a.payload.size(), 516u);
  EXPECT_EQ(a.payload[0], 0);
  EXPECT_EQ(a.payload[1], 1);
  EXPECT_EQ(link::GetU16(a.payload.data() + 2), 512);
  EXPECT_TRUE(std::equal(a.payload.begin() + 4, a.payload.end(), record.begin()));
}

TEST_F(SimulatorTest, MalformedConfigRequestsAreRefused) {
  std::vector<uint8_t> short_length = WritePayload(0, Pattern(5));
  short_length[1] = 0x00;
  short_length[2] = 0x01;  // length 256
  EXPECT_EQ(AskOne(cmd::kConfigWrite, short_length).payload, (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(AskOne(cmd::kConfigWrite, {0, 0x00, 0x02, 1, 2}).payload, (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(AskOne(cmd::kConfigRead, {2}).payload, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(AskOne(cmd::kConfigRead).payload, (std::vector<uint8_t>{1, 0}));
  EXPECT_NE(sim_.Record(0), Pattern(5));
}

TEST_F(SimulatorTest, RestartIntoBootloaderChangesIdentify) {
  Start({.device_type = 8, .bootloader_version = 3, .password = 7});
  AskOne(cmd::kPassword, {7, 0});
  EXPECT_EQ(AskOne(cmd::kRestart, {1}).payload, (std::vector<uint8_t>{0}));
  EXPECT_TRUE(sim_.InBootloader());
  EXPECT_EQ(sim_.RestartCount(), 1);

  const Answer boot = AskOne(cmd::kIdentify);
  ASSERT_GE(boot.payload.size(), 5u);
  EXPECT_EQ(boot.payload[0], 0);
  EXPECT_EQ(boot.payload[1], 3);
  EXPECT_EQ(boot.payload[4], 8);
  EXPECT_TRUE(Ask(cmd::kStatusRecord, {1}).empty());  // the application is not running
  EXPECT_EQ(AskOne(cmd::kFirmwareStart).payload, (std::vector<uint8_t>{0}));

  EXPECT_EQ(AskOne(cmd::kRestart, {0}).payload, (std::vector<uint8_t>{0}));
  EXPECT_FALSE(sim_.InBootloader());
  EXPECT_EQ(sim_.RestartCount(), 2);
  EXPECT_FALSE(sim_.Unlocked());  // a restart asks for the password again
  EXPECT_EQ(AskOne(cmd::kIdentify).payload[0], 1);
  EXPECT_TRUE(Ask(cmd::kFirmwareStart).empty());
}

TEST_F(SimulatorTest, StatusRecordsAndUnknownKinds) {
  sim_.NavigationRecord()[255] = 0xAB;
  sim_.DeviceRecord()[511] = 0xCD;
  const Answer nav = AskOne(cmd::kStatusRecord, {0});
  ASSERT_EQ(nav.payload.size(), 3u + 256u);
  EXPECT_EQ(nav.payload[0], 0);
  EXPECT_EQ(link::GetU16(nav.payload.data() + 1), 256);
  EXPECT_EQ(nav.payload.back(), 0xAB);
  const Answer dev = AskOne(cmd::kStatusRecord, {1});
  ASSERT_EQ(dev.payload.size(), 3u + 512u);
  EXPECT_EQ(link::GetU16(dev.payload.data() + 1), 512);
  EXPECT_EQ(dev.payload.back(), 0xCD);
  EXPECT_TRUE(Ask(cmd::kStatusRecord, {2}).empty());
  EXPECT_TRUE(Ask(cmd::kStatusRecord).empty());
}

TEST_F(SimulatorTest, EventsAreReportedOnce) {
  sim_.QueueEvents({3, 7, 9});
  EXPECT_EQ(AskOne(cmd::kEventLog, {1}).payload, (std::vector<uint8_t>{3, 3, 7, 9}));
  EXPECT_EQ(AskOne(cmd::kEventLog, {1}).payload, (std::vector<uint8_t>{0}));
  sim_.QueueEvents(std::vector<uint8_t>(300, 5));
  EXPECT_EQ(AskOne(cmd::kEventLog, {1}).payload.size(), 256u);
  EXPECT_EQ(AskOne(cmd::kEventLog, {1}).payload[0], 45);
}

TEST_F(SimulatorTest, ForcedStatusReplacesAnswerAndChangesNothing) {
  Start({.forced_status = {{cmd::kConfigWrite, 5}, {cmd::kRestart, 2}, {cmd::kStatusRecord, 7}}});
  EXPECT_EQ(AskOne(cmd::kConfigWrite, WritePayload(1, Pattern(8))).payload, (std::vector<uint8_t>{5, 1}));
  EXPECT_NE(sim_.Record(1), Pattern(8));
  EXPECT_EQ(AskOne(cmd::kRestart, {1}).payload, (std::vector<uint8_t>{2}));
  EXPECT_FALSE(sim_.InBootloader());
  EXPECT_EQ(sim_.RestartCount(), 0);
  EXPECT_EQ(AskOne(cmd::kStatusRecord, {0}).payload, (std::vector<uint8_t>{7}));
}

TEST_F(SimulatorTest, SilentAndUnknownCommandsAnswerNothing) {
  EXPECT_TRUE(Ask(100).empty());
  EXPECT_TRUE(Ask(cmd::kFirmwareBlock, {0, 0, 0, 0, 0, 0}).empty());  // only in the bootloader
  sim_.Config().silent = true;
  EXPECT_TRUE(Ask(cmd::kIdentify).empty());
  EXPECT_EQ(sim_.ReceivedCommands(), (std::vector<uint8_t>{100, cmd::kFirmwareBlock, cmd::kIdentify}));
}

}  // namespace
}  // namespace rlv::sim

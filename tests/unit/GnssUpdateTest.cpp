// The GNSS receiver update against the simulator's emulated receiver.
#include <gtest/gtest.h>

#include <algorithm>

#include "ShippedFiles.h"
#include "TrackerSim.h"
#include "World.h"
#include "link/Bytes.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kDone = "Программирование завершено!";
// The size the receiver's agent is told (00 0A 17 13).
constexpr size_t kReceiverFirmwareSize = 0x000A1713;

// An agent whose check answers 67 8D, as the product's agent does: the 16-bit
// sum of its words as they go on the wire (each byte pair swapped).
Bytes MakeAgent(size_t size) {
  Bytes agent(size);
  for (size_t i = 0; i < size; ++i) agent[i] = static_cast<uint8_t>(i * 37 + 11);
  uint16_t sum = 0;
  for (size_t i = 0; i + 3 < size; i += 2)
    sum = static_cast<uint16_t>(sum + (agent[i] | (agent[i + 1] << 8)));
  const uint16_t last = static_cast<uint16_t>(0x678D - sum);
  agent[size - 2] = static_cast<uint8_t>(last);
  agent[size - 1] = static_cast<uint8_t>(last >> 8);
  return agent;
}

Bytes MakeReceiverFirmware() {
  Bytes firmware(kReceiverFirmwareSize);
  uint32_t x = 2463534242u;
  for (uint8_t& b : firmware) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return firmware;
}

struct Receiver : fake::World {
  Receiver() {
    sim.DeviceRecord()[233] = 105;
    env.dir.Write("language.lng", fake::ShippedLanguageFile());
    Start();
    env.clock.Advance(1200);
    shown.clear();
  }
  void Put(const std::string& name, const Bytes& bytes) {
    env.dir.Write(name, std::string(bytes.begin(), bytes.end()));
  }
  void PutFiles(const Bytes& agent) {
    Put("MT3333DA.bin", agent);
    Put("MT3333ROM.bin", MakeReceiverFirmware());
  }
  std::string Label() { return w().controls["Label28"].Text(); }
  bool Shown(const std::string& text) const {
    return std::find(shown.begin(), shown.end(), text) != shown.end();
  }
  // Writes of exactly `bytes` since write number `from`.
  std::vector<size_t> WritesOf(const Bytes& bytes, size_t from = 0) const {
    std::vector<size_t> at;
    const auto& writes = env.serial.Writes();
    for (size_t i = from; i < writes.size(); ++i) {
      if (writes[i].bytes == bytes) at.push_back(i);
    }
    return at;
  }
  // The link is back: the tracker answers in its application and is polled.
  bool LinkResumed(int ms) {
    return env.clock.RunUntil([&] { return w().link.Connected && !w().link.GnssUpdateMode; }, ms);
  }
};

TEST(GnssUpdate, RunsToTheEndAgainstTheEmulatedReceiver) {
  Receiver r;
  const Bytes agent = MakeAgent(14);
  r.PutFiles(agent);
  const size_t mark = r.env.serial.Writes().size();
  ASSERT_TRUE(r.w().controls.UserClick("GNSSUPD"));
  EXPECT_EQ(r.w().controls["RzPageControl1"].Index(), 2);
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.Label() == kDone; }, 120000));
  ASSERT_TRUE(r.LinkResumed(10000));

  EXPECT_TRUE(r.sim.Receiver().Finished());
  EXPECT_EQ(r.sim.Receiver().Agent(), agent);
  EXPECT_EQ(r.sim.Receiver().Firmware(), MakeReceiverFirmware());
  EXPECT_EQ(r.sim.Receiver().BadSums(), 0);
  EXPECT_EQ(r.w().controls["ProgressBar"].Position(), 100);
  // The step's text follows the language toggle.
  ASSERT_TRUE(r.w().controls.UserClick("LangImage"));
  EXPECT_EQ(r.Label(), "Programming complete!");

  const auto& writes = r.env.serial.Writes();
  // The bridge command, then five NMEA lines at 9600 and everything else at 115200.
  EXPECT_EQ(writes[mark].bytes, sim::BuildRequestFrame(52, {0x01, 0x80, 0x25, 0x00, 0x00}));
  const std::string pmtk = "$PMTK180*3B\r\n";
  const auto lines = r.WritesOf(Bytes(pmtk.begin(), pmtk.end()), mark);
  ASSERT_EQ(lines.size(), 5u);
  for (size_t at : lines) EXPECT_EQ(writes[at].baud, 9600);
  const auto sync = r.WritesOf({0xA0}, mark);
  ASSERT_FALSE(sync.empty());
  EXPECT_GT(sync.front(), lines.back());
  for (size_t i = sync.front(); i < writes.size(); ++i) {
    if (writes[i].bytes.size() >= 8 && writes[i].bytes[7] == 0) break;  // the link's own identify
    EXPECT_EQ(writes[i].baud, 115200) << i;
  }
  // The agent of 14 bytes (N = 7): its first ten bytes and then its last four
  // with six zeros, each byte pair swapped.
  EXPECT_EQ(r.WritesOf({0, 0, 0, 7}, mark).size(), 2u);  // steps 7 and 11
  Bytes first(agent.begin(), agent.begin() + 10);
  Bytes second(agent.begin() + 10, agent.end());
  second.resize(10, 0);
  for (Bytes* chunk : {&first, &second}) {
    for (size_t i = 0; i < 10; i += 2) std::swap((*chunk)[i], (*chunk)[i + 1]);
    EXPECT_EQ(r.WritesOf(*chunk, mark).size(), 1u);
  }
  // Firmware chunks of 1024 bytes and a last shorter one, each with its sum,
  // most significant byte first.
  const Bytes firmware = MakeReceiverFirmware();
  size_t chunks = 0;
  for (size_t from = 0; from < firmware.size(); from += 1024) {
    const size_t n = std::min<size_t>(1024, firmware.size() - from);
    Bytes chunk(firmware.begin() + static_cast<long>(from), firmware.begin() + static_cast<long>(from + n));
    uint16_t sum = 0;
    for (uint8_t b : chunk) sum = static_cast<uint16_t>(sum + b);
    chunk.push_back(static_cast<uint8_t>(sum >> 8));
    chunk.push_back(static_cast<uint8_t>(sum));
    chunks += r.WritesOf(chunk, mark).size() == 1 ? 1 : 0;
  }
  EXPECT_EQ(chunks, (firmware.size() + 1023) / 1024);
  // The end: D9 twice, the exit string and the restart.
  EXPECT_EQ(r.WritesOf({0xD9}, mark).size(), 2u);
  const std::string exit = ";;++x+y=z;";
  EXPECT_EQ(r.WritesOf(Bytes(exit.begin(), exit.end()), mark).size(), 1u);
  EXPECT_FALSE(r.WritesOf(sim::BuildRequestFrame(4, {0}), mark).empty());
}

TEST(GnssUpdate, AFirmwareChunkCarriesItsSumMostSignificantByteFirst) {
  // Three bytes 10 20 30 go out as 10 20 30 00 60; here as the last chunk of
  // a file the receiver is told the size of.
  Receiver r;
  Bytes firmware = MakeReceiverFirmware();
  const size_t tail = firmware.size() % 1024;
  ASSERT_GT(tail, 3u);
  r.Put("MT3333DA.bin", MakeAgent(20));
  r.Put("MT3333ROM.bin", firmware);
  r.w().firmware.GNSSUPDClick();
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.Label() == kDone; }, 120000));
  const Bytes last(firmware.end() - static_cast<long>(tail), firmware.end());
  uint16_t sum = 0;
  for (uint8_t b : last) sum = static_cast<uint16_t>(sum + b);
  Bytes expected = last;
  expected.push_back(static_cast<uint8_t>(sum >> 8));
  expected.push_back(static_cast<uint8_t>(sum & 0xFF));
  EXPECT_EQ(r.WritesOf(expected).size(), 1u);
}

TEST(GnssUpdate, ASilentReceiverTimesOutAndTheLinkResumes) {
  Receiver r;
  r.PutFiles(MakeAgent(20));
  r.sim.Receiver().silent = true;
  r.w().firmware.GNSSUPDClick();
  const int64_t since = r.env.clock.Now();
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.Shown("TimeOut!"); }, 30000));
  EXPECT_GE(r.env.clock.Now() - since, 14000);
  EXPECT_EQ(r.w().firmware.GnssStep, 0);
  ASSERT_TRUE(r.LinkResumed(10000));
}

TEST(GnssUpdate, AReceiverThatFallsSilentLaterTimesOutToo) {
  Receiver r;
  r.PutFiles(MakeAgent(200));
  r.w().firmware.GNSSUPDClick();
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.w().firmware.GnssStep == 8; }, 10000));
  r.sim.Receiver().silent = true;
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.Shown("TimeOut!"); }, 30000));
  ASSERT_TRUE(r.LinkResumed(10000));
}

TEST(GnssUpdate, StopEndsItCleanlyAndTheLinkResumes) {
  Receiver r;
  r.PutFiles(MakeAgent(2000));
  r.w().firmware.GNSSUPDClick();
  ASSERT_TRUE(r.env.clock.RunUntil([&] { return r.w().firmware.GnssStep == 8; }, 10000));
  const size_t mark = r.env.serial.Writes().size();
  EXPECT_TRUE(r.w().controls.UserClick("Button22"));
  EXPECT_EQ(r.w().firmware.GnssStep, 0);
  EXPECT_FALSE(r.w().link.GnssUpdateMode);
  const std::string exit = ";;++x+y=z;";
  ASSERT_GE(r.env.serial.Writes().size(), mark + 2);
  EXPECT_EQ(r.env.serial.Writes()[mark].bytes, Bytes(exit.begin(), exit.end()));
  EXPECT_EQ(r.env.serial.Writes()[mark + 1].bytes, sim::BuildRequestFrame(4, {0}));
  ASSERT_TRUE(r.LinkResumed(10000));
  EXPECT_FALSE(r.sim.Transparent());
}

TEST(GnssUpdate, MissingOrEmptyFilesStopBeforeTheTrackerIsBridged) {
  struct Case {
    bool agent;
    bool agent_empty;
    bool firmware;
    const char* text;
  };
  for (const Case& k : {Case{false, false, true, "Файл загрузчика не доступен. Проверьте путь!"},
                        Case{true, true, true, "Файл загрузчика не доступен. Проверьте путь!"},
                        Case{true, false, false, "Файл прошивки не доступен. Проверьте путь!"}}) {
    Receiver r;
    if (k.agent) r.Put("MT3333DA.bin", k.agent_empty ? Bytes{} : MakeAgent(20));
    if (k.firmware) r.Put("MT3333ROM.bin", MakeReceiverFirmware());
    const size_t mark = r.env.serial.Writes().size();
    r.w().firmware.GNSSUPDClick();
    EXPECT_EQ(r.shown, std::vector<std::string>{k.text});
    EXPECT_TRUE(r.SentCommands(mark).empty() ||
                std::find(r.SentCommands(mark).begin(), r.SentCommands(mark).end(), 52) ==
                    r.SentCommands(mark).end());
    EXPECT_FALSE(r.w().link.GnssUpdateMode);
    EXPECT_TRUE(r.w().link.Connected);
  }
}

TEST(GnssUpdate, APortThatDoesNotReopenStopsAndTheSearchGoesOn) {
  Receiver r;
  r.PutFiles(MakeAgent(20));
  r.env.serial.RefuseOpen(fake::World::kTrackerPort,
                          {platform::OpenErrorKind::Busy, "Device or resource busy", ""});
  r.w().firmware.GNSSUPDClick();
  EXPECT_TRUE(r.Shown("Не удается открыть порт!"));
  EXPECT_FALSE(r.w().link.GnssUpdateMode);
  EXPECT_TRUE(r.w().link.Searching);
  EXPECT_EQ(r.w().firmware.GnssStep, 0);
}

TEST(GnssUpdate, RepliesBeyond4096BytesStartTheCollectionAgain) {
  Receiver r;
  r.PutFiles(MakeAgent(20));
  r.sim.Receiver().silent = true;
  r.w().firmware.GNSSUPDClick();
  r.env.serial.Inject(Bytes(4000, 0x11));
  EXPECT_EQ(r.w().firmware.GnssReceived, 4000);
  r.env.serial.Inject(Bytes(200, 0x22));
  EXPECT_EQ(r.w().firmware.GnssReceived, 0);
  r.w().controls.UserClick("Button22");
}

}  // namespace
}  // namespace rlv

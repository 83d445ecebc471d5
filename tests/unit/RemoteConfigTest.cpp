// Remote configuration through the tracker's GPRS link: the listening port,
// the tunnel, the identification, the deferred stop and the daily log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TrackerSim.h"
#include "TunnelWorld.h"
#include "link/Codepage.h"
#include "net/RemoteConfig.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using fake::FakePeer;
using fake::TunnelWorld;

struct Remote : TunnelWorld {
  explicit Remote(sim::SimConfig config = {}) : TunnelWorld(std::move(config)) {
    env.dir.Write("language.lng", "[Strings]\nStr3=Open port\nStr54=Close\n");
  }
  std::string Text(const std::string& name) { return w().controls[name].Text(); }
  bool Shown(const std::string& text) const {
    return std::find(shown.begin(), shown.end(), text) != shown.end();
  }
  bool RunUntil(const std::function<bool()>& done, int ms) { return env.clock.RunUntil(done, ms); }
  std::string Log() { return link::Cp1251ToUtf8(env.dir.Read("Log/2026-12-09.log")); }
  // Connects the tracker and waits until it is identified.
  std::shared_ptr<FakePeer> Identified(const std::string& from = "10.0.0.5") {
    auto p = ConnectTracker(from);
    EXPECT_TRUE(p != nullptr);
    EXPECT_TRUE(RunUntil([&] { return w().link.Connected; }, 5000));
    // The first status record starts the automatic read of the configuration.
    EXPECT_TRUE(RunUntil([&] { return Shown("Message6"); }, 15000));
    shown.clear();
    return p;
  }
};

Bytes Answer(uint8_t command, const Bytes& payload) {
  return sim::BuildResponseFrame(command, payload);
}

Bytes Cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ---- Opening and closing the port

TEST(RemotePort, OpensListensAndPausesTheSearch) {
  Remote r;
  r.StartListening();
  EXPECT_TRUE(r.w().remote.Listening());
  EXPECT_EQ(r.w().remote.ListeningPort(), 12500);
  EXPECT_EQ(r.w().controls["Button1"].Tag(), 1);
  EXPECT_EQ(r.Text("Button1"), "Close");
  EXPECT_EQ(r.Text("ConfServState"), "Message40");
  EXPECT_EQ(r.Text("ComPortDeviceCaption"), "Remote config: wait ...");
  EXPECT_FALSE(r.w().link.Searching);
  // No port is probed while listening.
  const size_t opens = static_cast<size_t>(r.env.serial.OpenCount());
  r.env.clock.Advance(5000);
  EXPECT_EQ(static_cast<size_t>(r.env.serial.OpenCount()), opens);

  r.w().controls.UserClick("Button1");
  EXPECT_FALSE(r.w().remote.Listening());
  EXPECT_EQ(r.env.network.ServerOn(12500), nullptr);
  EXPECT_EQ(r.w().controls["Button1"].Tag(), 0);
  EXPECT_EQ(r.Text("Button1"), "Open port");
  EXPECT_EQ(r.Text("ConfServState"), "Message138");
  EXPECT_TRUE(r.w().link.Searching);
}

TEST(RemotePort, AUsbTrackerKeepsThePortClosedWithMessage135) {
  fake::World world;  // a tracker on USB
  world.Start();
  world.env.clock.Advance(1200);
  world.w().controls.UserClick("Button1");
  EXPECT_FALSE(world.w().remote.Listening());
  EXPECT_EQ(world.shown.back(), "Message135");
  EXPECT_EQ(world.w().controls["Button1"].Tag(), 0);
}

TEST(RemotePort, EmptyFieldListensOnAPortTheSystemChooses) {
  Remote r;
  r.StartListening("");
  ASSERT_TRUE(r.w().remote.Listening());
  EXPECT_NE(r.w().remote.ListeningPort(), 0);
}

TEST(RemotePort, APortInUseIsReportedAndThePageStaysClosed) {
  Remote r;
  r.env.network.RefuseListen(12500, "The bound address is already in use");
  r.StartListening();
  EXPECT_FALSE(r.w().remote.Listening());
  EXPECT_EQ(r.w().controls["Button1"].Tag(), 0);
  ASSERT_FALSE(r.shown.empty());
  EXPECT_NE(r.shown.back().find("12500"), std::string::npos);
  EXPECT_NE(r.shown.back().find("already in use"), std::string::npos);
  EXPECT_TRUE(r.w().link.Searching);
}

TEST(RemotePort, ListensOnTheAddressOfTheSettings) {
  Remote r;
  r.env.dir.Write("config.ini", "[Settings]\nRemoteListenAddress=127.0.0.1\n");
  r.StartListening();
  ASSERT_NE(r.env.network.ServerOn(12500), nullptr);
  EXPECT_EQ(r.env.network.ServerOn(12500)->Address(), "127.0.0.1");
}

// ---- The tracker through the tunnel

TEST(RemoteTunnel, IdentifiedAtTheFirstTickThenPolledEvery244Ticks) {
  Remote r;
  r.StartListening();
  r.hold_answers = true;  // the tracker does not answer yet
  auto p = r.ConnectTracker("10.0.0.5");
  ASSERT_TRUE(p);
  ASSERT_TRUE(r.RunUntil([&] { return r.w().link.RemoteTunnelOpen; }, 100));
  EXPECT_EQ(r.Text("ConfServState"), "Message121, IP:10.0.0.5");
  EXPECT_EQ(r.w().link.RemotePeerAddress, "10.0.0.5");
  // The first identification leaves at the first second, then every 3 s.
  std::vector<int64_t> identify_times;
  p->on_receive = [&](FakePeer&, const Bytes& bytes) {
    if (bytes.size() >= 8 && bytes[7] == 0) identify_times.push_back(r.env.clock.Now());
    r.sim.Feed(bytes);
  };
  const int64_t connected = r.env.clock.Now();
  r.env.clock.Advance(7500);
  ASSERT_EQ(identify_times.size(), 3u);
  EXPECT_LE(identify_times[0] - connected, 1000 + r.env.network.Latency());
  EXPECT_EQ(identify_times[1] - identify_times[0], 3000);
  EXPECT_EQ(identify_times[2] - identify_times[1], 3000);

  r.hold_answers = false;
  ASSERT_TRUE(r.RunUntil([&] { return r.w().link.Connected; }, 4000));
  EXPECT_EQ(r.Text("ComPortDeviceCaption"), "10.0.0.5: RL20Vexa");
  EXPECT_EQ(r.w().link.RemoteIdentifyCountdown, 0);
  EXPECT_TRUE(r.w().link.RemoteModeActive);

  // Polls (events, then both status records) every 2.44 s.
  r.env.clock.Advance(3000);
  p->ClearReceived();
  r.env.clock.Advance(2440 * 4);
  const auto polls = TunnelWorld::Frames(*p, 41);
  EXPECT_EQ(polls.size(), 4u);
  EXPECT_EQ(TunnelWorld::Frames(*p, 34).size(), 8u);
}

TEST(RemoteTunnel, ConfigurationReadAndWriteThroughTheTunnelThenPollsResume) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.shown.clear();
  r.w().controls.UserClick("MImage7");
  EXPECT_TRUE(r.w().link.RemoteOperationPending);
  ASSERT_TRUE(r.RunUntil([&] { return r.Shown("Message6"); }, 10000));
  // Polls are suspended only while the read runs.
  EXPECT_FALSE(r.w().link.RemoteOperationPending);
  p->ClearReceived();
  r.env.clock.Advance(2500);
  EXPECT_FALSE(TunnelWorld::Frames(*p, 34).empty());

  const auto before = r.sim.Record(0);
  r.w().controls["SERVERIP"].SetText("192.0.2.77:21115");
  r.shown.clear();
  r.env.dialogs.QueueConfirm(true);  // the review before the write
  r.w().controls.UserClick("MImage6");
  ASSERT_TRUE(r.RunUntil([&] { return r.Shown("Message7"); }, 10000));
  EXPECT_NE(r.sim.Record(0), before);
  EXPECT_TRUE(std::equal(r.sim.Record(0).begin(), r.sim.Record(0).end(), r.w().config.ConfigBlock1.begin()));
  // Read back: the page shows what was written.
  r.w().controls["SERVERIP"].SetText("0.0.0.0");
  r.shown.clear();
  r.w().controls.UserClick("MImage7");
  ASSERT_TRUE(r.RunUntil([&] { return r.Shown("Message6"); }, 10000));
  EXPECT_EQ(r.Text("SERVERIP"), "192.0.2.77:21115");
}

TEST(RemoteTunnel, AnUnansweredReadSuspendsPollsForItsTenSecondLimit) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.hold_answers = true;
  r.w().controls.UserClick("MImage7");
  EXPECT_TRUE(r.w().link.RemoteOperationPending);
  // Over the tunnel the progress page stays up.
  EXPECT_EQ(r.w().controls["PageControlMes"].Index(), 3);
  p->ClearReceived();
  r.env.clock.Advance(49 * 200);
  EXPECT_TRUE(r.w().link.RemoteOperationPending);
  EXPECT_TRUE(TunnelWorld::Frames(*p, 34).empty());
  EXPECT_TRUE(TunnelWorld::Frames(*p, 41).empty());
  r.env.clock.Advance(200);
  EXPECT_FALSE(r.w().link.RemoteOperationPending);
  r.env.clock.Advance(20);
  EXPECT_EQ(TunnelWorld::Frames(*p, 41).size(), 1u);
  EXPECT_GE(r.w().link.PollCountdown, 242);
}

TEST(RemoteTunnel, FramesSplitAcrossReadsAndMergedInOneReadAreAllDispatched) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.env.clock.Advance(1000);
  // A test-packet answer split in three pieces, then two answers in one piece.
  const Bytes ok61 = Answer(61, {0});
  const Bytes bad61 = Answer(61, {1});
  r.shown.clear();
  p->Send(Bytes(ok61.begin(), ok61.begin() + 3));
  p->Send(Bytes(ok61.begin() + 3, ok61.begin() + 7));
  p->Send(Bytes(ok61.begin() + 7, ok61.end()));
  r.env.clock.Advance(50);
  ASSERT_EQ(r.shown.size(), 1u);
  EXPECT_EQ(r.shown[0], "Message38");
  p->Send(Cat({bad61, {'S'}, ok61}));
  r.env.clock.Advance(50);
  ASSERT_EQ(r.shown.size(), 3u);
  EXPECT_EQ(r.shown[1], "Message68");
  EXPECT_EQ(r.shown[2], "Message38");
}

TEST(RemoteTunnel, StrayBytesBadCrcsAndAHugeLengthLoseNoLaterFrame) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.env.clock.Advance(1000);
  Bytes corrupt = Answer(61, {1});
  corrupt.back() ^= 0xFF;
  const Bytes ok61 = Answer(61, {0});
  r.shown.clear();
  // "SLRL" with a length no frame can have, then garbage, a bad CRC and a good frame.
  p->Send(Cat({{'S', 'L', 'R', 'L', 0xFF, 0xFF, 0x55}, {0x00, 'S', 'L', 0x13}, corrupt, ok61}));
  r.env.clock.Advance(50);
  ASSERT_EQ(r.shown.size(), 1u);
  EXPECT_EQ(r.shown[0], "Message38");

  // An unfinished frame that never completes is dropped after a few seconds,
  // and a frame behind it is still found.
  r.shown.clear();
  Bytes cut(ok61.begin(), ok61.end() - 2);
  cut[4] = 40;  // claims more bytes than will ever come
  p->Send(Cat({cut, ok61}));
  r.env.clock.Advance(50);
  EXPECT_TRUE(r.shown.empty());
  r.env.clock.Advance(net::RemoteConfig::kPendingTicks * 1000);
  ASSERT_EQ(r.shown.size(), 1u);
  EXPECT_EQ(r.shown[0], "Message38");
}

TEST(RemoteTunnel, ASecondPeerIsRefusedAndLoggedAndTheFirstStays) {
  Remote r;
  r.StartListening();
  auto first = r.Identified("10.0.0.5");
  auto second = r.env.network.ConnectToServer(12500, "198.51.100.9");
  ASSERT_TRUE(second);
  r.env.clock.Advance(50);
  EXPECT_FALSE(second->IsOpen());
  EXPECT_EQ(r.w().link.RemotePeerAddress, "10.0.0.5");
  EXPECT_EQ(r.Text("ComPortDeviceCaption"), "10.0.0.5: RL20Vexa");
  EXPECT_NE(r.Log().find("198.51.100.9"), std::string::npos);
  // The first tracker still answers.
  first->ClearReceived();
  r.env.clock.Advance(2500);
  EXPECT_FALSE(TunnelWorld::Frames(*first, 34).empty());
  EXPECT_TRUE(second->Received().empty());
}

TEST(RemoteTunnel, APeerOffTheAllowListIsClosedAtOnce) {
  Remote r;
  r.env.dir.Write("config.ini", "[Settings]\nRemoteAllowedPeers=10.0.0.5, 10.0.0.6\n");
  r.StartListening();
  auto stranger = r.ConnectTracker("203.0.113.1");
  r.env.clock.Advance(3000);
  EXPECT_FALSE(stranger->IsOpen());
  EXPECT_FALSE(r.w().link.RemoteTunnelOpen);
  EXPECT_NE(r.Log().find("203.0.113.1"), std::string::npos);
  auto known = r.ConnectTracker("10.0.0.6");
  ASSERT_TRUE(r.RunUntil([&] { return r.w().link.Connected; }, 5000));
  EXPECT_TRUE(known->IsOpen());
}

// ---- Losing the connection

TEST(RemoteTunnel, APeerThatClosesStopsTheServerOnTheNextSecond) {
  for (const bool reset : {false, true}) {
    Remote r;
    r.StartListening();
    auto p = r.Identified();
    ASSERT_TRUE(r.w().controls["MImage7"].Enabled());
    r.shown.clear();
    if (reset) {
      p->Reset();
    } else {
      p->Close();
    }
    r.env.clock.Advance(r.env.network.Latency());
    EXPECT_EQ(r.shown.back(), reset ? "Message137" : "Message136");
    // The stop waits for the 1-second tick.
    EXPECT_TRUE(r.w().link.RemoteStopRequested);
    EXPECT_TRUE(r.w().remote.Listening());
    r.env.clock.Advance(1000);
    EXPECT_FALSE(r.w().remote.Listening());
    EXPECT_FALSE(r.w().link.RemoteStopRequested);
    EXPECT_EQ(r.Text("ConfServState"), "Message138");
    EXPECT_EQ(r.Text("Button1"), "Open port");
    // The remote tracker is gone as if unplugged.
    EXPECT_FALSE(r.w().link.Connected);
    EXPECT_FALSE(r.w().link.RemoteTunnelOpen);
    EXPECT_FALSE(r.w().link.RemoteModeActive);
    EXPECT_FALSE(r.w().controls["MImage7"].Enabled());
    EXPECT_TRUE(r.w().link.Searching);
    EXPECT_TRUE(std::all_of(r.w().monitoring.DeviceRecord.begin(), r.w().monitoring.DeviceRecord.end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_NE(r.Log().find(reset ? "Ошибка удаленного подключения: 10054" : "Удаленное соединение закрыто!"),
              std::string::npos);
  }
}

TEST(RemoteTunnel, ASilentPeerIsClosedAfterAMinute) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  p->Vanish();
  r.env.clock.Advance(55000);
  EXPECT_TRUE(r.w().remote.Listening());
  r.env.clock.Advance(8000);
  EXPECT_FALSE(r.w().remote.Listening());
  EXPECT_FALSE(r.w().link.Connected);
  EXPECT_NE(r.Log().find("60 с"), std::string::npos);
}

TEST(RemoteTunnel, ClosingWithTheButtonDropsTheConnectionAtOnce) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.w().controls.UserClick("Button1");
  r.env.clock.Advance(10);
  EXPECT_FALSE(p->IsOpen());
  EXPECT_TRUE(p->ClosedByConfigurator());
  EXPECT_EQ(r.Text("ConfServState"), "Message138");
  EXPECT_FALSE(r.w().link.Connected);
  EXPECT_EQ(r.w().codec.SendPacket(0, nullptr, 0), -1);
}

// ---- The log

TEST(RemoteLog, LinesOfTheSessionInTheDaysFile) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  const std::string raw = r.env.dir.Read("Log/2026-12-09.log");
  // Windows-1251, CR LF, local time with milliseconds.
  const std::string connected = link::Utf8ToCp1251("] - Установлено удаленное подключение, IP:10.0.0.5\r\n");
  EXPECT_NE(raw.find(connected), std::string::npos);
  EXPECT_EQ(raw.rfind("[12:00:", 0), 0u);
  EXPECT_EQ(raw.substr(14, 3), " - ");
  const std::string log = r.Log();
  // The identify request as sent, in one run of upper-case pairs.
  EXPECT_NE(log.find("Отправлены данные: 534C524C0200AA00"), std::string::npos);
  EXPECT_NE(log.find("Приняты данные: 534C524C"), std::string::npos);
  for (size_t at = 0; (at = raw.find('\n', at)) != std::string::npos; ++at) EXPECT_EQ(raw[at - 1], '\r');
}

TEST(RemoteLog, AFloodFillsTheDaysLogOnlyToItsLimitAndSaysSoOnce) {
  Remote r;
  r.StartListening();
  auto p = r.ConnectTracker();
  ASSERT_TRUE(p != nullptr);
  constexpr uint64_t kLimit = net::RemoteConfig::kLogDayLimit;
  const Bytes noise(net::RemoteConfig::kReadChunk, 0x11);
  // Every byte received is logged as two digits: this is well past the limit.
  for (uint64_t sent = 0; sent < kLimit / 2 + 64 * 1024; sent += noise.size()) {
    p->Send(noise);
    r.env.clock.Advance(3);
  }
  const std::string log = r.env.dir.Read("Log/2026-12-09.log");
  EXPECT_LE(log.size(), kLimit);
  EXPECT_GT(log.size(), kLimit - 4 * noise.size());
  const std::string stopped = link::Utf8ToCp1251(net::RemoteConfig::kLogStopped) + "\r\n";
  EXPECT_EQ(log.find(stopped), log.size() - stopped.size());  // once, and last
}

TEST(RemoteLog, ALinkInTheLogsPlaceIsNotFollowed) {
  Remote r;
  r.env.dir.Write("victim.txt", "keep me");
  std::filesystem::create_directory(r.env.dir.File("Log"));
  std::error_code ec;
  std::filesystem::create_symlink(r.env.dir.File("victim.txt"), r.env.dir.File("Log/2026-12-09.log"), ec);
#ifdef _WIN32
  if (ec) GTEST_SKIP() << ec.message();  // no links from the standard library on Windows
#endif
  ASSERT_FALSE(ec) << ec.message();
  r.StartListening();
  r.Identified();
  EXPECT_EQ(r.env.dir.Read("victim.txt"), "keep me");
  EXPECT_TRUE(std::filesystem::is_symlink(r.env.dir.File("Log/2026-12-09.log")));
}

TEST(RemoteLog, AnUnwritableLogFolderStopsNothing) {
  Remote r;
  r.env.dir.Write("Log", "a file where the folder belongs");
  r.StartListening();
  r.Identified();
  EXPECT_TRUE(r.w().link.Connected);
}

// ---- Test buttons

TEST(RemoteTestButtons, TestPacketAndTestSmsGoThroughTheTunnel) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.w().controls["DISPNUMBER"].SetText("+79991234567");
  p->ClearReceived();
  r.w().controls.UserClick("SENDTESTPACK");
  r.w().controls.UserClick("Button21");
  r.env.clock.Advance(10);
  const auto test = TunnelWorld::Frames(*p, 61);
  ASSERT_EQ(test.size(), 1u);
  EXPECT_EQ(test[0], sim::BuildRequestFrame(61, {0}));
  const auto sms = TunnelWorld::Frames(*p, 176);
  ASSERT_EQ(sms.size(), 1u);
  const std::string number = "+79991234567";
  Bytes payload(number.begin(), number.end());
  payload.push_back(0);
  EXPECT_EQ(sms[0], sim::BuildRequestFrame(176, payload));
}

TEST(RemoteTestButtons, ANumberLongerThan31CharactersIsRefused) {
  Remote r;
  r.StartListening();
  auto p = r.Identified();
  r.w().controls["DISPNUMBER"].SetText(std::string(31, '7'));
  p->ClearReceived();
  r.w().controls.UserClick("Button21");
  r.env.clock.Advance(10);
  ASSERT_EQ(TunnelWorld::Frames(*p, 176).size(), 1u);
  EXPECT_EQ(TunnelWorld::Frames(*p, 176)[0].size(), 10u + 32u);
  r.w().controls["DISPNUMBER"].SetText(std::string(32, '7'));
  r.shown.clear();
  r.w().controls.UserClick("Button21");
  r.env.clock.Advance(10);
  EXPECT_EQ(TunnelWorld::Frames(*p, 176).size(), 1u);
  ASSERT_FALSE(r.shown.empty());
  EXPECT_NE(r.shown.back().find(std::string(32, '7')), std::string::npos) << r.shown.back();
}

}  // namespace
}  // namespace rlv

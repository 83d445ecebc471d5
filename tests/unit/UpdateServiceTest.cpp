// The update and news service against scripted update servers on the
// in-memory network: the offers, the download into "Downloads" with what a
// hostile server may send, flashing a downloaded image, and the news.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "FakeNetwork.h"
#include "World.h"
#include "config/ConfigFile.h"
#include "link/Bytes.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using fake::FakePeer;
namespace fs = std::filesystem;

constexpr uint16_t kPort = 10500;
constexpr const char* kNewConfigurator = "ConfiguratorRLvexa_v1.0.0.1.exe";

// An update server: answers the three questions and serves its files.
struct UpdateServer {
  std::string configurator = "none";
  std::string firmware = "none";
  std::string news;
  // name -> (path announced in the header, body)
  std::map<std::string, std::pair<std::string, std::string>> files;
  size_t piece = 0;  // the body in pieces of this many bytes (0 = whole)
  std::vector<std::string> questions;
  int64_t connected_at = -1;
  int64_t asked_at = -1;
  int connections = 0;

  void Serve(fake::World& world, const std::string& host) {
    fake::FakeClock& clock = world.env.clock;
    world.env.network.Listen(host, kPort, [this, &clock](std::shared_ptr<FakePeer> peer) {
      ++connections;
      connected_at = clock.Now();
      peer->on_receive = [this, &clock](FakePeer& p, const Bytes&) {
        const std::string text = p.ReceivedText();
        if (text.find("EndTransfer") != std::string::npos) return;
        questions.push_back(text);
        asked_at = clock.Now();
        if (text == "Get_CONFUPD:Vexa#") {
          p.Send(configurator);
        } else if (text.rfind("Get_FW,type=", 0) == 0) {
          p.Send(firmware);
        } else if (text == "+++GetNews+++") {
          if (!news.empty()) p.Send("#News#" + news);
        } else if (text.rfind("GetFile=", 0) == 0) {
          auto it = files.find(text.substr(8, text.size() - 9));
          if (it == files.end()) {
            p.Send("file not exists");
            return;
          }
          const std::string& body = it->second.second;
          p.Send("file#" + it->second.first + "#" + std::to_string(body.size()) + "#");
          const size_t step = piece == 0 ? body.size() : piece;
          for (size_t at = 0; at < body.size(); at += step) p.Send(body.substr(at, step));
        }
      };
    });
  }
};

Bytes Image(uint8_t version, uint16_t b1, uint16_t b2, uint8_t b3, size_t body = 4096) {
  Bytes file(512 + body);
  std::copy_n("SLFW", 4, file.begin());
  file[4] = 8;
  file[5] = version;
  link::PutU32(file.data() + 8, static_cast<uint32_t>(body));
  link::PutU32(file.data() + 12, 0x1234);
  link::PutU16(file.data() + 20, b1);
  link::PutU16(file.data() + 22, b2);
  file[24] = b3;
  for (size_t i = 512; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 13);
  return file;
}

// A simulated tracker that reports firmware `version` build b1.b2.b3.
sim::SimConfig TrackerAt(uint8_t version, uint16_t b1, uint16_t b2, uint16_t b3) {
  sim::SimConfig sim;
  sim.firmware_version = version;
  sim.build[0] = b1;
  sim.build[1] = b2;
  sim.build[2] = b3;
  return sim;
}

struct Updates : fake::World {
  explicit Updates(std::string settings = "DisableNews=1\n", bool plugged = false,
                   sim::SimConfig tracker = {})
      : fake::World(std::move(tracker), plugged) {
    env.dir.Write("config.ini", "[Address]\nServerAdr=upd1\nServerAdr2=upd2\n[Settings]\n" + settings);
    std::ifstream in(std::string(RLVEXA_SOURCE_DIR) + "/data/language.lng", std::ios::binary);
    env.dir.Write("language.lng", std::string(std::istreambuf_iterator<char>(in), {}));
  }
  void Begin(int ms = 300) {
    Start();
    env.clock.Advance(ms);
  }
  ui::Control& C(const std::string& name) { return w().controls[name]; }
  std::string M(int number) { return w().messages.GetMessageA(number); }
  std::string T(const char* key) { return w().messages.GetStringOr("Cloud", key, "?"); }
  std::string Downloads() { return env.dir.File("Downloads"); }
  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Offers the configurator build and takes it with the radio group at `action`.
  void TakeOffer(int action) {
    ASSERT_TRUE(C("Panel32").Visible());
    ASSERT_TRUE(w().controls.UserSelect("RzRadioGroup1", action));
    ASSERT_TRUE(w().controls.UserClick("Button29"));
    env.clock.Advance(500);
  }
};

// ---- Offers ---------------------------------------------------------------------

TEST(UpdateOffer, NewerConfiguratorBuildAtStart) {
  Updates f;
  UpdateServer server;
  server.configurator = kNewConfigurator;
  server.Serve(f, "upd1");
  f.Begin();
  EXPECT_EQ(server.questions, (std::vector<std::string>{"Get_CONFUPD:Vexa#"}));
  EXPECT_GE(server.asked_at - server.connected_at, 100);  // the pause, on the loop
  EXPECT_TRUE(f.C("Panel32").Visible());
  EXPECT_EQ(f.C("Label429").Text(), kNewConfigurator);
  EXPECT_EQ(f.C("Label430").Text(), "На сервере доступна новая версия конфигуратора. Хотите скачать?");
  EXPECT_EQ(f.C("Label430").Tag(), 2);
  EXPECT_TRUE(f.env.network.Peers()[0]->ClosedByConfigurator());
}

TEST(UpdateOffer, NoOfferForOlderSameOrNamesWithoutRL) {
  for (const char* answer : {"ConfiguratorRLvexa_v1.0.0.0.exe", "ConfiguratorRLvexa_v0.10.0.0.exe",
                             "Configurator_v9.0.0.0.exe", "none", "ConfiguratorRLvexa_v9.0#x.exe", ""}) {
    Updates f;
    UpdateServer server;
    server.configurator = answer;
    server.Serve(f, "upd1");
    f.Begin();
    EXPECT_FALSE(f.C("Panel32").Visible()) << answer;
  }
}

TEST(UpdateOffer, NothingIsAskedWithoutAServerInTheSettings) {
  fake::World f(sim::SimConfig{}, true);
  f.Start();
  f.env.clock.Advance(20000);
  EXPECT_TRUE(f.env.network.Peers().empty());
  EXPECT_GE(f.w().monitoring.FirmwareQueries, 1);
}

TEST(UpdateOffer, FirmwareForTheTrackersBuild) {
  const sim::SimConfig sim = TrackerAt(5, 12, 33, 8);
  Updates f("DisableNews=1\n", true, sim);
  UpdateServer server;
  server.firmware = "fw5_0012.0034.08.bin";
  server.Serve(f, "upd1");
  f.Begin(3000);
  ASSERT_FALSE(server.questions.empty());
  EXPECT_EQ(server.questions.back(), "Get_FW,type=8");
  EXPECT_TRUE(f.C("Panel32").Visible());
  EXPECT_EQ(f.C("Label430").Tag(), 1);
  EXPECT_EQ(f.C("Label429").Text(), "fw5_0012.0034.08.bin");

  // Another last build part is never newer; on the firmware page that is said.
  f.C("Panel32").SetVisible(false);
  server.firmware = "fw5_0012.0034.07.bin";
  f.w().shell.SelectPage(4);
  f.shown.clear();
  ASSERT_TRUE(f.w().controls.UserClick("Getfirmware"));
  f.env.clock.Advance(500);
  EXPECT_EQ(server.questions.back(), "Get_FW,type=8");
  EXPECT_FALSE(f.C("Panel32").Visible());
  EXPECT_EQ(f.shown, (std::vector<std::string>{f.M(115)}));
}

TEST(UpdateOffer, QuestionTriesTheNextServerThenReportsTheError) {
  Updates f;
  f.env.network.FailConnect("upd1", kPort, platform::SocketError::ConnectionRefused);
  f.env.network.FailConnect("upd2", kPort, platform::SocketError::HostNotFound);
  f.Begin(100);
  EXPECT_TRUE(f.shown.empty());
  f.env.clock.Advance(1000);
  EXPECT_EQ(f.shown, (std::vector<std::string>{"Update Server Error: 11001 (имя сервера не найдено)"}));

  Updates g;
  UpdateServer second;
  second.configurator = kNewConfigurator;
  g.env.network.FailConnect("upd1", kPort, platform::SocketError::ConnectionRefused);
  second.Serve(g, "upd2");
  g.Begin(1500);
  EXPECT_TRUE(g.C("Panel32").Visible());
  EXPECT_TRUE(g.shown.empty());
}

TEST(UpdateOffer, ASilentServerIsLeftAfterTenSeconds) {
  Updates f;
  f.env.network.Listen("upd1", kPort, [](std::shared_ptr<FakePeer>) {});
  f.Begin(9000);
  ASSERT_EQ(f.env.network.Peers().size(), 1u);
  EXPECT_TRUE(f.env.network.Peers()[0]->IsOpen());
  f.env.clock.Advance(2000);
  EXPECT_TRUE(f.env.network.Peers()[0]->ClosedByConfigurator());
  EXPECT_TRUE(f.shown.empty());
}

// ---- News -----------------------------------------------------------------------

TEST(UpdateNews, ShownOnceTenSecondsAfterStart) {
  Updates f("DisableNews=0\n");
  UpdateServer server;
  server.news = "Hello <b>fleet</b>";
  server.Serve(f, "upd1");
  f.Begin(9000);
  EXPECT_FALSE(f.C("NewsPanel").Visible());
  f.env.clock.Advance(1500);
  EXPECT_TRUE(f.C("NewsPanel").Visible());
  EXPECT_EQ(f.C("NewsCaption").Text(), "Hello <b>fleet</b>");  // as it came, never markup
  EXPECT_EQ(f.C("Label73").Text(), "News! News! News!");
  ASSERT_TRUE(f.w().controls.UserClick("NewsCaption"));
  EXPECT_FALSE(f.C("NewsPanel").Visible());
  f.env.clock.Advance(60000);
  EXPECT_EQ(std::count(server.questions.begin(), server.questions.end(), "+++GetNews+++"), 1);
  EXPECT_FALSE(f.C("NewsPanel").Visible());
}

TEST(UpdateNews, NeverAskedWhenDisabled) {
  Updates f("DisableNews=1\n");
  UpdateServer server;
  server.news = "Hello";
  server.Serve(f, "upd1");
  f.Begin(60000);
  EXPECT_EQ(std::count(server.questions.begin(), server.questions.end(), "+++GetNews+++"), 0);
  EXPECT_FALSE(f.C("NewsPanel").Visible());
}

TEST(UpdateNews, TickingTheBoxHidesThePanelAndIsKept) {
  Updates f("DisableNews=0\n");
  UpdateServer server;
  server.news = "Hello";
  server.Serve(f, "upd1");
  f.Begin(11000);
  ASSERT_TRUE(f.C("NewsPanel").Visible());
  ASSERT_TRUE(f.w().controls.UserCheck("DisableNews", true));
  EXPECT_FALSE(f.C("NewsPanel").Visible());
  f.w().FormClose();
  EXPECT_NE(f.env.dir.Read("config.ini").find("DisableNews=1"), std::string::npos);
}

// ---- The file transfer ------------------------------------------------------------

struct Offered : Updates {
  explicit Offered(const std::string& path, std::string body, size_t piece = 0) {
    server.configurator = kNewConfigurator;
    server.files[kNewConfigurator] = {path, std::move(body)};
    server.piece = piece;
    server.Serve(*this, "upd1");
    Begin();
  }
  UpdateServer server;
};

TEST(UpdateFile, DownloadOnlySavesUnderTheLastComponentWithProgress) {
  Offered f("builds\\conf\\ConfiguratorRLvexa_v1.0.0.1.exe", std::string(1000, 'c'), 300);
  std::vector<int> bar;
  f.w().controls.Observe([&](const ui::Control& c, ui::Prop prop) {
    if (c.Name() == "RzProgressBar3" && prop == ui::Prop::Position) bar.push_back(c.Position());
  });
  f.TakeOffer(0);
  EXPECT_EQ(bar, (std::vector<int>{30, 60, 90, 100}));
  EXPECT_TRUE(f.C("RzProgressBar3").Visible());
  EXPECT_EQ(f.env.dir.Read("Downloads/ConfiguratorRLvexa_v1.0.0.1.exe"), std::string(1000, 'c'));
  EXPECT_EQ(f.shown.back(),
            f.M(99) + " ConfiguratorRLvexa_v1.0.0.1.exe " + f.M(100) + " " + f.env.dir.File("Downloads"));
  EXPECT_FALSE(f.C("Panel32").Visible());
  EXPECT_EQ(f.C("Label431").Text(), f.M(118));
  EXPECT_EQ(f.env.network.Peers().back()->ReceivedText(),
            "GetFile=ConfiguratorRLvexa_v1.0.0.1.exe#EndTransfer");
}

TEST(UpdateFile, NothingIsSaidToBeSavedThatWasNot) {
  Offered f("x.exe", "payload");
  f.env.dir.Write("Downloads", "a file where the folder should be");
  f.TakeOffer(0);
  EXPECT_EQ(
      f.C("Label431").Text().rfind(f.T("SaveFailed") + ": " + platform::JoinPath(f.Downloads(), "x.exe"), 0),
      0u)
      << f.C("Label431").Text();
  EXPECT_EQ(f.shown.back(), f.C("Label431").Text());
  EXPECT_EQ(std::count_if(f.shown.begin(), f.shown.end(),
                          [&](const std::string& s) { return s.rfind(f.M(99) + " ", 0) == 0; }),
            0);
  EXPECT_EQ(f.env.dir.Read("Downloads"), "a file where the folder should be");
  EXPECT_TRUE(f.C("Panel32").Visible());
}

TEST(UpdateFile, AConfiguratorBuildIsSavedButNeverStarted) {
  Offered f("ConfiguratorRLvexa_v1.0.0.1.exe", "MZ...");
  f.TakeOffer(1);
  const std::string saved = platform::JoinPath(f.Downloads(), "ConfiguratorRLvexa_v1.0.0.1.exe");
  EXPECT_EQ(f.env.dir.Read("Downloads/ConfiguratorRLvexa_v1.0.0.1.exe"), "MZ...");
  EXPECT_EQ(f.shown.back(), f.T("NotStarted") + " " + saved);
  EXPECT_FALSE(f.w().Closed());
  EXPECT_FALSE(f.w().shell.CloseRequested);
#ifndef _WIN32  // on Windows the name's extension makes a file executable
  EXPECT_EQ(fs::status(saved).permissions() & fs::perms::owner_exec, fs::perms::none);
#endif
}

TEST(UpdateFile, PathsNeverReachOutsideDownloads) {
  for (const char* path : {"../../evil.bin", "/etc/cron.d/evil.bin", "..\\..\\evil.bin",
                           "C:\\Windows\\evil.bin", "builds/../../evil.bin"}) {
    Offered f(path, "payload");
    f.TakeOffer(0);
    EXPECT_EQ(f.Listing(f.Downloads()), (std::vector<std::string>{"evil.bin"})) << path;
    EXPECT_FALSE(f.env.dir.Exists("evil.bin")) << path;
    EXPECT_FALSE(fs::exists(fs::path(f.env.dir.Path()).parent_path() / "evil.bin")) << path;
  }
  for (const char* path : {"..", "builds/..", ".", "", "dir/", "a\\", "bad\x01name"}) {
    Offered f(path, "payload");
    f.TakeOffer(0);
    EXPECT_TRUE(f.Listing(f.Downloads()).empty()) << path;
    EXPECT_EQ(f.C("Label431").Text(), f.T("BadName")) << path;
    EXPECT_TRUE(f.env.network.Peers().back()->ClosedByConfigurator()) << path;
  }
}

TEST(UpdateFile, ImpossibleSizesAreRefused) {
  for (const char* size : {"-5", "67108865", "99999999999999999999999", "abc", "0", "+7", "7 "}) {
    Updates f;
    f.env.network.Listen("upd1", kPort, [&](std::shared_ptr<FakePeer> peer) {
      peer->on_receive = [&, size](FakePeer& p, const Bytes&) {
        if (p.ReceivedText() == "Get_CONFUPD:Vexa#") p.Send(kNewConfigurator);
        if (p.ReceivedText().rfind("GetFile=", 0) == 0) {
          p.Send(std::string("file#x.exe#") + size + "#");
          p.Send(std::string(100, 'x'));
        }
      };
    });
    f.Begin();
    f.TakeOffer(0);
    EXPECT_EQ(f.C("Label431").Text(), f.T("BadSize")) << size;
    EXPECT_TRUE(f.Listing(f.Downloads()).empty()) << size;
    EXPECT_TRUE(f.env.network.Peers().back()->ClosedByConfigurator()) << size;
  }
}

TEST(UpdateFile, ALongerBodyGivesExactlyTheAnnouncedBytes) {
  Offered f("x.exe", "");
  f.server.files[kNewConfigurator] = {"x.exe", "0123456789"};
  f.env.network.Listen("upd1", kPort, [&](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [](FakePeer& p, const Bytes&) {
      if (p.ReceivedText().rfind("GetFile=", 0) == 0 && p.ReceivedText().back() == '#') {
        p.Send("file#x.exe#4#0123456789");
      }
    };
  });
  f.TakeOffer(0);
  EXPECT_EQ(f.env.dir.Read("Downloads/x.exe"), "0123");
}

TEST(UpdateFile, AStalledTransferEndsWithTheNoAnswerText) {
  Offered f("x.exe", "");
  f.env.network.Listen("upd1", kPort, [&](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [](FakePeer& p, const Bytes&) {
      if (p.ReceivedText().rfind("GetFile=", 0) == 0) p.Send("file#x.exe#1000#" + std::string(400, 'a'));
    };
  });
  f.TakeOffer(0);
  f.env.clock.Advance(8500);
  EXPECT_EQ(f.C("Label431").Text(), f.M(117));
  f.env.clock.Advance(2000);
  EXPECT_EQ(f.C("Label431").Text(), "Нет ответа от сервера. Повторите попытку");
  EXPECT_TRUE(f.env.network.Peers().back()->ClosedByConfigurator());
  EXPECT_TRUE(f.Listing(f.Downloads()).empty());
  EXPECT_TRUE(f.C("Panel32").Visible());  // the engineer may try again
}

TEST(UpdateFile, AMissingFileClosesTheOffer) {
  Offered f("x.exe", "");
  f.server.files.clear();
  f.TakeOffer(0);
  EXPECT_EQ(f.shown.back(), f.M(139));
  EXPECT_FALSE(f.C("Panel32").Visible());
}

TEST(UpdateFile, AFirmwareImageIsFlashedOnlyWhenItPassesTheCheck) {
  const sim::SimConfig sim = TrackerAt(5, 12, 33, 8);
  {
    Updates f("DisableNews=1\n", true, sim);
    UpdateServer server;
    server.firmware = "fw5_0012.0034.08.bin";
    const Bytes image = Image(5, 12, 34, 8);
    server.files[server.firmware] = {"fw\\fw5_0012.0034.08.bin", std::string(image.begin(), image.end())};
    server.Serve(f, "upd1");
    f.Begin(3000);
    f.TakeOffer(1);
    EXPECT_EQ(f.C("RzPageControl1").Index(), 4);
    EXPECT_TRUE(f.w().link.FlashInProgress);
    EXPECT_EQ(f.C("Firmware_name").Text(), platform::JoinPath(f.Downloads(), "fw5_0012.0034.08.bin"));
    EXPECT_EQ(f.shown.back(), f.M(101));
  }
  {
    Updates f("DisableNews=1\n", true, sim);
    UpdateServer server;
    server.firmware = "fw5_0012.0034.08.bin";
    server.files[server.firmware] = {"fw5_0012.0034.08.bin", std::string(600, 'j')};
    server.Serve(f, "upd1");
    f.Begin(3000);
    f.TakeOffer(1);
    EXPECT_FALSE(f.w().link.FlashInProgress);
    // The image check's own message stays in view.
    ASSERT_FALSE(f.shown.empty());
    EXPECT_EQ(f.shown.back(), f.M(26));
  }
}

TEST(UpdateFile, StoreAndUpdateTransfersKeepTheirOwnState) {
  Offered f("x.exe", std::string(3000, 'u'), 500);
  f.C("CONFPASS").SetText("4321");
  ASSERT_TRUE(f.w().config.ReadConfigFromObjects());
  const Bytes config = config::BuildConfigFile(f.w().config.ConfigBlock1, f.w().config.ConfigBlock2);
  f.C("CONFPASS").SetText("1");
  f.env.network.Listen("upd1", 10890, [&](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [&](FakePeer& p, const Bytes&) {
      if (p.ReceivedText() != "download#866000000000001#") return;
      p.Send("file#866000000000001#1046#");
      for (size_t at = 0; at < config.size(); at += 100) {
        p.Send(Bytes(config.begin() + static_cast<long>(at),
                     config.begin() + static_cast<long>(std::min(config.size(), at + 100))));
      }
    };
  });
  ASSERT_TRUE(f.w().controls.UserType("IMEICLOUD", "866000000000001"));
  ASSERT_TRUE(f.w().controls.UserClick("DownloadConfigButton"));
  f.TakeOffer(0);
  EXPECT_EQ(f.env.dir.Read("Downloads/x.exe"), std::string(3000, 'u'));
  EXPECT_EQ(f.C("CONFPASS").Text(), "4321");
  EXPECT_NE(std::find(f.shown.begin(), f.shown.end(), f.M(129)), f.shown.end());
}

}  // namespace
}  // namespace rlv

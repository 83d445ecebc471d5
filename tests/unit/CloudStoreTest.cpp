// The cloud configuration store against scripted store servers on the
// in-memory network: uploads to every server, list uploads, downloads with
// their retries, and stores that lie, break off or fall silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "FakeNetwork.h"
#include "World.h"
#include "config/ConfigFile.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using fake::FakePeer;

constexpr uint16_t kPort = 10890;
constexpr const char* kUploaded = "Файл(ы) конфигурации выгружен!";
constexpr const char* kImei = "866000000000001";

// A store that keeps what it is sent and serves it back, as the protocol says.
struct Store {
  std::map<std::string, std::string> files;  // IMEI -> file
  // What each read of every connection brought, with the time it arrived.
  std::vector<std::pair<int64_t, std::string>> reads;
  bool confirm = true;
  int connections = 0;

  void Serve(fake::World& world, const std::string& host) {
    fake::FakeClock& clock = world.env.clock;
    world.env.network.Listen(host, kPort, [this, &clock](std::shared_ptr<FakePeer> peer) {
      ++connections;
      peer->on_receive = [this, &clock](FakePeer& p, const Bytes& bytes) {
        reads.emplace_back(clock.Now(), std::string(bytes.begin(), bytes.end()));
        Answer(p);
      };
    });
  }

  void Answer(FakePeer& p) {
    const std::string text = p.ReceivedText();
    if (text.rfind("file#", 0) == 0) {
      const size_t imei_end = text.find('#', 5);
      const size_t size_end = text.find('#', imei_end + 1);
      if (size_end == std::string::npos) return;
      const size_t size = std::stoul(text.substr(imei_end + 1, size_end - imei_end - 1));
      if (text.size() != size_end + 1 + size) return;
      files[text.substr(5, imei_end - 5)] = text.substr(size_end + 1);
      if (confirm) p.Send("EndTransfer");
    } else if (text.rfind("download#", 0) == 0 && text.back() == '#' &&
               text.find("endtransfer#") == std::string::npos) {
      const std::string imei = text.substr(9, text.size() - 10);
      auto it = files.find(imei);
      if (it == files.end()) {
        p.Send("notexists#");
        return;
      }
      p.Send("file#" + imei + "#" + std::to_string(it->second.size()) + "#");
      p.Send(it->second);
    }
  }
};

// The language file of the sources, so that messages read as the engineer sees them.
void ShipLanguage(fake::World& world) {
  std::ifstream in(std::string(RLVEXA_SOURCE_DIR) + "/data/language.lng", std::ios::binary);
  world.env.dir.Write("language.lng", std::string(std::istreambuf_iterator<char>(in), {}));
}

struct Cloud : fake::World {
  explicit Cloud(
      const std::string& ini = "[Address]\nServerAdr=store1\nServerAdr2=store2\nServerAdr3=store3\n")
      : fake::World(sim::SimConfig{}, false) {
    env.dir.Write("config.ini", ini + "[Settings]\nDisableNews=1\n");
    ShipLanguage(*this);
    Start();
    // The update service's question at start finds no server on these hosts.
    env.clock.Advance(3500);
    shown.clear();
  }
  ui::Control& C(const std::string& name) { return w().controls[name]; }
  void Type(const std::string& name, const std::string& text) {
    ASSERT_TRUE(w().controls.UserType(name, text));
  }
  void Click(const std::string& name) { ASSERT_TRUE(w().controls.UserClick(name)); }
  std::string M(int number) { return w().messages.GetMessageA(number); }
  int Count(const std::string& text) {
    return static_cast<int>(std::count(shown.begin(), shown.end(), text));
  }
  bool Shown(const std::string& prefix) {
    return std::any_of(shown.begin(), shown.end(),
                       [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
  }
  std::string Trace() {
    std::string out;
    for (const std::string& line : C("Memo7").Lines()) out += line + "\n";
    return out;
  }
  // The file the editor would write now.
  std::string CurrentFile() {
    EXPECT_TRUE(w().config.ReadConfigFromObjects());
    const Bytes file = config::BuildConfigFile(w().config.ConfigBlock1, w().config.ConfigBlock2);
    return std::string(file.begin(), file.end());
  }
};

// ---- Upload ---------------------------------------------------------------------

TEST(CloudUpload, EveryServerGetsTheHeaderAloneThenTheFileAndConfirms) {
  Cloud f;
  Store stores[3];
  for (int i = 0; i < 3; ++i) stores[i].Serve(f, "store" + std::to_string(i + 1));
  f.Type("IMEICLOUD", kImei);
  f.Click("UploadConfigButton");
  f.env.clock.Advance(1000);
  // The file the editor wrote for the upload.
  const std::string file = f.env.dir.Read("temp.fcg");
  ASSERT_EQ(file.size(), 1046u);
  for (Store& store : stores) {
    EXPECT_EQ(store.files[kImei], file);
    ASSERT_EQ(store.reads.size(), 2u);
    EXPECT_EQ(store.reads[0].second, "file#866000000000001#1046#");
    EXPECT_GE(store.reads[1].first - store.reads[0].first, 200);  // the pause, on the loop
  }
  EXPECT_EQ(f.Count(kUploaded), 3);
  const std::string trace = f.Trace();
  EXPECT_NE(trace.find("Socket store2 connected"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Socket store3 send file 866000000000001"), std::string::npos) << trace;
  EXPECT_NE(trace.find(std::string(kImei) + " " + f.M(119) + " store1"), std::string::npos) << trace;
  EXPECT_FALSE(f.C("Memo7").Visible());
}

TEST(CloudUpload, SuccessOnlyAfterThatServersConfirmation) {
  Cloud f;
  Store good, silent_closer;
  good.Serve(f, "store1");
  silent_closer.confirm = false;
  f.env.network.Listen("store2", kPort, [&](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [](FakePeer& p, const Bytes&) {
      if (p.Received().size() > 30) p.Close();  // takes the file and hangs up without a word
    };
  });
  f.env.network.FailConnect("store3", kPort, platform::SocketError::ConnectionRefused);
  f.Type("IMEICLOUD", kImei);
  f.Click("UploadConfigButton");
  f.env.clock.Advance(1000);
  EXPECT_EQ(f.Count(kUploaded), 1);
  EXPECT_TRUE(f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store2"));
  EXPECT_TRUE(f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store3"));
  EXPECT_NE(f.Trace().find("Socket store3 error 10061"), std::string::npos);
}

TEST(CloudUpload, AConfirmationBeforeTheWholeFileWasSentIsAFailure) {
  Cloud f("[Address]\nServerAdr=store1\n");
  f.env.network.Listen("store1", kPort, [](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [](FakePeer& p, const Bytes&) {
      if (p.Received().size() < 1046) p.Send("EndTransfer");  // confirms the header alone
    };
  });
  f.Type("IMEICLOUD", kImei);
  f.Click("UploadConfigButton");
  f.env.clock.Advance(1000);
  EXPECT_EQ(f.Count(kUploaded), 0);
  EXPECT_TRUE(f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store1"));
  EXPECT_TRUE(f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store1 (IMEI " + kImei +
                      "): " + f.w().messages.GetStringOr("Cloud", "EarlyConfirmation", "?")));
}

TEST(CloudUpload, AStoreThatNeverAnswersIsGivenUpAfterTenSeconds) {
  Cloud f("[Address]\nServerAdr=store1\n");
  std::shared_ptr<FakePeer> peer;
  f.env.network.Listen("store1", kPort, [&](std::shared_ptr<FakePeer> p) { peer = p; });
  f.Type("IMEICLOUD", kImei);
  f.Click("UploadConfigButton");
  f.env.clock.Advance(9000);
  ASSERT_TRUE(peer);
  EXPECT_TRUE(peer->IsOpen());
  EXPECT_TRUE(f.shown.empty());
  f.env.clock.Advance(2500);
  EXPECT_FALSE(peer->IsOpen());
  EXPECT_TRUE(peer->ClosedByConfigurator());
  EXPECT_TRUE(f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store1"));
  EXPECT_EQ(f.Count(kUploaded), 0);
}

TEST(CloudUpload, ListOfImeisOneAfterAnotherWithTheCounter) {
  Cloud f("[Address]\nServerAdr=store1\n");
  Store store;
  store.Serve(f, "store1");
  std::vector<std::string> labels;
  f.w().controls.Observe([&](const ui::Control& c, ui::Prop prop) {
    if (c.Name() == "Label40" && prop == ui::Prop::Text) labels.push_back(c.Text());
  });
  f.Type("Memo8", "866000000000002\n\n\n866000000000003\n  \n866000000000004");
  f.Click("UploadListIMEIButton");
  // The empty lines go before the run starts; a line of blanks is not empty.
  EXPECT_EQ(f.C("Memo8").Lines(),
            (std::vector<std::string>{"866000000000002", "866000000000003", "  ", "866000000000004"}));
  f.env.clock.Advance(400);
  EXPECT_EQ(store.files.size(), 1u);
  f.env.clock.Advance(6600);
  EXPECT_EQ(store.files.size(), 4u);
  EXPECT_EQ(store.files.count("866000000000004"), 1u);
  EXPECT_EQ(labels, (std::vector<std::string>{"1/4", "2/4", "3/4", ""}));
  EXPECT_EQ(f.Count(kUploaded), 1);
  EXPECT_EQ(store.connections, 4);
}

TEST(CloudUpload, AFailingServerStopsOnlyItsOwnList) {
  Cloud f("[Address]\nServerAdr=store1\nServerAdr2=store2\n");
  Store good;
  good.Serve(f, "store1");
  int connections = 0;
  f.env.network.Listen("store2", kPort, [&](std::shared_ptr<FakePeer> peer) {
    if (++connections == 2) peer->Reset();  // the second IMEI breaks
    peer->on_receive = [](FakePeer& p, const Bytes&) {
      if (p.Received().size() > 1046) p.Send("EndTransfer");
    };
  });
  f.Type("Memo8", "866000000000002\n866000000000003\n866000000000004");
  f.Click("UploadListIMEIButton");
  f.env.clock.Advance(8000);
  EXPECT_EQ(good.files.size(), 3u);
  EXPECT_EQ(connections, 2);
  EXPECT_FALSE(f.w().cloud.Slots[1].ListActive);
  EXPECT_NE(f.Trace().find("Выгрузка остановлена"), std::string::npos);
  EXPECT_TRUE(
      f.Shown(f.w().messages.GetStringOr("Cloud", "UploadFailed", "?") + " store2 (IMEI 866000000000003)"));
  EXPECT_EQ(f.Count(kUploaded), 1);  // store1's run
}

TEST(CloudUpload, EmptyInputAndImeisARequestCannotCarry) {
  Cloud f;
  Store store;
  store.Serve(f, "store1");
  f.Click("UploadConfigButton");
  f.Click("DownloadConfigButton");
  f.Click("UploadListIMEIButton");
  EXPECT_EQ(f.Count("Поле ввода пустое"), 3);
  for (const char* bad : {"8660#1", "8660\r1", "86\x01"}) {
    f.C("IMEICLOUD").SetText(bad);
    f.Click("UploadConfigButton");
    f.Click("DownloadConfigButton");
  }
  f.Type("Memo8", "866000000000002\n8660#3");
  f.Click("UploadListIMEIButton");
  f.env.clock.Advance(3000);
  EXPECT_EQ(store.connections, 0);
  EXPECT_EQ(std::count_if(f.shown.begin(), f.shown.end(),
                          [&](const std::string& s) {
                            return s.rfind(f.w().messages.GetStringOr("Cloud", "BadImei", "?"), 0) == 0;
                          }),
            7);
}

TEST(CloudUpload, AConfigurationThatDoesNotBuildIsNotUploaded) {
  Cloud f;
  Store store;
  store.Serve(f, "store1");
  f.C("CONFPASS").SetText("12x");
  f.Type("IMEICLOUD", kImei);
  f.Click("UploadConfigButton");
  f.env.clock.Advance(3000);
  EXPECT_EQ(store.connections, 0);
  EXPECT_FALSE(f.env.dir.Exists("temp.fcg"));
  EXPECT_EQ(f.Count(kUploaded), 0);
}

TEST(CloudUpload, WritingToTheTrackerUploadsWhenAutoSendIsTicked) {
  fake::World f;
  f.env.dir.Write("config.ini",
                  "[Address]\nServerAdr=store1\n[Settings]\nAutoSendConfig=1\nReviewBeforeWrite=0\n");
  Store store;
  store.Serve(f, "store1");
  f.Start();
  f.env.clock.Advance(3000);  // the tracker found, its configuration read
  ASSERT_TRUE(f.w().controls["AutoSendConfig"].Checked());
  ASSERT_TRUE(f.w().controls.UserClick("MImage6"));
  f.env.clock.Advance(2000);
  EXPECT_EQ(store.files.count("866000000000001"), 1u);  // the tracker's IMEI
}

// ---- Download -------------------------------------------------------------------

TEST(CloudDownload, FetchedWrittenAndOpened) {
  Cloud f;
  Store store;
  f.C("CONFPASS").SetText("4321");
  store.files[kImei] = f.CurrentFile();
  store.Serve(f, "store1");
  f.C("CONFPASS").SetText("1");
  f.Type("IMEICLOUD", kImei);
  f.Click("DownloadConfigButton");
  f.env.clock.Advance(500);
  EXPECT_EQ(f.C("CONFPASS").Text(), "4321");
  EXPECT_EQ(f.env.dir.Read("temp.fcg"), store.files[kImei]);
  EXPECT_EQ(f.shown.back(), f.M(129));
  EXPECT_EQ(f.C("Label40").Text(), f.M(118));
  ASSERT_FALSE(f.env.network.Peers().empty());
  EXPECT_EQ(f.env.network.Peers()[0]->ReceivedText(), "download#866000000000001#endtransfer#");
}

TEST(CloudDownload, HeaderSplitAndSharingItsReadWithTheFile) {
  Cloud f;
  f.C("CONFPASS").SetText("777");
  const std::string file = f.CurrentFile();
  f.C("CONFPASS").SetText("1");
  f.env.network.Listen("store1", kPort, [&](std::shared_ptr<FakePeer> peer) {
    peer->on_receive = [&](FakePeer& p, const Bytes&) {
      if (p.ReceivedText() != "download#866000000000001#") return;
      p.Send("fi");
      p.Send("le#866000000000001#10");
      p.Send("46#" + file.substr(0, 100));
      p.Send(file.substr(100));
    };
  });
  f.Type("IMEICLOUD", kImei);
  f.Click("DownloadConfigButton");
  f.env.clock.Advance(500);
  EXPECT_EQ(f.C("CONFPASS").Text(), "777");
  EXPECT_EQ(f.shown.back(), f.M(129));
}

TEST(CloudDownload, NotStoredIsSaidOnceWithoutTryingOtherServers) {
  Cloud f;
  Store first, second;
  first.Serve(f, "store1");
  second.Serve(f, "store2");
  f.Type("IMEICLOUD", kImei);
  f.Click("DownloadConfigButton");
  f.env.clock.Advance(3000);
  EXPECT_EQ(f.shown, (std::vector<std::string>{f.M(116)}));
  EXPECT_EQ(second.connections, 0);
  EXPECT_FALSE(f.env.dir.Exists("temp.fcg"));
}

TEST(CloudDownload, ADeadServerIsSkippedAtTheNextSecond) {
  Cloud f;
  Store store;
  f.C("CONFPASS").SetText("4321");
  store.files[kImei] = f.CurrentFile();
  f.C("CONFPASS").SetText("1");
  f.env.network.FailConnect("store1", kPort, platform::SocketError::ConnectionRefused);
  store.Serve(f, "store2");
  f.Type("IMEICLOUD", kImei);
  f.Click("DownloadConfigButton");
  f.env.clock.Advance(100);
  EXPECT_EQ(f.shown, (std::vector<std::string>{"Error download server 10061 (сервер отказал в подключении: порт не слушается)"}));
  EXPECT_EQ(store.connections, 0);
  f.env.clock.Advance(1000);
  EXPECT_EQ(store.connections, 1);
  EXPECT_EQ(f.C("CONFPASS").Text(), "4321");
}

// A store that answers the download with `answer`, then goes quiet.
struct Hostile : Cloud {
  explicit Hostile(std::vector<std::string> answer, bool close_after = false)
      : Cloud("[Address]\nServerAdr=store1\nServerAdr2=store2\n") {
    env.dir.Write("temp.fcg", "before");
    env.network.Listen("store1", kPort, [this, answer, close_after](std::shared_ptr<FakePeer> peer) {
      first = peer;
      peer->on_receive = [answer, close_after](FakePeer& p, const Bytes&) {
        if (p.ReceivedText() != "download#866000000000001#") return;
        for (const std::string& piece : answer) p.Send(piece);
        if (close_after) p.Close();
      };
    });
    second.Serve(*this, "store2");
    Type("IMEICLOUD", kImei);
    Click("DownloadConfigButton");
  }
  bool Failed(const char* why_key) {
    const std::string failed = w().messages.GetStringOr("Cloud", "DownloadFailed", "?") +
                               " store1: " + w().messages.GetStringOr("Cloud", why_key, "?");
    return Shown(failed);
  }
  std::shared_ptr<FakePeer> first;
  Store second;
};

TEST(CloudDownload, ImpossibleSizesCloseTheConnectionAndTryTheNextServer) {
  for (const char* size : {"-1046", "99999999999", "65537", "abc", "0", "1e3", " 1046"}) {
    Hostile f({std::string("file#866000000000001#") + size + "#", std::string(2000, 'x')});
    f.env.clock.Advance(200);
    EXPECT_TRUE(f.Failed("BadSize")) << size;
    ASSERT_TRUE(f.first);
    EXPECT_TRUE(f.first->ClosedByConfigurator()) << size;
    f.env.clock.Advance(1000);
    EXPECT_EQ(f.second.connections, 1) << size;
    EXPECT_EQ(f.env.dir.Read("temp.fcg"), "before") << size;
  }
  Hostile garbage({"HTTP/1.1 400 Bad Request\r\n\r\n"});
  garbage.env.clock.Advance(200);
  EXPECT_TRUE(garbage.Failed("BadHeader"));
}

TEST(CloudDownload, ALongerBodyGivesExactlyTheAnnouncedBytes) {
  Cloud probe;
  probe.C("CONFPASS").SetText("2468");
  const std::string file = probe.CurrentFile();
  Hostile f({"file#866000000000001#1046#", file + std::string(500, 'z')});
  f.env.clock.Advance(500);
  EXPECT_EQ(f.C("CONFPASS").Text(), "2468");
  EXPECT_EQ(f.env.dir.Read("temp.fcg"), file);
}

TEST(CloudDownload, AShorterBodyStallsAndIsGivenUp) {
  Hostile f({"file#866000000000001#1046#", std::string(600, 'a')});
  f.env.clock.Advance(9000);
  EXPECT_TRUE(f.shown.empty());
  f.env.clock.Advance(1500);
  EXPECT_TRUE(f.Failed("NoAnswer"));
  EXPECT_EQ(f.env.dir.Read("temp.fcg"), "before");
  Hostile closes({"file#866000000000001#1046#", std::string(600, 'a')}, true);
  closes.env.clock.Advance(200);
  EXPECT_TRUE(closes.Failed("ClosedEarly"));
}

TEST(CloudDownload, AFileThatIsNotAConfigurationIsNeitherWrittenNorOpened) {
  Hostile f({"file#866000000000001#1046#", std::string(1046, 'q')});
  const std::string pass = f.C("CONFPASS").Text();
  f.env.clock.Advance(500);
  EXPECT_EQ(f.shown.back(), f.M(126));
  EXPECT_EQ(f.env.dir.Read("temp.fcg"), "before");
  EXPECT_EQ(f.C("CONFPASS").Text(), pass);
  EXPECT_FALSE(f.Shown(f.M(129)));
}

// Without a server of the configurator's own in config.ini, every operation
// that needs one says so instead of trying the placeholder address, and the
// page names the servers it does use.
TEST(CloudServers, WithoutAServerEveryTransferSaysSoAndThePageShowsTheServersUsed) {
  for (const char* button :
       {"UploadConfigButton", "UploadListIMEIButton", "DownloadConfigButton", "Getfirmware"}) {
    Cloud cloud("");
    int connections = 0;
    for (uint16_t port : {uint16_t{10890}, uint16_t{10500}}) {
      cloud.env.network.Listen(config::WindowSettings::kDefaultServer, port,
                               [&connections](std::shared_ptr<FakePeer>) { ++connections; });
    }
    cloud.Type("IMEICLOUD", kImei);
    cloud.Type("Memo8", kImei);
    cloud.Click(button);
    cloud.env.clock.Advance(3000);
    const std::string none = cloud.w().messages.GetStringOr("Window", "NoServer", "?");
    ASSERT_FALSE(cloud.shown.empty()) << button;
    EXPECT_EQ(cloud.shown.back(), none) << button;
    EXPECT_EQ(connections, 0) << button;
    EXPECT_NE(cloud.C("CloudServers").Text().find(none), std::string::npos);
  }
  Cloud two("[Address]\nServerAdr=store1\nServerAdr2=store2\nConfigPort=10891\n");
  const std::string servers = two.C("CloudServers").Text();
  EXPECT_NE(servers.find("store1, store2"), std::string::npos) << servers;
  EXPECT_NE(servers.find("10891"), std::string::npos) << servers;
  ASSERT_TRUE(two.w().controls.UserClick("LangImage"));
  EXPECT_EQ(two.C("CloudServers")
                .Text()
                .rfind("The configurator's own servers (config.ini [Address]): store1, store2", 0),
            0u);
}

}  // namespace
}  // namespace rlv

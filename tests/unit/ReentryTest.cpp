// A frame whose handler opens a modal dialog: the dialog's nested event loop
// keeps delivering ticks and reads, and none of them may hand a frame over a
// second time, open a dialog inside the first one, or drop the tunnel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TrackerSim.h"
#include "TunnelWorld.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

// Message boxes that stay open: the first one runs the event loop for
// `hold_ms` of virtual time before the user closes it.
class HoldingDialogs : public ui::ScriptedDialogs {
 public:
  HoldingDialogs(fake::FakeClock& clock, int64_t hold_ms) : clock_(clock), hold_ms_(hold_ms) {}
  void ShowMessage(const std::string& text) override {
    texts.push_back(text);
    if (open_ > 0) ++nested;
    ++open_;
    if (texts.size() == 1) clock_.Advance(hold_ms_);
    --open_;
  }
  std::vector<std::string> texts;
  int nested = 0;  // boxes opened while another was open

 private:
  fake::FakeClock& clock_;
  int64_t hold_ms_;
  int open_ = 0;
};

// A tachograph answer that shows a box: the driver state (mode `mode`) or the
// vehicle (registration `plate`).
Bytes TachoState(uint8_t mode) {
  Bytes p = {0, 2, 0, 0, 0};
  p.resize(5 + 40, 0);
  p[5] = mode;
  return sim::BuildResponseFrame(69, p);
}
Bytes TachoVehicle(const std::string& plate) {
  // Sized once and filled in place (GCC 12 reports a false out-of-bounds copy
  // for a range insert after a five-byte list at -O2).
  Bytes p(5 + 32, 0);
  p[1] = 2;
  p[2] = 1;
  std::copy_n(plate.begin(), std::min<size_t>(plate.size(), 32), p.begin() + 5);
  return sim::BuildResponseFrame(69, p);
}

enum class Path { Usb, Tunnel };

class DialogHeldOpen : public ::testing::TestWithParam<Path> {};

TEST_P(DialogHeldOpen, EveryFrameIsHandledOnceInOrderAndTheLinkStays) {
  const bool tunnel = GetParam() == Path::Tunnel;
  fake::TunnelWorld world;
  std::shared_ptr<fake::FakePeer> peer;
  if (tunnel) {
    world.StartListening();
    peer = world.ConnectTracker();
  } else {
    // The same world with the tracker on USB instead.
    world.env.devices.devices.push_back({"STMicroelectronics Virtual COM Port", "/dev/ttyACM0"});
    world.env.devices.ports.push_back("/dev/ttyACM0");
    world.env.serial.AddPort("/dev/ttyACM0", &world.sim);
    world.Start();
  }
  fake::FakeClock& clock = world.env.clock;
  app::MainWindow& w = world.w();
  ASSERT_TRUE(clock.RunUntil([&] { return w.link.Connected && !w.monitoring.Imei().empty(); }, 5000));
  clock.Advance(3000);  // the automatic configuration read is over

  HoldingDialogs dialogs(clock, 65000);
  world.env.platform.dialogs = &dialogs;
  auto arrive = [&](int64_t at, Bytes bytes) {
    clock.Post(static_cast<int>(at), [&, bytes] {
      if (tunnel) {
        peer->Send(bytes);
      } else {
        world.env.serial.Inject(bytes);
      }
    });
  };
  const Bytes third = TachoVehicle("C3");
  arrive(0, TachoState(1));
  arrive(1000, TachoVehicle("B2"));
  arrive(2000, Bytes(third.begin(), third.begin() + 9));  // half a frame ...
  arrive(2600, Bytes(third.begin() + 9, third.end()));    // ... and its rest
  arrive(30000, TachoState(4));
  clock.Advance(70000);

  ASSERT_EQ(dialogs.texts.size(), 4u);
  EXPECT_EQ(dialogs.texts[0].rfind("Текущий режим:1", 0), 0u) << dialogs.texts[0];
  EXPECT_NE(dialogs.texts[1].find("Регистрационный номер:B2"), std::string::npos) << dialogs.texts[1];
  EXPECT_NE(dialogs.texts[2].find("Регистрационный номер:C3"), std::string::npos) << dialogs.texts[2];
  EXPECT_EQ(dialogs.texts[3].rfind("Текущий режим:4", 0), 0u) << dialogs.texts[3];
  EXPECT_EQ(dialogs.nested, 0);
  // Nothing dropped the tracker: the tunnel's peer was heard all along.
  EXPECT_TRUE(w.link.Connected);
  if (tunnel) {
    EXPECT_TRUE(w.link.RemoteTunnelOpen);
    EXPECT_TRUE(peer->IsOpen());
  }
  // The link goes on: the status polls are answered again.
  const size_t boxes = dialogs.texts.size();
  const size_t received = world.sim.ReceivedCommands().size();
  clock.Advance(3000);
  EXPECT_GT(world.sim.ReceivedCommands().size(), received);
  EXPECT_EQ(dialogs.texts.size(), boxes);
}

INSTANTIATE_TEST_SUITE_P(Links, DialogHeldOpen, ::testing::Values(Path::Usb, Path::Tunnel),
                         [](const auto& p) { return p.param == Path::Usb ? "Usb" : "Tunnel"; });

}  // namespace
}  // namespace rlv

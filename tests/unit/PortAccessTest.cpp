// Why the tracker is not reached: a port the user may not open, a port that is
// busy or silent while ModemManager runs, a missing port; and which devices
// count as the tracker.
#include <gtest/gtest.h>

#include "World.h"
#include "ui/Automation.h"

namespace rlv {
namespace {

using fake::World;
using platform::OpenError;
using platform::OpenErrorKind;
using Trouble = link::PortDiscovery::Trouble;

const std::string kTracker = World::kTrackerPort;

struct Headless : World {
  explicit Headless(sim::SimConfig config = {})
      : World(std::move(config)), automation(w(), env.clock, env.dialogs) {}
  std::string Run(const std::string& line) { return automation.Execute(line); }
  ui::Automation automation;
};

TEST(PortAccess, PermissionDeniedNamesTheFixOnTheStatusLineAndOnceOnThePanel) {
  Headless h;
  h.env.serial.RefuseOpen(kTracker, {OpenErrorKind::PermissionDenied, "Permission denied", "plugdev"});
  h.Start();
  EXPECT_EQ(h.Run("wait 0"), "ok");  // the probe at start
  EXPECT_EQ(h.Run("get ComPortDeviceCaption"), "ok " + kTracker +
                                                   ": Not connected (permission denied: install the udev "
                                                   "rule or join the group plugdev, then replug)");
  EXPECT_EQ(h.w().discovery.CurrentTrouble(), Trouble::AccessDenied);
  ASSERT_EQ(h.shown.size(), 1u);
  EXPECT_NE(h.shown[0].find("Нет доступа к порту " + kTracker), std::string::npos) << h.shown[0];
  EXPECT_NE(h.shown[0].find("60-rlvexa.rules"), std::string::npos);
  EXPECT_NE(h.shown[0].find("sudo usermod -aG plugdev $USER"), std::string::npos);
  EXPECT_TRUE(h.w().controls["MESPANEL"].Visible());

  // The search goes on through the other ports and comes back to the tracker's
  // every cycle; the panel is not shown again for the same port.
  h.env.clock.Advance(10000);
  EXPECT_GE(h.env.serial.OpenCount(), 3);
  EXPECT_EQ(h.shown.size(), 1u);
  EXPECT_FALSE(h.w().link.Connected);

  // The user installs the rule and replugs the tracker: it connects, the trouble
  // is over, and a later refusal would be told again.
  h.env.serial.RefuseOpen(kTracker, {});
  h.env.devices.Remove(kTracker);
  h.env.devices.Arrive({"STMicroelectronics Virtual COM Port", kTracker});
  EXPECT_EQ(h.Run("until ComPortDeviceCaption text " + kTracker + ": RL20Vexa 5000"), "ok");
  EXPECT_EQ(h.w().discovery.CurrentTrouble(), Trouble::None);
}

TEST(PortAccess, TheHintIsReadFromTheLanguageFileInTheUsersLanguage) {
  World world;
  world.env.dir.Write("config.ini", "[Settings]\nLanguage=english\n");
  world.env.dir.Write("language.lng",
                      "[PortAccess]\nDenied=Нет доступа к %s (%s, %s)//\\ No access to %s (group %s, %s)\n");
  world.env.serial.RefuseOpen(kTracker, {OpenErrorKind::PermissionDenied, "Permission denied", ""});
  world.Start();
  world.env.clock.Advance(1000);
  ASSERT_EQ(world.shown.size(), 1u);
  // Without a known owner the device group of Debian and Ubuntu is named.
  EXPECT_EQ(world.shown[0], "No access to " + kTracker + " (group dialout, dialout)");
}

TEST(PortAccess, BusyPortWhileModemManagerRunsPointsAtModemManager) {
  World world;
  world.env.devices.modem_manager = true;
  world.env.serial.RefuseOpen(kTracker, {OpenErrorKind::Busy, "Device or resource busy", ""});
  world.Start();
  world.env.clock.Advance(0);  // the probe at start
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(),
            kTracker + ": Not connected (busy: ModemManager may be holding it)");
  ASSERT_EQ(world.shown.size(), 1u);
  EXPECT_NE(world.shown[0].find("ModemManager"), std::string::npos);
  EXPECT_NE(world.shown[0].find("ID_MM_DEVICE_IGNORE"), std::string::npos);
  EXPECT_NE(world.shown[0].find(kTracker), std::string::npos);
  EXPECT_EQ(world.w().discovery.CurrentTrouble(), Trouble::PortHeld);
}

TEST(PortAccess, BusyPortWithoutModemManagerOnlySaysBusy) {
  World world;
  world.env.serial.RefuseOpen(kTracker, {OpenErrorKind::Busy, "Device or resource busy", ""});
  world.Start();
  world.env.clock.Advance(0);  // the probe at start
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(),
            kTracker + ": Not connected (busy: another program holds it)");
  EXPECT_TRUE(world.shown.empty());
  EXPECT_EQ(world.w().discovery.CurrentTrouble(), Trouble::None);
}

TEST(PortAccess, SilentTrackerWhileModemManagerRunsPointsAtModemManager) {
  sim::SimConfig config;
  config.silent = true;
  World world(config);
  world.env.devices.modem_manager = true;
  world.Start();
  world.env.clock.Advance(1000);  // probed at start, silent for a tick
  // The next port is probed on the same tick; the panel keeps the hint.
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(), "/dev/ttyS0: Find device");
  ASSERT_EQ(world.shown.size(), 1u);
  EXPECT_EQ(world.w().discovery.CurrentTrouble(), Trouble::PortHeld);
  EXPECT_NE(world.shown[0].find("ModemManager"), std::string::npos);
  // The other ports that stay silent are not the tracker's: no more hints.
  world.env.clock.Advance(6000);
  EXPECT_EQ(world.shown.size(), 1u);
}

TEST(PortAccess, SilentTrackerWithoutModemManagerIsJustNotConnected) {
  sim::SimConfig config;
  config.silent = true;
  World world(config);
  world.Start();
  world.env.clock.Advance(2000);
  EXPECT_TRUE(world.shown.empty());
  EXPECT_EQ(world.w().discovery.CurrentTrouble(), Trouble::None);
}

TEST(PortAccess, EveryOpenFailureSaysWhy) {
  using link::PortDiscovery;
  EXPECT_EQ(PortDiscovery::OpenErrorReason({}, false), "");
  EXPECT_EQ(PortDiscovery::OpenErrorReason({OpenErrorKind::NotFound, "x", ""}, false), "no such device");
  EXPECT_EQ(PortDiscovery::OpenErrorReason({OpenErrorKind::NotATerminal, "x", ""}, false),
            "not a serial port");
  EXPECT_EQ(PortDiscovery::OpenErrorReason({OpenErrorKind::Other, "Input/output error", ""}, false),
            "Input/output error");
  EXPECT_EQ(PortDiscovery::OpenErrorReason({OpenErrorKind::Other, "", ""}, false), "cannot open");

  // A named port that is not a terminal: the line says so, no panel.
  World world(sim::SimConfig{}, false);
  world.env.serial.RefuseOpen("/dev/ttyS0", {OpenErrorKind::NotATerminal, "not a terminal", ""});
  world.Start();
  world.env.clock.Advance(0);  // COM1 of the settings, probed at start: missing
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(), "COM1: Not connected (no such device)");
  world.env.clock.Advance(1000);  // then the first listed port
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text(),
            "/dev/ttyS0: Not connected (not a serial port)");
  EXPECT_TRUE(world.shown.empty());
  EXPECT_EQ(world.w().discovery.CurrentTrouble(), Trouble::None);
}

TEST(TrackerDevice, KnownByTheStMicroVendorWithoutAManufacturerString) {
  World world(sim::SimConfig{}, false);
  world.env.devices.devices = {{"ttyUSB0", "/dev/ttyUSB0", 0x0403}, {"ttyACM3", "/dev/ttyACM3", 0x0483}};
  EXPECT_TRUE(world.w().discovery.FindUsbPort());
  EXPECT_EQ(world.w().link.PortName, "/dev/ttyACM3");

  world.env.devices.devices = {{"ttyUSB0", "/dev/ttyUSB0", 0x0403}, {"", "/dev/ttyACM4", 0}};
  EXPECT_FALSE(world.w().discovery.FindUsbPort());
}

TEST(TrackerDevice, ThePortOfTheSettingsIsNamedToThePortList) {
  World world(sim::SimConfig{}, false);
  world.env.dir.Write("config.ini", "[Settings]\nComPort=/dev/ttyS4\n");
  world.Start();
  EXPECT_EQ(world.env.devices.named, std::vector<std::string>{"/dev/ttyS4"});
}

}  // namespace
}  // namespace rlv

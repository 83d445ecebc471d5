// The firmware image file and flashing it through the tracker's bootloader
// (over USB) and through the tracker's application (command 209).
#include <gtest/gtest.h>

#include <algorithm>

#include "TrackerSim.h"
#include "TunnelWorld.h"
#include "World.h"
#include "link/Bytes.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

struct ImageSpec {
  uint8_t hardware = 8;
  uint8_t version = 5;
  uint32_t body = 2048;
  uint32_t crc = 0xA5;
  uint16_t build1 = 7;
  uint16_t build2 = 42;
  uint8_t build3 = 3;
  int64_t extra = 0;  // bytes more (or fewer) than the header announces
};

Bytes MakeImage(const ImageSpec& spec) {
  Bytes file(512 + static_cast<size_t>(static_cast<int64_t>(spec.body) + spec.extra));
  std::copy_n("SLFW", 4, file.begin());
  file[4] = spec.hardware;
  file[5] = spec.version;
  link::PutU32(file.data() + 8, spec.body);
  link::PutU32(file.data() + 12, spec.crc);
  link::PutU16(file.data() + 20, spec.build1);
  link::PutU16(file.data() + 22, spec.build2);
  file[24] = spec.build3;
  for (size_t i = 25; i < 512; ++i) file[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 512; i < file.size(); ++i) file[i] = static_cast<uint8_t>((i * 131) ^ (i >> 8));
  return file;
}

Bytes Body(const Bytes& file) {
  return Bytes(file.begin() + 512, file.end());
}

// What both ways of flashing share: the image file and waiting.
template <class Base>
struct FlashHelpers : Base {
  using Base::Base;
  std::string Put(const std::string& name, const Bytes& bytes) {
    this->env.dir.Write(name, std::string(bytes.begin(), bytes.end()));
    return this->env.dir.File(name);
  }
  bool Open(const Bytes& bytes, const std::string& name = "fw.bin") {
    return this->w().firmware.OpenFWFileSTM(Put(name, bytes));
  }
  std::string Text(const std::string& name) { return this->w().controls[name].Text(); }
  bool RunUntil(const std::function<bool()>& done, int ms) { return this->env.clock.RunUntil(done, ms); }
  bool Shown(const std::string& text) const {
    return std::find(this->shown.begin(), this->shown.end(), text) != this->shown.end();
  }
};

struct Flasher : FlashHelpers<fake::World> {
  explicit Flasher(sim::SimConfig config = {}) : FlashHelpers<fake::World>(std::move(config)) {
    Start();
    env.clock.Advance(1200);
    shown.clear();
  }

  // The frames written since write number `from` with command `command`.
  std::vector<Bytes> Frames(int command, size_t from = 0) const {
    std::vector<Bytes> out;
    const auto& writes = env.serial.Writes();
    for (size_t i = from; i < writes.size(); ++i) {
      if (writes[i].bytes.size() >= 8 && writes[i].bytes[7] == command) out.push_back(writes[i].bytes);
    }
    return out;
  }
  // Flashes until the tracker answers in its application again.
  bool FlashToEnd() {
    return RunUntil([&] { return !w().link.FlashInProgress && w().link.Connected && !sim.InBootloader(); },
                    60000);
  }
};

// ---- Image file

TEST(FirmwareImage, ReadoutsAsTheHeaderSaysAndTheButtonEnabled) {
  Flasher f;
  ImageSpec spec;
  spec.hardware = 0x18;  // low nibble 8 passes; the whole byte names no known device
  spec.body = 488;
  ASSERT_TRUE(f.Open(MakeImage(spec)));
  EXPECT_EQ(f.Text("FWVer"), "Firmware version: 5");
  EXPECT_EQ(f.Text("FWHARDVER"), "Hardware version: unknow device");
  EXPECT_EQ(f.Text("FWSize"), "Firmware size: 1000 byte(s)");
  EXPECT_EQ(f.Text("FWCRC"), "Firmware CRC: 0x00A5");
  EXPECT_EQ(f.Text("FWbuild"), "Firmware build: 0007.0042.03");
  EXPECT_EQ(f.Text("Firmware_name"), f.env.dir.File("fw.bin"));
  auto& c = f.w().controls;
  EXPECT_TRUE(c["Program_flash"].Enabled());
  EXPECT_TRUE(c["BootVer"].Visible());
  EXPECT_TRUE(c["Progress_flash"].Visible());

  spec.hardware = 8;
  spec.crc = 0x12345ABC;
  ASSERT_TRUE(f.Open(MakeImage(spec), "second.bin"));
  EXPECT_EQ(f.Text("FWCRC"), "Firmware CRC: 0x12345ABC");
  EXPECT_EQ(f.Text("FWHARDVER"), "Hardware version: RL20Vexa");
}

TEST(FirmwareImage, OpenButtonAsksForABinFile) {
  Flasher f;
  f.env.dialogs.QueueOpen(f.Put("chosen.bin", MakeImage({})));
  f.w().controls.UserClick("Open_fw");
  EXPECT_EQ(f.Text("Firmware_name"), f.env.dir.File("chosen.bin"));
  f.w().controls.UserClick("Open_fw");  // cancelled: nothing changes
  EXPECT_EQ(f.Text("Firmware_name"), f.env.dir.File("chosen.bin"));
}

TEST(FirmwareImage, RefusedFilesKeepTheEarlierImageSelected) {
  Flasher f;
  ImageSpec good;
  good.body = 100;
  ASSERT_TRUE(f.Open(MakeImage(good)));
  const std::string size = f.Text("FWSize");

  Bytes wrong_magic = MakeImage({});
  wrong_magic[3] = 'X';
  ImageSpec zero;
  zero.body = 0;
  ImageSpec longer;
  longer.extra = 1;
  ImageSpec shorter;
  shorter.extra = -1;
  const std::vector<Bytes> refused = {Bytes(511, 'S'), wrong_magic, MakeImage(zero), MakeImage(longer),
                                      MakeImage(shorter)};
  for (const Bytes& file : refused) {
    f.shown.clear();
    EXPECT_FALSE(f.Open(file, "bad.bin"));
    EXPECT_EQ(f.shown, std::vector<std::string>{"Message26"});
  }
  ImageSpec other_hardware;
  other_hardware.hardware = 7;
  f.shown.clear();
  EXPECT_FALSE(f.Open(MakeImage(other_hardware), "bad.bin"));
  EXPECT_EQ(f.shown, std::vector<std::string>{"Message25"});
  // A file that is not there says nothing.
  f.shown.clear();
  EXPECT_FALSE(f.w().firmware.OpenFWFileSTM(f.env.dir.File("missing.bin")));
  EXPECT_TRUE(f.shown.empty());

  EXPECT_EQ(f.Text("FWSize"), size);
  EXPECT_EQ(f.Text("Firmware_name"), f.env.dir.File("fw.bin"));
  ASSERT_TRUE(f.w().firmware.HasImage());
  EXPECT_EQ(f.w().firmware.SelectedImage()->body_size, 100u);
}

TEST(FirmwareImage, ShowingThePageClearsItUnlessAnUpdateRuns) {
  Flasher f;
  ASSERT_TRUE(f.Open(MakeImage({})));
  f.w().shell.SelectPage(0);
  f.w().shell.SelectPage(4);
  auto& c = f.w().controls;
  EXPECT_FALSE(c["Program_flash"].Enabled());
  EXPECT_EQ(f.Text("FWSize"), "");
  EXPECT_EQ(f.Text("Firmware_name"), "");
  EXPECT_FALSE(c["BootVer"].Visible());
  EXPECT_FALSE(c["Progress_flash"].Visible());

  ASSERT_TRUE(f.Open(MakeImage({})));
  c.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return f.sim.BootloaderPart().BlocksReceived() >= 1; }, 10000));
  f.w().shell.SelectPage(0);
  f.w().shell.SelectPage(4);
  EXPECT_NE(f.Text("FWSize"), "");
  EXPECT_TRUE(c["Progress_flash"].Visible());
  EXPECT_GT(c["Progress_flash"].Position(), 0);
}

// ---- Bootloader answer

TEST(Bootloader, VersionOnThePageAndTheStatusLineAndAnyHardware) {
  struct Case {
    uint8_t version;
    uint8_t type;
    bool any;
  };
  for (const Case& k :
       {Case{0x23, 8, false}, Case{0x20, 0, true}, Case{0x13, 0, false}, Case{0x13, 0xFA, true}}) {
    sim::SimConfig config;
    config.bootloader = true;
    config.bootloader_version = k.version;
    config.device_type = k.type;
    Flasher f(config);
    const std::string text =
        "Bootloader version: v" + std::to_string(k.version / 16) + "." + std::to_string(k.version % 16);
    EXPECT_EQ(f.Text("BootVer"), text);
    EXPECT_EQ(f.Text("ComPortDeviceCaption"), std::string(fake::World::kTrackerPort) + ": " + text);
    EXPECT_EQ(f.w().controls["RzPageControl1"].Index(), 4);
    EXPECT_TRUE(f.w().link.BootloaderMode);
    EXPECT_EQ(f.w().link.AnyHardware, k.any) << int(k.version) << " " << int(k.type);
    // With any hardware allowed an image of another kind is taken.
    ImageSpec other;
    other.hardware = 3;
    EXPECT_EQ(f.Open(MakeImage(other)), k.any);
  }
}

// ---- USB update against the simulator's bootloader

TEST(UsbFlash, FromTheApplicationToTheNewBuildWithoutASecondPress) {
  Flasher f;
  ASSERT_TRUE(f.w().link.Connected);
  ImageSpec spec;
  spec.body = 5000;
  spec.build1 = 2026;
  spec.build2 = 1209;
  spec.build3 = 7;
  const Bytes image = MakeImage(spec);
  ASSERT_TRUE(f.Open(image));
  const size_t mark = f.env.serial.Writes().size();
  f.w().controls.UserClick("Program_flash");
  EXPECT_FALSE(f.w().controls["Program_flash"].Enabled());
  ASSERT_TRUE(f.FlashToEnd());

  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
  EXPECT_TRUE(f.sim.BootloaderPart().Complete());
  EXPECT_TRUE(f.Shown("Message22"));
  EXPECT_FALSE(f.Shown("Message23"));
  EXPECT_EQ(f.w().controls["Progress_flash"].Position(), 100);
  // The order of the whole exchange: restart into the bootloader, identify,
  // start, size, header, five blocks, end, restart into the firmware.
  std::vector<int> sent = f.SentCommands(mark);
  sent.erase(std::remove_if(sent.begin(), sent.end(), [](int c) { return c == 34 || c == 41 || c == 32; }),
             sent.end());
  const std::vector<int> expected = {4, 0, 16, 18, 19, 20, 20, 20, 20, 20, 21, 4, 0};
  ASSERT_GE(sent.size(), expected.size());
  EXPECT_EQ(std::vector<int>(sent.begin(), sent.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(f.Frames(4, mark).front(), sim::BuildRequestFrame(4, {1}));

  // Back in the application: the device record carries the new build.
  ASSERT_TRUE(
      f.RunUntil([&] { return link::GetU16(f.w().monitoring.DeviceRecord.data() + 20) == 2026; }, 3000));
  const auto& record = f.w().monitoring.DeviceRecord;
  EXPECT_EQ(link::GetU16(record.data() + 20), 2026);
  EXPECT_EQ(link::GetU16(record.data() + 22), 1209);
  EXPECT_EQ(record[24], 7);
  EXPECT_NE(f.Text("LVer").find("2026.1209.07"), std::string::npos) << f.Text("LVer");
  EXPECT_EQ(f.w().controls["RzPageControl1"].Index(), 1);
}

TEST(UsbFlash, ExactBytesOfEveryCommandWithTheFillerOfAFullBlock) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  ImageSpec spec;
  spec.body = 2049;
  const Bytes image = MakeImage(spec);
  ASSERT_TRUE(f.Open(image));
  const size_t mark = f.env.serial.Writes().size();
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return f.sim.BootloaderPart().Complete(); }, 10000));

  EXPECT_EQ(f.Frames(16, mark), std::vector<Bytes>{sim::BuildRequestFrame(16, {})});
  EXPECT_EQ(f.Frames(18, mark), std::vector<Bytes>{sim::BuildRequestFrame(18, {0x01, 0x0A, 0x00, 0x00})});
  Bytes header{0x00, 0x02};
  header.insert(header.end(), image.begin(), image.begin() + 512);
  EXPECT_EQ(f.Frames(19, mark), std::vector<Bytes>{sim::BuildRequestFrame(19, header)});
  const auto blocks = f.Frames(20, mark);
  ASSERT_EQ(blocks.size(), 3u);
  const uint32_t offsets[3] = {0, 1024, 2048};
  const uint16_t counts[3] = {1024, 1024, 1};
  for (int i = 0; i < 3; ++i) {
    Bytes payload(6);
    link::PutU32(payload.data(), offsets[i]);
    link::PutU16(payload.data() + 4, counts[i]);
    payload.insert(payload.end(), image.begin() + 512 + offsets[i],
                   image.begin() + 512 + offsets[i] + counts[i]);
    EXPECT_EQ(blocks[i], sim::BuildRequestFrame(20, payload, 0)) << i;
  }
  // A full block is 1040 bytes, a multiple of 8: one filler byte follows.
  EXPECT_EQ(blocks[0].size(), 1041u);
  EXPECT_EQ(blocks[0].back(), 0);
  EXPECT_EQ(f.Frames(21, mark), std::vector<Bytes>{sim::BuildRequestFrame(21, {})});
  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
}

TEST(UsbFlash, ARefusedBlockEndsWithTheStepTimeoutAndANewUpdateSucceeds) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  f.sim.BootloaderPart().faults.refuse_block = 2;
  f.sim.BootloaderPart().faults.refuse_status = 3;
  const Bytes image = MakeImage({.body = 4096});
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return f.Shown("0x14 Message82"); }, 5000));
  EXPECT_TRUE(f.w().link.FlashInProgress);
  const size_t writes = f.env.serial.Writes().size();
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().link.FlashInProgress; }, 6000));
  EXPECT_EQ(f.shown.back(), "Message23");
  EXPECT_EQ(f.env.serial.Writes().size(), writes);  // nothing more was sent

  f.sim.BootloaderPart().faults = {};
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.FlashToEnd());
  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
  EXPECT_TRUE(f.Shown("Message22"));
}

TEST(UsbFlash, ARefusalThatArrivesAfterTheStepTimeoutIsStillShown) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  f.sim.BootloaderPart().faults.delay_block = 1;
  f.sim.BootloaderPart().faults.delay_ms = 8000;
  f.sim.BootloaderPart().faults.refuse_block = 1;
  f.sim.BootloaderPart().faults.refuse_status = 3;
  ASSERT_TRUE(f.Open(MakeImage({.body = 4096})));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().link.FlashInProgress; }, 10000));
  EXPECT_EQ(f.shown, std::vector<std::string>{"Message23"});
  const size_t blocks = f.Frames(20).size();
  ASSERT_TRUE(f.RunUntil([&] { return f.shown.size() == 2; }, 5000));
  EXPECT_EQ(f.shown.back(), "0x14 Message82");
  EXPECT_EQ(f.Frames(20).size(), blocks);
  EXPECT_TRUE(f.Frames(21).empty());
}

TEST(UsbFlash, ARefusedStartEndsTheUpdateAtOnce) {
  sim::SimConfig config;
  config.bootloader = true;
  config.forced_status[16] = 5;
  Flasher f(config);
  ASSERT_TRUE(f.Open(MakeImage({})));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().link.FlashInProgress; }, 1000));
  EXPECT_EQ(f.shown, std::vector<std::string>{"0x10 Message84"});
  f.env.clock.Advance(10000);
  EXPECT_EQ(f.shown, std::vector<std::string>{"0x10 Message84"});
  EXPECT_TRUE(f.Frames(18).empty());
}

TEST(UsbFlash, ASilentBootloaderEndsTheUpdateWithMessage23) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  f.sim.BootloaderPart().faults.silent_from_block = 1;
  const Bytes image = MakeImage({.body = 4096});
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return f.Frames(20).size() == 2; }, 2000));
  const int64_t since = f.env.clock.Now();
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().link.FlashInProgress; }, 10000));
  EXPECT_GE(f.env.clock.Now() - since, 4000);
  EXPECT_EQ(f.shown, std::vector<std::string>{"Message23"});

  f.sim.BootloaderPart().faults = {};
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.FlashToEnd());
  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
}

TEST(UsbFlash, AnAcknowledgementLateWithinTheTimeoutIsWaitedFor) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  f.sim.BootloaderPart().faults.delay_block = 1;
  f.sim.BootloaderPart().faults.delay_ms = 3500;
  const Bytes image = MakeImage({.body = 4096});
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.FlashToEnd());
  EXPECT_FALSE(f.Shown("Message23"));
  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
}

TEST(UsbFlash, ARestartInMidUpdateSendsTheBodyAgainFromTheStart) {
  sim::SimConfig config;
  config.bootloader = true;
  Flasher f(config);
  const Bytes image = MakeImage({.body = 6000});
  ASSERT_TRUE(f.Open(image));
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return f.sim.BootloaderPart().BlocksReceived() == 3; }, 5000));
  // The bootloader restarts: its USB device goes and comes back.
  f.env.devices.Remove(fake::World::kTrackerPort);
  f.sim.BootloaderPart().Restart();
  f.env.clock.Advance(500);
  f.env.devices.Arrive({"STMicroelectronics Virtual COM Port", fake::World::kTrackerPort});
  const size_t mark = f.env.serial.Writes().size();
  ASSERT_TRUE(f.FlashToEnd());
  EXPECT_EQ(f.sim.BootloaderPart().Starts(), 2);
  const auto blocks = f.Frames(20, mark);
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(link::GetU32(blocks.front().data() + 8), 0u);
  EXPECT_EQ(f.sim.BootloaderPart().Body(), Body(image));
  EXPECT_FALSE(f.Shown("Message23"));
}

TEST(UsbFlash, NothingHappensWithoutAnImage) {
  Flasher f;
  const size_t mark = f.env.serial.Writes().size();
  f.w().firmware.Program_flashClick();
  EXPECT_FALSE(f.w().link.FlashInProgress);
  EXPECT_TRUE(f.Frames(4, mark).empty());
}

TEST(UsbFlash, ATrackerThatNeverComesBackAsBootloaderEndsTheUpdate) {
  Flasher f;
  ASSERT_TRUE(f.Open(MakeImage({})));
  f.sim.Config().silent = true;  // the restart command goes out, nothing answers after it
  f.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().link.FlashInProgress; }, 30000));
  EXPECT_EQ(f.shown.back(), "Message23");
}

// ---- Through the tracker's application (command 209)

// The simulated tracker connected to the remote port through the in-memory network.
struct Tunnel : FlashHelpers<fake::TunnelWorld> {
  Tunnel() {
    StartListening();
    Reconnect();
  }
  // The tracker connects and is identified; its first status record has arrived.
  void Reconnect() {
    if (!w().remote.Listening()) w().controls.UserClick("Button1");
    tracker = ConnectTracker();
    EXPECT_TRUE(RunUntil([&] { return w().link.Connected && w().monitoring.DeviceRecord[0] != 0; }, 10000));
    EXPECT_TRUE(
        RunUntil([&] { return w().transfer.InProgress == config::Transfer::Exchange::kNone; }, 10000));
    shown.clear();
  }
  // Where the bytes the tracker has received end now.
  size_t Mark() const { return tracker->Received().size(); }
  // The frames with command `command` the tracker received after `from`.
  std::vector<Bytes> Frames(int command, size_t from) const {
    return TunnelWorld::Frames(*tracker, command, from);
  }
  std::shared_ptr<fake::FakePeer> tracker;
};

TEST(TunnelFlash, TheWholeFileInBlocksOf512ThenMessage134) {
  Tunnel t;
  const Bytes image = MakeImage({.body = 2048});
  ASSERT_TRUE(t.Open(image));
  const size_t mark = t.Mark();
  t.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(t.RunUntil([&] { return t.Shown("Message134"); }, 10000));
  const auto blocks = t.Frames(209, mark);
  ASSERT_EQ(blocks.size(), 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    Bytes payload(6);
    link::PutU32(payload.data(), i * 512);
    link::PutU16(payload.data() + 4, 512);
    payload.insert(payload.end(), image.begin() + i * 512, image.begin() + (i + 1) * 512);
    EXPECT_EQ(blocks[i], sim::BuildRequestFrame(209, payload)) << i;
  }
  EXPECT_EQ(t.sim.RemoteFile(), image);
  EXPECT_EQ(t.shown.back(), "Message134");
  EXPECT_FALSE(t.w().link.FlashInProgress);
  EXPECT_EQ(t.w().controls["Progress_flash"].Position(), 100);
  EXPECT_TRUE(t.Frames(4, mark).empty());  // the tracker is not restarted
}

TEST(TunnelFlash, ResumesWhereTheTrackerSaysAfterYes) {
  Tunnel t;
  const Bytes image = MakeImage({.body = 2048});
  ASSERT_TRUE(t.Open(image));
  // A first transfer stops after two blocks: the tracker falls silent.
  t.sim.SetRequestHook([&](uint8_t command, size_t) {
    if (command == 209 && t.sim.RemoteFile().size() == 1024) t.sim.Config().silent = true;
  });
  t.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(t.RunUntil([&] { return !t.w().link.FlashInProgress; }, 30000));
  EXPECT_EQ(t.shown.back(), "Message23");
  t.sim.SetRequestHook(nullptr);
  t.sim.Config().silent = false;
  t.sim.InterruptRemoteTransfer(7);
  ASSERT_TRUE(t.RunUntil([&] { return (t.w().monitoring.DeviceRecord[110] & 0x40) != 0; }, 5000));

  ASSERT_TRUE(t.Open(image));
  t.env.dialogs.QueueConfirm(true);
  const size_t mark = t.Mark();
  t.w().controls.UserClick("Program_flash");
  EXPECT_EQ(t.env.dialogs.Boxes().back(), "Message1317Message1321024");
  t.env.clock.Advance(t.env.network.Latency());
  // The first block goes out at once and is counted from the resume point.
  const auto first = t.Frames(209, mark);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(link::GetU32(first[0].data() + 8), 1024u);
  EXPECT_EQ(t.w().controls["Progress_flash"].Position(), (1024 + 512) * 100 / 2560);
  ASSERT_TRUE(t.RunUntil([&] { return t.Shown("Message134"); }, 10000));
  EXPECT_EQ(t.Frames(209, mark).size(), 3u);
  EXPECT_EQ(t.sim.RemoteFile(), image);
}

TEST(TunnelFlash, AConnectionLostMidTransferEndsItAndTheReconnectResumes) {
  for (const bool reset : {true, false}) {
    Tunnel t;
    const Bytes image = MakeImage({.body = 2048});
    ASSERT_TRUE(t.Open(image));
    // The connection drops while the third block is on its way: the tracker
    // keeps it, the acknowledgement never comes.
    bool dropped = false;
    t.sim.SetRequestHook([&](uint8_t command, size_t) {
      if (command != 209 || dropped || t.sim.RemoteFile().size() != 1024) return;
      dropped = true;
      if (reset) {
        t.tracker->Reset();
      } else {
        t.tracker->Close();
      }
    });
    t.w().controls.UserClick("Program_flash");
    ASSERT_TRUE(t.RunUntil([&] { return dropped && !t.w().link.FlashInProgress; }, 5000));
    EXPECT_TRUE(std::any_of(t.shown.begin(), t.shown.end(), [](const std::string& s) {
      return s.find("Передача прошивки прервана") != std::string::npos;
    }));
    EXPECT_TRUE(t.w().controls["Program_flash"].Enabled());
    ASSERT_TRUE(t.RunUntil([&] { return !t.w().remote.Listening(); }, 2000));
    t.sim.SetRequestHook(nullptr);
    ASSERT_EQ(t.sim.RemoteFile().size(), 1536u);
    t.sim.InterruptRemoteTransfer(7);

    // The engineer opens the port again, the tracker reconnects and says where it stopped.
    t.Reconnect();
    ASSERT_TRUE(t.RunUntil([&] { return (t.w().monitoring.DeviceRecord[110] & 0x40) != 0; }, 5000));
    t.env.dialogs.QueueConfirm(true);
    const size_t mark = t.Mark();
    t.w().controls.UserClick("Program_flash");
    EXPECT_EQ(t.env.dialogs.Boxes().back(), "Message1317Message1321536");
    ASSERT_TRUE(t.RunUntil([&] { return t.Shown("Message134"); }, 10000));
    const auto blocks = t.Frames(209, mark);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(link::GetU32(blocks[0].data() + 8), 1536u);
    EXPECT_EQ(t.sim.RemoteFile(), image);
  }
}

TEST(TunnelFlash, NoStartsOverAndAPositionPastTheFileStartsOver) {
  for (const bool yes : {false, true}) {
    Tunnel t;
    const Bytes image = MakeImage({.body = 1000});
    t.sim.DeviceRecord()[110] = 0x40;
    link::PutU32(t.sim.DeviceRecord().data() + 206, yes ? 1512 : 512);  // 1512 is the file's size
    ASSERT_TRUE(t.RunUntil([&] { return t.w().monitoring.DeviceRecord[110] != 0; }, 5000));
    ASSERT_TRUE(t.Open(image));
    t.env.dialogs.QueueConfirm(yes);
    const size_t mark = t.Mark();
    t.w().controls.UserClick("Program_flash");
    t.env.clock.Advance(t.env.network.Latency());
    const auto first = t.Frames(209, mark);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(link::GetU32(first[0].data() + 8), 0u);
    ASSERT_TRUE(t.RunUntil([&] { return t.Shown("Message134"); }, 10000));
    EXPECT_EQ(t.sim.RemoteFile(), image);
  }
}

TEST(TunnelFlash, WithoutAnImageMessage133) {
  Tunnel t;
  t.w().firmware.RemoteFlashSendBlock(0);
  EXPECT_EQ(t.shown, std::vector<std::string>{"Message133"});
  EXPECT_FALSE(t.w().link.FlashInProgress);
}

TEST(TunnelFlash, ARefusedBlockShowsTheStatusAndTimesOutAfter20s) {
  Tunnel t;
  t.sim.Config().forced_status[209] = 2;
  ASSERT_TRUE(t.Open(MakeImage({})));
  t.w().controls.UserClick("Program_flash");
  ASSERT_TRUE(t.RunUntil([&] { return t.Shown("Message81"); }, 1000));
  const int64_t since = t.env.clock.Now();
  ASSERT_TRUE(t.RunUntil([&] { return !t.w().link.FlashInProgress; }, 30000));
  EXPECT_GE(t.env.clock.Now() - since, 19000);
  EXPECT_EQ(t.shown.back(), "Message23");
}

}  // namespace
}  // namespace rlv

#include "firmware/Firmware.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/MainWindow.h"
#include "link/Bytes.h"

namespace rlv::firmware {

namespace {
constexpr int kFirmwarePage = 4;
constexpr uint8_t kAnyHardwareType = 0xFA;

constexpr int kMsgFlashDone = 22;
constexpr int kMsgWrongHardware = 25;
constexpr int kMsgBadFile = 26;
constexpr int kMsgResumeNumber = 131;
constexpr int kMsgResumeOffset = 132;
constexpr int kMsgNoImage = 133;
constexpr int kMsgTunnelDone = 134;

// Header fields.
constexpr size_t kHwType = 4;
constexpr size_t kVersion = 5;
constexpr size_t kBodySize = 8;
constexpr size_t kCrc = 12;
constexpr size_t kBuild1 = 20;
constexpr size_t kBuild2 = 22;
constexpr size_t kBuild3 = 24;

// Device record fields of a tunnel transfer that can be resumed.
constexpr size_t kResumeFlags = 110;
constexpr uint8_t kResumeBit = 0x40;
constexpr size_t kResumeOffset = 206;
constexpr size_t kResumeNumber = 210;

std::string Format(const char* format, auto... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

ImageVerdict ParseImage(std::vector<uint8_t> file, uint8_t device_type, bool any_hardware, Image* out) {
  if (file.size() < Image::kHeaderSize || std::memcmp(file.data(), "SLFW", 4) != 0) {
    return ImageVerdict::kNotImage;
  }
  const uint8_t* h = file.data();
  if (!any_hardware && (h[kHwType] & 0x0F) != (device_type & 0x0F)) return ImageVerdict::kWrongHardware;
  const uint32_t body = link::GetU32(h + kBodySize);
  // The body is exactly what follows the header: nothing missing, nothing extra.
  if (body == 0 || static_cast<uint64_t>(body) + Image::kHeaderSize != file.size()) {
    return ImageVerdict::kNotImage;
  }
  out->hardware = h[kHwType];
  out->version = h[kVersion];
  out->body_size = body;
  out->crc = link::GetU32(h + kCrc);
  out->build1 = link::GetU16(h + kBuild1);
  out->build2 = link::GetU16(h + kBuild2);
  out->build3 = h[kBuild3];
  out->file = std::move(file);
  return ImageVerdict::kOk;
}

Firmware::Firmware(app::MainWindow& w) : w_(w) {
  if (w_.plat.timers != nullptr) {
    Timer2 = w_.CreateTimer([this] { Timer2Timer(); });
    Timer2->SetInterval(kGnssIdleInterval);
  }
}

Firmware::~Firmware() {
  if (Timer2) Timer2->Stop();
}

void Firmware::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  auto add = [&m](const char* name, Kind kind, const char* caption) -> ui::Control& {
    ui::Control& c = m.Add(name, kind, "TabSheet9");
    c.SetText(caption);
    return c;
  };
  // Firmware page.
  m.Add("Label63", Kind::Label, "TabSheet9").SetText("Выберите файл прошивки");
  m.Add("Firmware_name", Kind::Edit, "TabSheet9").SetGeometry({16, 40, 520, 21});
  m.Add("Open_fw", Kind::Button, "TabSheet9").SetText("Open_firmware");
  add("Program_flash", Kind::Button, "Programing").SetEnabled(false);
  add("RebootinBoot", Kind::Button, "Reboot into bootloader");
  add("Getfirmware", Kind::Button, "Get firmware");
  for (const auto& [name, caption] : {std::pair{"FWVer", "Firmware version:"},
                                      {"FWHARDVER", "Hardware version:"},
                                      {"FWSize", "Firmware size:"},
                                      {"FWCRC", "Firmware CRC:"},
                                      {"FWbuild", "Firmware build:"},
                                      {"BootVer", "Bootloader version:"}}) {
    add(name, Kind::Label, caption);
  }
  ui::Control& bar = m.Add("Progress_flash", Kind::ProgressBar, "TabSheet9");
  bar.SetRange(0, 100);
  int top = 72;
  for (const char* name : {"Open_fw", "Program_flash", "RebootinBoot", "Getfirmware"}) {
    m[name].SetGeometry({16, top, 160, 25});
    top += 32;
  }
  top = 72;
  for (const char* name : {"FWVer", "FWHARDVER", "FWSize", "FWCRC", "FWbuild", "BootVer"}) {
    m[name].SetGeometry({200, top, 340, 17});
    top += 22;
  }
  m["Label63"].SetGeometry({16, 16, 300, 17});
  bar.SetGeometry({16, 220, 520, 20});
  m["BootVer"].SetVisible(false);
  bar.SetVisible(false);

  // Receiver update page.
  m.Add("Label75", Kind::Label, "TabSheet3").SetText("Обновление прошивки ГЛОНАСС/GPS приемника");
  m["Label75"].SetGeometry({16, 16, 420, 17});
  // The receiver update's progress line, empty until an update runs.
  m.Add("Label28", Kind::Label, "TabSheet3");
  m["Label28"].SetGeometry({16, 48, 420, 17});
  ui::Control& gnss_bar = m.Add("ProgressBar", Kind::ProgressBar, "TabSheet3");
  gnss_bar.SetRange(0, 100);
  gnss_bar.SetGeometry({16, 76, 420, 20});
  m.Add("Button22", Kind::Button, "TabSheet3").SetText("Остановить");
  m["Button22"].SetGeometry({16, 108, 120, 25});
}

void Firmware::BindHandlers() {
  using ui::Event;
  ui::ControlModel& c = w_.controls;
  c.On("Open_fw", Event::Click, [this](const ui::EventArgs&) { Open_fwClick(); });
  c.On("Program_flash", Event::Click, [this](const ui::EventArgs&) { Program_flashClick(); });
  c.On("RebootinBoot", Event::Click, [this](const ui::EventArgs&) { RebootinBootClick(); });
  c.On("GNSSUPD", Event::Click, [this](const ui::EventArgs&) { GNSSUPDClick(); });
  c.On("Button22", Event::Click, [this](const ui::EventArgs&) { Button22Click(); });
}

void Firmware::ShowMessage(int number) {
  w_.messages.MessageShow(w_.messages.GetMessageA(number));
}

// ---------------------------------------------------------------------------
// Image file

void Firmware::Open_fwClick() {
  const auto path = w_.plat.dialogs->OpenFile(
      w_.messages.GetStringOr("Window", "FirmwareFilter", "Файлы прошивки (*.bin)|*.bin"));
  if (path) OpenFWFileSTM(*path);
}

bool Firmware::OpenFWFileSTM(const std::string& path) {
  // The image of a running update is never swapped under it.
  if (w_.link.FlashInProgress || path.empty()) return false;
  std::string why;
  auto bytes = w_.Files().Read(path, Image::kMaxFileSize, &why);
  if (!bytes) {
    // A file that is not there says nothing; one that cannot be read says why.
    if (!why.empty())
      w_.messages.MessageShow(w_.messages.GetMessageA(kMsgBadFile) + ": " + path + " (" + why + ")");
    return false;
  }
  auto image = std::make_unique<Image>();
  switch (ParseImage(std::move(*bytes), w_.link.DeviceType, w_.link.AnyHardware, image.get())) {
    case ImageVerdict::kNotImage:
      ShowMessage(kMsgBadFile);
      return false;
    case ImageVerdict::kWrongHardware:
      ShowMessage(kMsgWrongHardware);
      return false;
    case ImageVerdict::kOk:
      break;
  }
  image->path = path;
  image_ = std::move(image);
  ShowImage(*image_);
  w_.controls["BootVer"].SetVisible(true);
  w_.controls["Progress_flash"].SetVisible(true);
  w_.link.FlashBytesSent = 0;
  w_.controls["Program_flash"].SetEnabled(true);
  w_.controls["Firmware_name"].SetText(path);
  return true;
}

void Firmware::ShowImage(const Image& image) {
  ui::ControlModel& c = w_.controls;
  c["FWVer"].SetText(Format("Firmware version: %d", image.version));
  c["FWHARDVER"].SetText("Hardware version: " + link::PortDiscovery::TypeDeviceToString(image.hardware));
  c["FWSize"].SetText(
      Format("Firmware size: %llu byte(s)", static_cast<unsigned long long>(image.FileSize())));
  c["FWCRC"].SetText(Format("Firmware CRC: 0x%.4X", static_cast<unsigned>(image.crc)));
  c["FWbuild"].SetText(Format("Firmware build: %.4d.%.4d.%.2d", image.build1, image.build2, image.build3));
}

void Firmware::TabSheet9Show() {
  if (w_.link.FlashInProgress) return;
  ui::ControlModel& c = w_.controls;
  c["Program_flash"].SetEnabled(false);
  for (const char* name : {"Firmware_name", "FWSize", "FWCRC", "FWVer", "FWHARDVER", "FWbuild"}) {
    c[name].SetText("");
  }
  c["Progress_flash"].SetPosition(0);
  c["BootVer"].SetVisible(false);
  c["Progress_flash"].SetVisible(false);
}

void Firmware::CloseImageFile() {
  image_.reset();
  if (!w_.link.FlashInProgress) w_.controls["Program_flash"].SetEnabled(false);
}

// ---------------------------------------------------------------------------
// Bootloader flashing

void Firmware::RebootinBootClick() {
  w_.discovery.ResetDevice(1);
}

void Firmware::Bootloader_version(uint8_t version, uint8_t type) {
  link::LinkState& s = w_.link;
  w_.discovery.SetSearching(false);
  const std::string text = Format("Bootloader version: v%d.%d", version / 16, version % 16);
  w_.controls["BootVer"].SetText(text);
  w_.discovery.SetStatusLine(s.PortName + ": " + text);
  w_.shell.SelectPage(kFirmwarePage);
  if (type == kAnyHardwareType || (version / 16 == 2 && type == 0)) s.AnyHardware = true;
  s.BootloaderMode = true;
  // An update started in the application goes on once the bootloader answers;
  // a bootloader that answers again during an update starts it over.
  if (s.FlashInProgress) Program_flashClick();
}

void Firmware::Program_flashClick() {
  link::LinkState& s = w_.link;
  if (!image_) {
    if (s.FlashInProgress) EndUpdate();
    return;
  }
  s.FlashInProgress = true;
  w_.controls["Program_flash"].SetEnabled(false);
  if (!s.RemoteModeActive) {
    if (s.BootloaderMode) {
      s.FlashBytesSent = 0;
      SetProgress(0, 1);
      FlashBegin();
    } else {
      w_.discovery.ResetDevice(1);
      s.FlashTimeout = kRestartTimeout;
    }
    return;
  }
  uint32_t start = 0;
  const auto& record = w_.monitoring.DeviceRecord;
  if ((record[kResumeFlags] & kResumeBit) != 0) {
    const uint32_t offset = link::GetU32(record.data() + kResumeOffset);
    const std::string question = w_.messages.GetMessageA(kMsgResumeNumber) +
                                 std::to_string(record[kResumeNumber]) +
                                 w_.messages.GetMessageA(kMsgResumeOffset) + std::to_string(offset);
    if (w_.plat.dialogs->Confirm(question, "")) start = offset;
  }
  // A position the tracker reports past the file starts the file over.
  if (start >= image_->FileSize()) start = 0;
  s.FlashBytesSent = start;
  RemoteFlashSendBlock(start);
}

void Firmware::SendFlash(uint8_t command, const uint8_t* payload, uint16_t length) {
  w_.codec.SendPacket(command, payload, length);
  w_.link.FlashTimeout = kUsbStepTimeout;
}

void Firmware::FlashBegin() {
  SendFlash(protocol::kFlashStart, nullptr, 0);
}

void Firmware::FlashSendSize(uint32_t size) {
  uint8_t payload[4];
  link::PutU32(payload, size);
  SendFlash(protocol::kFlashSize, payload, sizeof payload);
}

void Firmware::FlashSendHeader() {
  if (!image_) return;
  uint8_t payload[2 + Image::kHeaderSize];
  payload[0] = 0x00;
  payload[1] = 0x02;
  std::memcpy(payload + 2, image_->Header(), Image::kHeaderSize);
  SendFlash(protocol::kFlashHeader, payload, sizeof payload);
}

void Firmware::FlashSendBlock(uint32_t offset) {
  if (!image_ || offset >= image_->body_size) return;
  const uint32_t n = std::min(kUsbBlock, image_->body_size - offset);
  uint8_t payload[6 + kUsbBlock];
  link::PutU32(payload, offset);
  link::PutU16(payload + 4, static_cast<uint16_t>(n));
  std::memcpy(payload + 6, image_->Body() + offset, n);
  SendFlash(protocol::kFlashBlock, payload, static_cast<uint16_t>(6 + n));
  w_.link.FlashBytesSent = offset + n;
  SetProgress(w_.link.FlashBytesSent, image_->body_size);
}

void Firmware::SetProgress(uint64_t done, uint64_t total) {
  const uint64_t percent = total == 0 ? 100 : std::min<uint64_t>(done * 100 / total, 100);
  w_.controls["Progress_flash"].SetPosition(static_cast<int>(percent));
}

void Firmware::EndUpdate() {
  w_.link.FlashInProgress = false;
  w_.link.FlashTimeout = 0;
}

void Firmware::OnFlashAnswer(uint8_t command, uint8_t status) {
  link::LinkState& s = w_.link;
  if (s.RemoteModeActive) return;
  if (status != 0) {
    // What the bootloader refused is shown even when it says so after the
    // step's timeout has ended the update; nothing is sent either way.
    w_.messages.MessageShow(Format("0x%.2X ", static_cast<unsigned>(command)) +
                            w_.dispatcher.StatusText(status));
    // A refused start, size or header ends the update at once; a refused
    // block or end runs into the step timeout.
    if (s.FlashInProgress && (command == protocol::kFlashStart || command == protocol::kFlashSize ||
                              command == protocol::kFlashHeader)) {
      EndUpdate();
    }
    return;
  }
  // An acknowledgement that belongs to no update sends nothing.
  if (!s.FlashInProgress) return;
  if (!image_) {
    EndUpdate();
    return;
  }
  switch (command) {
    case protocol::kFlashStart:
      FlashSendSize(image_->FileSize());
      break;
    case protocol::kFlashSize:
      FlashSendHeader();
      break;
    case protocol::kFlashHeader:
      FlashSendBlock(s.FlashBytesSent);
      break;
    case protocol::kFlashBlock:
      if (s.FlashBytesSent < image_->body_size) {
        FlashSendBlock(s.FlashBytesSent);
      } else {
        SendFlash(protocol::kFlashEnd, nullptr, 0);
      }
      break;
    case protocol::kFlashEnd:
      // The image is in; the tracker restarts into it.
      EndUpdate();
      SetProgress(1, 1);
      ShowMessage(kMsgFlashDone);
      w_.discovery.ResetDevice(0);
      break;
    default:
      break;
  }
}

void Firmware::RemoteFlashSendBlock(uint32_t offset) {
  link::LinkState& s = w_.link;
  if (!image_) {
    ShowMessage(kMsgNoImage);
    EndUpdate();
    return;
  }
  const uint32_t size = image_->FileSize();
  if (offset < size) {
    const uint32_t n = std::min(kTunnelBlock, size - offset);
    uint8_t payload[6 + kTunnelBlock];
    link::PutU32(payload, offset);
    link::PutU16(payload + 4, static_cast<uint16_t>(n));
    std::memcpy(payload + 6, image_->file.data() + offset, n);
    w_.codec.SendPacket(protocol::kRemoteFlashBlock, payload, static_cast<uint16_t>(6 + n));
    s.FlashBytesSent = offset + n;
    SetProgress(s.FlashBytesSent, size);
    s.FlashTimeout = kTunnelStepTimeout;
    return;
  }
  // The last block was acknowledged: the whole file is in the tracker.
  image_.reset();
  w_.transfer.StopWait(kMsgFlashDone);
  ShowMessage(kMsgTunnelDone);
  EndUpdate();
}

void Firmware::OnRemoteFlashAnswer(uint8_t status) {
  if (status != 0) {
    w_.messages.MessageShow(w_.dispatcher.StatusText(status));
    return;
  }
  if (w_.link.FlashInProgress && w_.link.RemoteModeActive) RemoteFlashSendBlock(w_.link.FlashBytesSent);
}

}  // namespace rlv::firmware

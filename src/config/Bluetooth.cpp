#include "config/Bluetooth.h"

#include "app/MainWindow.h"
#include "link/Codepage.h"
#include "protocol/Dispatcher.h"
#include "ui/Language.h"

namespace rlv::config {

namespace {
constexpr const char* kPanel = "Panel26";
constexpr const char* kGrid = "BlueScan";
constexpr const char* kScanButton = "Button14";
constexpr const char* kProfile = "HFPROF";
constexpr const char* kNoDevice = "Выберите устройство";

// Scan request: on, for this many seconds; stop request: off.
constexpr uint8_t kScanOn = 0x01;
constexpr uint8_t kScanOff = 0x00;
// Pair and remove requests.
constexpr uint8_t kPair = 0x01;
constexpr uint8_t kRemove = 0x00;
// The profile byte of a pair request is the profile's index plus this.
constexpr uint8_t kProfileBase = 5;
// The list request's sub-code.
constexpr uint8_t kListPaired = 0x02;
}  // namespace

void Bluetooth::DeclareControls(ui::ControlModel& m) {
  ui::Control& panel = m.Add(kPanel, ui::Kind::Panel, "MainForm");
  panel.SetGeometry({0, 0, 380, 320});
  panel.SetVisible(false);
  panel.SetColor(ui::Rgb(255, 255, 255));
  ui::Control& grid = m.Add(kGrid, ui::Kind::Grid, kPanel);
  grid.SetReadOnly(true);
  grid.SetGridSize(2, 1 + kFirstRows);
  grid.SetCell(0, 0, "№");
  grid.SetCell(1, 0, "Устройство");
  ui::Control& profile = m.Add(kProfile, ui::Kind::RadioGroup, kPanel);
  profile.SetText("HandFree profile");
  profile.SetItems({"HF PROFILE", "HFG PROFILE"});
  profile.SetIndex(1);
  m.Add(kScanButton, ui::Kind::Button, kPanel).SetText(ScanIdleCaption());
  m.Add("Button15", ui::Kind::Button, kPanel).SetText("Остановить");
  m.Add("Button16", ui::Kind::Button, kPanel).SetText("Сопряжение");
  m.Add("Button17", ui::Kind::Button, kPanel).SetText("Список ");
  m.Add("Button18", ui::Kind::Button, kPanel).SetText("Удалить");
  m.Add("Button13", ui::Kind::Button, kPanel).SetText("Закрыть");
}

void Bluetooth::BindHandlers() {
  ui::ControlModel& c = w_.controls;
  const auto on = [this, &c](const char* name, void (Bluetooth::*handler)()) {
    c.On(name, ui::Event::Click, [this, handler](const ui::EventArgs&) { (this->*handler)(); });
  };
  on("Button12", &Bluetooth::Button12Click);
  on("Button13", &Bluetooth::Button13Click);
  on(kScanButton, &Bluetooth::Button14Click);
  on("Button15", &Bluetooth::Button15Click);
  on("Button16", &Bluetooth::Button16Click);
  on("Button17", &Bluetooth::Button17Click);
  on("Button18", &Bluetooth::Button18Click);
}

std::string Bluetooth::ScanIdleCaption() {
  return "Сканировать";
}

std::string Bluetooth::TextFromTracker(const std::string& raw) {
  std::string text = link::Cp1251ToUtf8(raw.substr(0, kMaxNameBytes));
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  }
  return text;
}

void Bluetooth::Button12Click() {
  w_.controls[kPanel].SetVisible(true);
}

void Bluetooth::Button13Click() {
  w_.controls[kPanel].SetVisible(false);
}

void Bluetooth::Button14Click() {
  ClearBlueList();
  ScanCountdown = kScanSeconds;
  shown_count_ = 0;
  const uint8_t request[] = {kScanOn, static_cast<uint8_t>(kScanSeconds)};
  w_.codec.SendPacket(protocol::kBluetoothScan, request, sizeof request);
}

void Bluetooth::Button15Click() {
  ScanCountdown = 0;
  RenderScanCaption();
  const uint8_t request[] = {kScanOff};
  w_.codec.SendPacket(protocol::kBluetoothScan, request, sizeof request);
}

void Bluetooth::Button16Click() {
  const int row = SelectedDeviceRow();
  if (row == 0) return;
  const int profile = w_.controls[kProfile].Index();
  const uint8_t request[] = {kPair, static_cast<uint8_t>(row),
                             static_cast<uint8_t>(kProfileBase + (profile < 0 ? 0 : profile))};
  w_.codec.SendPacket(protocol::kBluetoothPair, request, sizeof request);
}

void Bluetooth::Button17Click() {
  ClearBlueList();
  const uint8_t request[] = {kListPaired};
  w_.codec.SendPacket(protocol::kBluetoothList, request, sizeof request);
}

void Bluetooth::Button18Click() {
  const int row = SelectedDeviceRow();
  if (row == 0) return;
  const uint8_t request[] = {kRemove, static_cast<uint8_t>(row)};
  w_.codec.SendPacket(protocol::kBluetoothPair, request, sizeof request);
}

void Bluetooth::ClearBlueList() {
  ui::Control& grid = w_.controls[kGrid];
  for (int row = 1; row < grid.Rows(); ++row) {
    grid.SetCell(0, row, "");
    grid.SetCell(1, row, "");
  }
}

void Bluetooth::AddToBlueList(int number, const std::string& name) {
  ui::Control& grid = w_.controls[kGrid];
  int row = 1;
  while (row < grid.Rows() && !grid.Cell(0, row).empty()) ++row;
  if (row == grid.Rows()) {
    if (grid.Rows() - 1 >= kMaxRows) return;
    grid.SetGridSize(grid.Cols(), grid.Rows() + 1);
  }
  grid.SetCell(0, row, std::to_string(number));
  grid.SetCell(1, row, name);
}

void Bluetooth::Tick() {
  if (ScanCountdown == 0) return;
  ui::Control& button = w_.controls[kScanButton];
  shown_count_ = ScanCountdown;
  button.SetText("Скан: " + std::to_string(ScanCountdown));
  --ScanCountdown;
  if (ScanCountdown == 0) RenderScanCaption();
}

void Bluetooth::RenderScanCaption() {
  ui::Control& button = w_.controls[kScanButton];
  if (ScanCountdown > 0 && shown_count_ > 0) {
    button.SetText("Скан: " + std::to_string(shown_count_));
  } else if (ScanCountdown == 0) {
    button.SetText(w_.messages.GetStringOr(ui::Language::kCaptionsSection, kScanButton, ScanIdleCaption()));
  }
}

int Bluetooth::SelectedDeviceRow() {
  const int row = w_.controls[kGrid].SelectedRow();
  if (row < 1 || row > kMaxDeviceRow) {
    w_.messages.MessageShow(kNoDevice);
    return 0;
  }
  return row;
}

}  // namespace rlv::config

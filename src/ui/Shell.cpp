#include "ui/Shell.h"

#include <algorithm>
#include <array>
#include <limits>

#include "app/MainWindow.h"
#include "platform/IniFile.h"
#include "ui/HelpEditor.h"

namespace rlv::ui {

namespace {

// The panels Esc closes, the one over the others first, each by its close
// control (the same as clicking it). The message panel closes by the button
// of the page it shows; its progress page has none.
struct PanelClose {
  const char* panel;
  const char* close;
};
constexpr PanelClose kPanelCloses[] = {{"Panel32", "Image4"},
                                       {"NewsPanel", "NewsClose"},
                                       {"PatternPanel", "Image2"},
                                       {"StructPanel", "Image3"},
                                       {"DopPanel", "Image5"}};
constexpr const char* kMessagePageClose[] = {"OKMES", "Button2", "Button4"};
constexpr int kEscapeKey = 27;

void CloseTopPanel(ControlModel& c) {
  if (const Control* messages = c.Find("MESPANEL"); messages != nullptr && messages->Visible()) {
    const int page = c["PageControlMes"].Index();
    if (page >= 0 && page < static_cast<int>(std::size(kMessagePageClose))) {
      c.UserClick(kMessagePageClose[page]);
    }
    return;
  }
  for (const PanelClose& p : kPanelCloses) {
    const Control* panel = c.Find(p.panel);
    if (panel != nullptr && panel->Visible()) {
      c.UserClick(p.close);
      return;
    }
  }
}

// Every control that explains itself on the help line; each name is a key of
// the language file's [Help] section.
// clang-format off
constexpr std::array<std::string_view, 243> kHelpLineControls = {
    "Label57", "MImage0", "MImage1", "MImage2", "MImage3", "MImage4", "MImage5", "MImage6", "MImage7",
    "MImage8", "MImage9", "MImage10", "RzGroupBox1", "Label1", "Label2", "LCURRENTOP", "Label5", "Label6",
    "Label55", "Label56", "CONFPASS", "SERVERIP", "DISPNUMBER", "SENDTESTPACK", "CALLSMSFROMALL",
    "UserAPN", "ID_Device", "RzGroupBox2", "Label4", "Label7", "Label8", "OUTONINCALLING", "Label32",
    "Label33", "Label34", "OUTIMPULS", "OUTPAUSE", "OUTPERIOD", "RzGroupBox3", "Label9", "Label10",
    "Label11", "Label12", "FUEL1", "FUEL2", "ModBusStr", "Label52", "Label53", "Label54", "Label206",
    "Label207", "TACHOUSER", "TACHOPASS", "RzGroupBox4", "Label13", "Label14", "Label15", "Label16",
    "Label17", "ONOUTIFKEYVALID", "ALARMNOTVALIDKEY", "KEY1", "KEY2", "KEY3", "KEY4", "KEY5",
    "SavePowerAfterStop", "Label21", "LDateTime", "LLat", "LLon", "LHeight", "LSpeed", "LCourse", "LSat",
    "LHDOP", "LDataToSend", "LPerPack", "LValid", "DeleteTrack", "LOdo", "GNSSUPD", "Label23", "LIN1",
    "LIN2", "LOUT1", "Label24", "Label25", "LAccel_X", "LAccel_Y", "LAccel_Z", "Label61", "FuelLev1",
    "FuelLev2", "Label26", "LTemp1", "LTemp2", "LiBut", "Label22", "LTemp3", "LTemp4", "LTemp5", "LTemp6",
    "LTemp7", "LTemp8", "LOG_memo", "WorkTime", "Label27", "LType", "LNumber", "LIMEI", "LVer", "CopyIMEI",
    "Label321", "Label322", "Label42", "LGPRSreg", "LTemp", "LGSMreg", "LCsq", "GSM_CSQ", "Label30",
    "Progress_flash", "FWHARDVER", "FWVer", "FWSize", "BootVer", "FWbuild", "FWCRC", "RebootinBoot",
    "Firmware_name", "Open_fw", "Program_flash", "Getfirmware", "RzGroupBox5", "Label35", "RconfPort",
    "Button1", "OpenTransPort", "RzGroupBox6", "Label36", "Label37", "Label38", "IPUPDATE", "UPDPORT",
    "CONFPORT", "RzGroupBox7", "Label39", "Label40", "Memo8", "IMEICLOUD", "UploadConfigButton",
    "UploadListIMEIButton", "DownloadConfigButton", "AutoSendConfig", "Label429", "Label430", "Image4",
    "RzRadioGroup1", "Button29", "PatternIDGrid", "Image2", "Image3", "Label112", "Label113", "Label111",
    "Label110", "Label109", "Label108", "Label107", "Label105", "Label104", "Label115", "Label116",
    "Label117", "Label118", "Label119", "Label345", "Label414", "Accel_sens", "Timeoutstop", "Perpackmove",
    "Packdist", "Filterlineangel", "Minspeedangel", "Minangel", "Perestroi", "Filterline", "ParkCheck",
    "Perpackstop2", "Perpackstop", "TimePark", "MINSATS", "MINWRINT", "Maxaccel", "Maxdist", "Maxspeed",
    "Minspeed", "MaxHdop", "NotWrPointF", "Image5", "Label59", "Label188", "Label189", "Label190",
    "Label191", "Label193", "Step3AngleValueByMove", "Button54", "Image11", "Label120", "Label155",
    "Label148", "Label147", "Label146", "Label145", "Label143", "Label142", "Label127", "Label125",
    "Label124", "Label128", "Label106", "Label58", "Label60", "BrakingLevel", "AccelerationLevel",
    "CourceLevel", "SkidLevel", "PerevorotLevel", "Tilt0Level", "Tilt1Level", "MaxSpeedLevel",
    "AgressParam2", "AgressParam1", "AccidentLevel", "MaxSpeedAngle", "MinRadiusAngle", "MODID", "MODREG",
    "MODVALUE", "MCCMNCGRID", "BlueScan"};
// clang-format on
static_assert(std::ranges::none_of(kHelpLineControls, [](std::string_view name) { return name.empty(); }));

constexpr const char* kOverlayPanels[] = {"MESPANEL", "PatternPanel", "StructPanel",
                                          "DopPanel", "Panel19",      "Panel26"};

struct FixedPlace {
  const char* panel;
  int left;
  int top;
};
constexpr FixedPlace kFixedPanels[] = {{"Panel32", 20, 580}, {"Panel28", 463, 183}};
constexpr FixedPlace kNewsPanel = {"NewsPanel", 80, 120};

bool IsMenuButton(std::string_view name) {
  return name.starts_with("MImage");
}

// Length of the UTF-8 sequence that starts with `lead`.
size_t Utf8Length(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

void MoveTo(ControlModel& controls, const FixedPlace& place) {
  Control* panel = controls.Find(place.panel);
  if (panel == nullptr) return;
  Rect g = panel->Geometry();
  g.left = place.left;
  g.top = place.top;
  panel->SetGeometry(g);
}

}  // namespace

std::span<const std::string_view> Shell::HelpLineControls() {
  return kHelpLineControls;
}

std::optional<int32_t> ParsePasswordText(std::string_view text) {
  auto value = platform::ParseInteger(text);
  if (!value || *value < std::numeric_limits<int32_t>::min() ||
      *value > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(*value);
}

// ---- Wiring ------------------------------------------------------------------

void Shell::BindHandlers() {
  ControlModel& c = w_.controls;
  for (int i = 0; i < kMenuButtonCount; ++i) {
    const std::string name = "MImage" + std::to_string(i);
    c.On(name, Event::Click, [this, name](const EventArgs&) { MenuImageClick(w_.controls[name].Tag()); });
    c.On(name, Event::MouseLeave, [this, name](const EventArgs&) { MImageMouseLeave(name); });
    c.On(name, Event::MouseDown, [this, name](const EventArgs&) { MImageMouseDown(name); });
  }
  c.On("Panel9", Event::MouseDown, [this](const EventArgs&) { Panel9MouseDown(); });
  c.On("Panel9", Event::DblClick, [this](const EventArgs&) { Panel9DblClick(); });
  c.On("MinzImage", Event::Click, [this](const EventArgs&) { MinzImageClick(); });
  c.On("CloseImage", Event::Click, [this](const EventArgs&) { CloseImageClick(); });

  c.On("PassButOK", Event::Click, [this](const EventArgs&) { PassButOKClick(); });
  c.On("PassEdit", Event::KeyPress, [this](const EventArgs& a) { PassEditKeyPress(a.key); });
  c.On("Button2", Event::Click, [this](const EventArgs&) { Button2Click(); });
  c.On("DeleteTrack", Event::Click, [this](const EventArgs&) { DeleteTrackClick(); });
  c.On("Button3", Event::Click, [this](const EventArgs&) { Button3Click(); });
  c.On("Button4", Event::Click, [this](const EventArgs&) { Button2Click(); });
  c.On("CopyIMEI", Event::Click, [this](const EventArgs&) { CopyIMEIClick(); });
  c.On("Label30", Event::Click, [this](const EventArgs&) { CopyIMEIClick(); });
  c.On("MainForm", Event::KeyUp, [this](const EventArgs& args) {
    if (args.key == kEscapeKey) CloseTopPanel(w_.controls);
  });
}

void Shell::BindHelpLine() {
  // Handlers are kept by name, so a control declared after this call is served too.
  for (std::string_view view : kHelpLineControls) {
    const std::string name(view);
    if (IsMenuButton(name)) {
      w_.controls.On(name, Event::MouseMove, [this, name](const EventArgs&) { MImageMouseMove(name); });
    } else {
      w_.controls.On(name, Event::MouseMove, [this, name](const EventArgs&) { MouseMoveHelp(name); });
    }
  }
}

bool Shell::InputBlocked() const {
  return w_.help_editor.IsOpen();
}

// ---- Pages and menu ------------------------------------------------------------

void Shell::SelectPage(int index) {
  if (index < 0 || index >= kPageCount) index = -1;
  ui::Control& pages = w_.controls["RzPageControl1"];
  const bool shows_firmware = index == kFirmwarePage && pages.Index() != kFirmwarePage;
  pages.SetIndex(index);
  if (shows_firmware) w_.firmware.TabSheet9Show();
}

void Shell::LoadMenuImages() {
  // Picture i of the menu's image list belongs to MImage i: the front end that
  // draws the window takes it by the button's tag.
  MenuImagesLoaded = true;
}

void Shell::MenuImageClick(int tag) {
  switch (tag) {
    case 0:
      w_.config.Load_default();
      SelectPage(0);
      break;
    case 1:
      w_.transfer.OpenConfig();
      SelectPage(0);
      break;
    case 2:
      w_.transfer.SaveConfig();
      break;
    case 3:
      SelectPage(5);
      break;
    case 4:
      SelectPage(1);
      break;
    case 5:
      SelectPage(0);
      break;
    case 6:
      LastOperation = kOpWriteConfig;
      w_.transfer.LoadToDevice();
      break;
    case 7:
      LastOperation = kOpReadConfig;
      w_.transfer.ReadFromDevice();
      break;
    case 8:
      LastOperation = kOpRestart;
      w_.discovery.ResetDevice(0);
      break;
    case 9:
      SelectPage(4);
      break;
    case 10:
      SelectPage(6);
      break;
    default:
      break;
  }
}

void Shell::MImageMouseMove(const std::string& name) {
  if (InputBlocked()) return;
  if (Control* button = w_.controls.Find(name)) button->SetSize(kMenuButtonHoverSize, kMenuButtonHoverSize);
  MouseMoveHelp(name);
}

void Shell::MImageMouseLeave(const std::string& name) {
  if (Control* button = w_.controls.Find(name)) button->SetSize(kMenuButtonSize, kMenuButtonSize);
}

void Shell::MImageMouseDown(const std::string& name) {
  if (Control* button = w_.controls.Find(name)) button->SetSize(kMenuButtonSize, kMenuButtonSize);
}

// ---- Title bar -----------------------------------------------------------------

void Shell::Request(WindowRequest request) {
  switch (request) {
    case WindowRequest::Move:
      MoveRequested = true;
      break;
    case WindowRequest::Minimize:
      MinimizeRequested = true;
      break;
    case WindowRequest::Close:
      CloseRequested = true;
      break;
  }
  if (OnWindowRequest) OnWindowRequest(request);
}

void Shell::Panel9MouseDown() {
  if (InputBlocked()) return;
  Request(WindowRequest::Move);
}

void Shell::MinzImageClick() {
  Request(WindowRequest::Minimize);
}

void Shell::CloseImageClick() {
  Request(WindowRequest::Close);
  w_.FormClose();
}

// ---- Help line -----------------------------------------------------------------

std::string Shell::CaptionOf(const Control& control) {
  switch (control.GetKind()) {
    case Kind::Label:
    case Kind::CheckBox:
    case Kind::Button:
    case Kind::CheckTree:
    case Kind::GroupBox:
    case Kind::Panel:
    case Kind::Page:
      return control.Text();
    case Kind::RadioGroup:
      return control.Caption();
    default:
      // Edits, pictures, grids, memos, meters and progress bars have none.
      return {};
  }
}

void Shell::MouseMoveHelp(const std::string& name) {
  if (InputBlocked()) return;
  const Control* control = w_.controls.Find(name);
  if (control == nullptr) return;
  HelpKey = name;
  HelpCaption = CaptionOf(*control);
  const std::string text = w_.messages.GetStringOr("Help", name, name);
  w_.controls["HelpLabel"].SetText(HelpEditor::DecodeLineBreaks(text));
}

// ---- Password exchange ---------------------------------------------------------

void Shell::ShowMessageNumber(int number) {
  w_.messages.MessageShow(w_.messages.GetMessageA(number));
}

void Shell::SendPassword(uint16_t password) {
  const uint8_t payload[2] = {static_cast<uint8_t>(password & 0xFF), static_cast<uint8_t>(password >> 8)};
  w_.codec.SendPacket(kCmdPassword, payload, sizeof payload);
}

void Shell::GetPassword(char code) {
  ControlModel& c = w_.controls;
  switch (code) {
    case '?': {
      const auto remembered = static_cast<uint16_t>(w_.settings.ReadPass(Imei()));
      if (remembered != 0) {
        SendPassword(remembered);
        return;
      }
      c["PageControlMes"].SetIndex(kMesPagePassword);
      // In the language the window shows (the designed text is the Russian one).
      c["Label20"].SetText(w_.messages.GetStringOr("Captions", "Label20", kAskPasswordText));
      c["PassEdit"].SetText(kDefaultPassword);
      c["MESPANEL"].SetVisible(true);
      c.SetFocus("PassEdit");
      return;
    }
    case '1':
      ShowMessageNumber(kMsgPasswordAccepted);
      RepeatUserOperation();
      return;
    case '0': {
      ShowMessageNumber(kMsgPasswordRejected);
      const std::string& imei = Imei();
      if (!imei.empty() && w_.settings.ReadPass(imei) != 0) w_.settings.WritePass(imei, 0);
      return;
    }
    default:
      return;
  }
}

void Shell::PassButOKClick() {
  ControlModel& c = w_.controls;
  const std::string text = c["PassEdit"].Text();
  const auto number = ParsePasswordText(text);
  if (!number) {
    // The prompt stays open and nothing is sent.
    if (w_.plat.dialogs != nullptr)
      w_.plat.dialogs->ShowMessage("'" + text + "' is not a valid integer value");
    return;
  }
  c["MESPANEL"].SetVisible(false);
  // The tracker's password is 16 bits wide: a larger number keeps its low 16 bits.
  SendPassword(static_cast<uint16_t>(static_cast<uint32_t>(*number) & 0xFFFFu));
}

void Shell::PassEditKeyPress(int ch) {
  if (ch == '\r' || ch == '\n') PassButOKClick();
}

void Shell::RepeatUserOperation() {
  switch (LastOperation) {
    case kOpReadConfig:
      MenuImageClick(7);
      break;
    case kOpWriteConfig:
      MenuImageClick(6);
      break;
    case kOpRestart:
      MenuImageClick(8);
      break;
    case kOpDeleteTrack:
      // Confirmed already when it was first asked for.
      w_.codec.SendPacket(kCmdDeleteTrack, nullptr, 0);
      break;
    default:
      break;
  }
}

void Shell::Button2Click() {
  w_.controls["MESPANEL"].SetVisible(false);
}

// ---- Confirmation question -----------------------------------------------------

void Shell::DeleteTrackClick() {
  ControlModel& c = w_.controls;
  // The erase becomes the operation a later password repeats only once "Да"
  // confirms it: after "Нет" no accepted password may erase the track.
  ConfirmAction = kConfirmDeleteTrack;
  c["PageControlMes"].SetIndex(kMesPageConfirm);
  c["Label31"].SetText(w_.messages.GetStringOr("Captions", "Label31", kConfirmText));
  c["MESPANEL"].SetVisible(true);
  c.SetFocus("Button4");
}

void Shell::Button3Click() {
  if (ConfirmAction == kConfirmDeleteTrack) {
    LastOperation = kOpDeleteTrack;
    w_.codec.SendPacket(kCmdDeleteTrack, nullptr, 0);
  }
  w_.controls["MESPANEL"].SetVisible(false);
}

// ---- IMEI ----------------------------------------------------------------------

void Shell::CopyIMEIClick() {
  const std::string line = w_.controls["LIMEI"].Text();
  std::string imei;
  const size_t colon = line.find(": ");
  if (colon != std::string::npos) {
    imei = line.substr(colon + 2);
  } else if (!line.empty()) {
    // Without ": " only the first character is dropped.
    imei = line.substr(std::min(line.size(), Utf8Length(static_cast<unsigned char>(line[0]))));
  }
  if (w_.plat.clipboard != nullptr) w_.plat.clipboard->SetText(imei);
}

const std::string& Shell::Imei() const {
  // Filled from the device status while a tracker is connected.
  return w_.transfer.TrackerImei;
}

// ---- First showing ---------------------------------------------------------------

void Shell::PlaceOverlayPanels() {
  ControlModel& c = w_.controls;
  const Rect& window = c["MainForm"].Geometry();
  for (const char* name : kOverlayPanels) {
    Control* panel = c.Find(name);
    if (panel == nullptr) continue;
    Rect g = panel->Geometry();
    g.left = (window.width - g.width) / 2;
    g.top = (window.height - g.height) / 2;
    panel->SetGeometry(g);
  }
  for (const FixedPlace& place : kFixedPanels) MoveTo(c, place);
}

void Shell::SetGridHeadings() {
  ControlModel& c = w_.controls;
  if (Control* grid = c.Find("PatternIDGrid")) {
    const char* headings[] = {"SPN", "Length", "Register", "Name"};
    for (int col = 0; col < 4; ++col) grid->SetCell(col, 0, headings[col]);
  }
  if (Control* grid = c.Find("MCCMNCGRID")) {
    grid->SetCell(0, 0, "MCC");
    grid->SetCell(1, 0, "MNC");
  }
}

void Shell::PlaceNewsPanel() {
  MoveTo(w_.controls, kNewsPanel);
}

}  // namespace rlv::ui

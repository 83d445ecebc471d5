#include "ui/Language.h"

#include <algorithm>

#include "app/MainWindow.h"

namespace rlv::ui {

namespace {

// What one [Strings] key sets.
enum class Target { Caption, Item, Heading };

struct StringUse {
  int key;
  const char* control;
  Target target = Target::Caption;
  int number = 0;                // the item or the column
  const char* suffix = nullptr;  // appended to the text
};

// The [Strings] keys in the order they are applied. A key may set several
// controls; the later use wins where two set the same control.
constexpr StringUse kStringUses[] = {
    {3, "Button1"},
    {9, "Label22"},
    {10, "Label27"},
    {11, "Label21"},
    {12, "Label23"},
    {13, "Label24"},
    {14, "Label321"},
    {15, "Label26"},
    {16, "Label61"},
    {18, "Label25"},
    {19, "CopyIMEI"},
    {20, "DeleteTrack"},
    {21, "RzGroupBox1"},
    {22, "Label1"},
    {23, "Label2"},
    {24, "Label5"},
    {25, "Label3"},
    {26, "Label6"},
    {27, "CALLSMSFROMALL"},
    {28, "SENDTESTPACK"},
    {29, "TRACKTYPE", Target::Item, 0},
    {30, "TRACKTYPE", Target::Item, 1},
    {31, "RzGroupBox2"},
    {32, "Label4"},
    {33, "Label7"},
    {34, "Label8"},
    {35, "Label32"},
    {36, "Label33"},
    {37, "Label34"},
    {38, "OUTONINCALLING"},
    {39, "RzGroupBox4"},
    {40, "ONOUTIFKEYVALID"},
    {41, "ALARMNOTVALIDKEY"},
    {42, "WIREKEYOPTION", Target::Item, 0},
    {43, "WIREKEYOPTION", Target::Item, 1},
    {44, "RzGroupBox3"},
    {45, "Label10"},
    {46, "ModBusStr", Target::Heading, 0},
    {47, "ModBusStr", Target::Heading, 1},
    {48, "ModBusStr", Target::Heading, 2},
    {49, "ModBusStr", Target::Heading, 3},
    {50, "ModBusStr", Target::Heading, 4},
    {51, "Label11", Target::Caption, 0, " 1"},
    {51, "Label12", Target::Caption, 0, " 2"},
    {52, "RzGroupBox5"},
    {53, "Label35"},
    {55, "RzGroupBox6"},
    {25, "Label36"},
    {56, "Label37"},
    {57, "Label38"},
    {58, "RzGroupBox7"},
    {59, "UploadConfigButton"},
    {60, "DownloadConfigButton"},
    {61, "UploadListIMEIButton"},
    {62, "AutoSendConfig"},
    {63, "Label63"},
    {64, "LCURRENTOP"},
    {65, "CANBUSMODE", Target::Item, 0},
    {66, "CANBUSMODE", Target::Item, 1, " 1"},
    {66, "CANBUSMODE", Target::Item, 2, " 2"},
    {66, "CANBUSMODE", Target::Item, 3, " 3"},
    {66, "CANBUSMODE", Target::Item, 4, " 4"},
    {66, "CANBUSMODE", Target::Item, 5, " 5"},
    {68, "Label104"},
    {69, "Label105"},
    {70, "ParkCheck"},
    {71, "Label107"},
    {72, "Label108"},
    {73, "Label109"},
    {74, "Label110"},
    {75, "Filterline"},
    {76, "Label111"},
    {77, "Label113"},
    {78, "Label112"},
    {79, "Perestroi"},
    {80, "Label48"},
    {81, "Label45"},
    {82, "RzGroupBox8"},
    {83, "Label49"},
    {84, "Label51"},
    {85, "Label50"},
    {86, "OpenTransPort"},
    {86, "Button1"},
    {87, "Label56"},
    {88, "Button9"},
    {89, "Label59"},
    {90, "Label188"},
    {91, "Label189"},
    {92, "Label190"},
    {93, "CalibrateStep3Type", Target::Item, 0},
    {94, "CalibrateStep3Type", Target::Item, 1},
    {95, "CalibrateStep3Type", Target::Item, 2},
    {96, "Label193"},
    {97, "Label191"},
    {98, "CalibrateStep0"},
    {99, "CalibrateStep1"},
    {100, "CalibrateStep3"},
    {101, "PresetAB", Target::Item, 0},
    {102, "PresetAB", Target::Item, 1},
    {103, "PresetAB", Target::Item, 2},
    {104, "PresetAB", Target::Item, 3},
    {105, "PresetAB", Target::Item, 4},
    {106, "Label65"},
    {107, "Label120"},
    {108, "Label124"},
    {109, "Label125"},
    {110, "Label127"},
    {111, "Label142"},
    {112, "Label143"},
    {113, "Label145"},
    {114, "Label146"},
    {115, "Label147"},
    {116, "Label148"},
    {117, "Label155"},
    {118, "Label58"},
    {119, "Label60"},
    {120, "RzGroupBox9"},
    {121, "EnDrivingStyle"},
    {122, "Button8"},
    {123, "TRACKTYPE", Target::Item, 2},
    {46, "Label66"},
    {48, "Label67"},
    {47, "Label68"},
    {49, "Label69"},
    {124, "MODADD"},
    {125, "MODGET"},
    {126, "MODDELETE"},
    {127, "MODCLEAR"},
    {54, "Label70"},
    {128, "MODBUSMODE"},
    {129, "Label71"},
    {130, "StopWriteIfSavePowerMode"},
    {131, "Button19"},
    {132, "Label115"},
    {133, "Label116"},
    {134, "Label117"},
    {135, "Label118"},
    {136, "Label119"},
    {137, "Label345"},
    {138, "Label414"},
    {139, "Label72"},
};

// Labels that are moved after their text is set, so that their right edge
// lies one pixel left of a neighbour.
struct RightAlign {
  const char* label;
  const char* neighbour;
};
constexpr RightAlign kRightAligned[] = {{"Label48", "Label47"}, {"Label45", "Label46"}};

struct HeaderKey {
  const char* section;
  const char* key;
  const char* def;
  const char* control;
};
constexpr HeaderKey kHints[] = {
    {"Header", "Lang", "English", "LangImage"},
    {"Header", "Close", "Закрыть", "CloseImage"},
    {"Header", "Minimize", "Свернуть", "MinzImage"},
    {"Menu", "New_config", "Файл конфигурации по умолчанию", "MImage0"},
    {"Menu", "Open_config", "Открыть файл конфигурации", "MImage1"},
    {"Menu", "Save_config", "Сохранить файл конфигурации", "MImage2"},
    {"Menu", "Connect_device", "Удаленное конфигурирование", "MImage3"},
    {"Menu", "Monitor", "Мониторинг", "MImage4"},
    {"Menu", "Configuration", "Настройка конфигурации", "MImage5"},
    {"Menu", "Load_config", "Записать конфигурацию в прибор", "MImage6"},
    {"Menu", "Read_config", "Считать файл конфигурации", "MImage7"},
    {"Menu", "Reset", "Перезагрузить", "MImage8"},
    {"Menu", "Update", "Обновить прошивку", "MImage9"},
    {"Menu", "Cloud", "Облачный сервис", "MImage10"},
};

struct ListSection {
  const char* section;
  const char* prefix;
  const char* control;
};
constexpr ListSection kListSections[] = {
    {"OpList", "Op", "OPERATOR"}, {"Input1", "In", "IN1TYPE"},          {"Input2", "In", "IN2TYPE"},
    {"Outs", "Out", "OUTTYPE"},   {"Device1Type", "Dt", "RS485DEVICE"},
};

// A whole decimal number of a sensible size, or nothing.
bool ParseInt(const std::string& text, int& out) {
  const auto value = platform::ParseInteger(text);
  if (!value || *value < -1000000 || *value > 1000000) return false;
  out = static_cast<int>(*value);
  return true;
}

// Item `index` of a list, when the list has it.
void SetItem(Control& control, int index, const std::string& text) {
  if (index < 0 || index >= static_cast<int>(control.Items().size())) return;
  if (control.Items()[static_cast<size_t>(index)] == text) return;
  std::vector<std::string> items = control.Items();
  items[static_cast<size_t>(index)] = text;
  control.SetItems(std::move(items));
}

// The heading (row 0) of column `col` of a grid, when the grid has it.
void SetHeading(Control& grid, int col, const std::string& text) {
  if (col >= 0 && col < grid.Cols() && grid.Rows() > 0) grid.SetCell(col, 0, text);
}

bool HoldsUserValue(Kind kind) {
  return kind == Kind::Edit || kind == Kind::ComboBox || kind == Kind::CheckBox || kind == Kind::ListBox ||
         kind == Kind::RadioGroup || kind == Kind::Grid || kind == Kind::CheckTree;
}

}  // namespace

// ---------------------------------------------------------------------------
// What the pages hold

void PageValues::Take(const ControlModel& model) {
  values_.clear();
  for (const Control* c : model.All()) {
    if (!HoldsUserValue(c->GetKind())) continue;
    Value v;
    v.name = c->Name();
    v.text = c->Caption();
    v.index = c->Index();
    v.checked = c->Checked();
    if (c->GetKind() == Kind::Grid) {
      v.cols = c->Cols();
      v.rows = c->Rows();
      for (int row = 1; row < v.rows; ++row) {
        for (int col = 0; col < v.cols; ++col) v.cells.push_back(c->Cell(col, row));
      }
    }
    if (c->GetKind() == Kind::CheckTree) {
      for (const TreeNode& node : c->Nodes()) {
        if (node.tag >= 0) {
          v.tag_ticks[{node.tag, node.kind}] = node.checked;
        } else {
          v.block_ticks.push_back(node.checked);
        }
      }
    }
    values_.push_back(std::move(v));
  }
}

void PageValues::Restore(ControlModel& model) const {
  for (const Value& v : values_) {
    Control* c = model.Find(v.name);
    if (c == nullptr) continue;
    switch (c->GetKind()) {
      case Kind::Edit:
        // Untouched edits are left alone (a focused one keeps its cursor).
        if (c->Text() != v.text) c->SetText(v.text);
        break;
      case Kind::CheckBox:
        c->SetChecked(v.checked);
        break;
      case Kind::ComboBox:
        // A combo box without a selection keeps the text it shows.
        if (v.index < 0) c->SetText(v.text);
        c->SetIndex(v.index);
        break;
      case Kind::ListBox:
      case Kind::RadioGroup:
        c->SetIndex(v.index);
        break;
      case Kind::Grid: {
        const int rows = std::min(v.rows, c->Rows());
        const int cols = std::min(v.cols, c->Cols());
        for (int row = 1; row < rows; ++row) {
          for (int col = 0; col < cols; ++col) {
            const std::string& cell = v.cells[static_cast<size_t>(row - 1) * static_cast<size_t>(v.cols) +
                                              static_cast<size_t>(col)];
            if (c->Cell(col, row) != cell) c->SetCell(col, row, cell);
          }
        }
        break;
      }
      case Kind::CheckTree: {
        size_t block = 0;
        for (size_t i = 0; i < c->Nodes().size(); ++i) {
          const TreeNode& node = c->Nodes()[i];
          bool checked = false;
          if (node.tag >= 0) {
            const auto it = v.tag_ticks.find({node.tag, node.kind});
            checked = it != v.tag_ticks.end() && it->second;
          } else if (block < v.block_ticks.size()) {
            checked = v.block_ticks[block++];
          }
          c->SetNodeChecked(static_cast<int>(i), checked);
        }
        break;
      }
      default:
        break;
    }
  }
}

// ---------------------------------------------------------------------------
// Applying a language

std::string Language::CaptionText() const {
  const std::string& version = w_.updates.OwnVersion;
  // The version's last two characters (the build's own suffix) are not shown;
  // a version text shorter than that shows nothing.
  const std::string shown = version.size() > 2 ? version.substr(0, version.size() - 2) : std::string();
  return w_.messages.GetStringOr("Header", "Caption", "Конфигуратор") + " Kelvane RLVexa v." + shown;
}

void Language::SetLanguage(const std::string& language, bool startup) {
  Messages& m = w_.messages;
  m.LanguageName = language;
  ControlModel& c = w_.controls;
  // The flag shows the language the next click switches to.
  if (Control* flag = c.Find("LangImage")) flag->SetIndex(language == "english" ? 1 : 0);
  w_.config.ReadStructParamFromIni();
  ApplyHeader();
  w_.monitoring.LoadMonitoringTexts();
  ApplyStrings();
  if (startup) {
    c["ConfServState"].SetText(m.GetMessageA(138));
    c["LConfigPath"].SetText(m.GetMessageA(0));
  }
  ApplyLists();
  ApplyCaptions();
  w_.cloud.RenderServers();
}

void Language::ApplyHeader() {
  ControlModel& c = w_.controls;
  c["FormCaption"].SetText(CaptionText());
  for (const HeaderKey& h : kHints) {
    if (Control* control = c.Find(h.control)) {
      control->SetHint(w_.messages.GetStringOr(h.section, h.key, h.def));
    }
  }
}

void Language::ApplyStrings() {
  ControlModel& c = w_.controls;
  // A key the file does not have (or no file at all) leaves the control with
  // the text it has: a window of blank captions and list items would leave
  // the engineer guessing which track mode or pattern they pick.
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  for (const StringUse& use : kStringUses) {
    Control* control = c.Find(use.control);
    if (control == nullptr || doc == nullptr) continue;
    const auto value = doc->Get("Strings", "Str" + std::to_string(use.key));
    if (!value) continue;
    std::string text = w_.messages.ReadLangStr(*value);
    if (use.suffix != nullptr) text += use.suffix;
    switch (use.target) {
      case Target::Caption:
        control->SetText(text);
        break;
      case Target::Item:
        SetItem(*control, use.number, text);
        break;
      case Target::Heading:
        SetHeading(*control, use.number, text);
        break;
    }
  }
  for (const RightAlign& r : kRightAligned) {
    Control* label = c.Find(r.label);
    const Control* neighbour = c.Find(r.neighbour);
    if (label == nullptr || neighbour == nullptr) continue;
    Rect g = label->Geometry();
    g.left = neighbour->Geometry().left - 1 - g.width;
    label->SetGeometry(g);
  }
}

void Language::ApplyLists() {
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  if (doc == nullptr) return;
  for (const ListSection& list : kListSections) {
    Control* control = w_.controls.Find(list.control);
    if (control == nullptr) continue;
    int count = 0;
    if (!ParseInt(doc->Get(list.section, "Count").value_or(""), count) || count <= 0) continue;
    // A count above the list's size would add items the list does not have.
    count = std::min(count, static_cast<int>(control->Items().size()));
    std::vector<std::string> items = control->Items();
    for (int i = 0; i < count; ++i) {
      const auto value = doc->Get(list.section, list.prefix + std::to_string(i));
      if (value) items[static_cast<size_t>(i)] = w_.messages.ReadLangStr(*value);
    }
    control->SetItems(std::move(items));
  }
}

void Language::ApplyCaptions() {
  // Every other text of the window, by control name: "Name" the caption,
  // "Name.Item<i>" an item, "Name.Col<c>" a grid heading, "Name.Hint" the
  // hint. A control without keys keeps the text it was given.
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  if (doc == nullptr) return;
  for (const std::string& key : doc->Keys(kCaptionsSection)) {
    const std::string text = w_.messages.ReadLangStr(doc->Get(kCaptionsSection, key).value_or(""));
    const size_t dot = key.find('.');
    Control* control = w_.controls.Find(key.substr(0, dot));
    if (control == nullptr) continue;
    if (dot == std::string::npos) {
      control->SetText(text);
      continue;
    }
    const std::string part = key.substr(dot + 1);
    int number = 0;
    if (part == "Hint") {
      control->SetHint(text);
    } else if (part.rfind("Item", 0) == 0 && ParseInt(part.substr(4), number)) {
      SetItem(*control, number, text);
    } else if (part.rfind("Col", 0) == 0 && ParseInt(part.substr(3), number)) {
      SetHeading(*control, number, text);
    }
  }
}

namespace {

// A state text shown in the other language, told by the text it begins with
// (a section's value, or a message), again in the language shown now; what
// followed that text (a size, a path) is kept.
struct StateText {
  const char* control;
  const char* section;
  const char* key;
};
constexpr StateText kStateTexts[] = {
    {"Label430", "Window", "FirmwareOffer"},  {"Label430", "Window", "ConfiguratorOffer"},
    {"Label431", "Window", "NoAnswer"},       {"Label431", "Messages", "M124"},
    {"Label431", "Messages", "M121"},         {"Label431", "Messages", "M117"},
    {"Label431", "Messages", "M118"},         {"Label431", "Messages", "M63"},
    {"Label40", "Messages", "M15"},           {"Label40", "Messages", "M117"},
    {"Label40", "Messages", "M118"},          {"Label40", "Messages", "M63"},
    {"Label28", "Window", "GnssSearch"},      {"Label28", "Window", "GnssLoader"},
    {"Label28", "Window", "GnssStartLoader"}, {"Label28", "Window", "GnssWriting"},
    {"Label28", "Window", "GnssDone"},
};

// The text of `raw` in `from` replaced at the start of `shown` by its text in `to`.
bool Retranslate(const std::string& raw, const std::string& from, const std::string& to, std::string& shown) {
  const std::string before = ReadLangStr(raw, from);
  if (before.empty() || shown.rfind(before, 0) != 0) return false;
  shown = ReadLangStr(raw, to) + shown.substr(before.size());
  return true;
}

}  // namespace

void Language::RerenderState() {
  ControlModel& c = w_.controls;
  w_.transfer.RenderConfigPath();
  w_.remote.RenderServerState();
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  // While the server does not listen its button ends with the Str86 text, as
  // at start.
  if (Control* button = c.Find("Button1"); button != nullptr && button->Tag() != 1 && doc != nullptr) {
    if (const auto value = doc->Get("Strings", "Str86")) button->SetText(w_.messages.ReadLangStr(*value));
  }
  w_.monitoring.Rerender();
  w_.bluetooth.RenderScanCaption();
  // The CAN pattern editor's title (the chosen mode) and the pattern summary.
  if (const Control* mode = c.Find("CANBUSMODE"); mode != nullptr && mode->Index() > 0) {
    if (Control* title = c.Find("Label44")) title->SetText(mode->Text());
  }
  if (const Control* summary = c.Find("Label19"); summary != nullptr && !summary->Text().empty()) {
    w_.vehicle.ShowSummary();
  }
  if (doc != nullptr) {
    const std::string& to = w_.messages.LanguageName;
    const std::string from = to == "english" ? "russian" : "english";
    for (const StateText& state : kStateTexts) {
      Control* control = c.Find(state.control);
      const auto raw = doc->Get(state.section, state.key);
      if (control == nullptr || !raw) continue;
      std::string shown = control->Text();
      if (Retranslate(*raw, from, to, shown)) control->SetText(shown);
    }
    // A message on the message panel, when it is one of the file's texts.
    if (Control* message = c.Find("MESLABEL"); message != nullptr && !message->Text().empty()) {
      bool done = false;
      for (const char* section : {"Messages", "Window", "Errors", "Cloud"}) {
        for (const std::string& key : doc->Keys(section)) {
          const std::string raw = doc->Get(section, key).value_or("");
          if (ReadLangStr(raw, from) != message->Text()) continue;
          message->SetText(ReadLangStr(raw, to));
          done = true;
          break;
        }
        if (done) break;
      }
    }
    // The fault log's "no records" line.
    if (Control* grid = c.Find("FLOGGRID"); grid != nullptr && grid->Rows() > 1 && grid->Cols() > 1) {
      std::string shown = grid->Cell(1, 1);
      if (const auto raw = doc->Get("Window", "NoRecords"); raw && Retranslate(*raw, from, to, shown)) {
        grid->SetCell(1, 1, shown);
      }
    }
  }
  // The help line explains the control under the mouse in the new language.
  if (!w_.shell.HelpKey.empty()) w_.shell.MouseMoveHelp(w_.shell.HelpKey);
}

void Language::LangImageClick() {
  PageValues pages;
  pages.Take(w_.controls);
  SetLanguage(w_.messages.LanguageName == "english" ? "russian" : "english");
  pages.Restore(w_.controls);
  RerenderState();
}

}  // namespace rlv::ui

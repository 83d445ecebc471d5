// The J1939 catalogue and the CAN patterns: the catalogue file, the pattern
// file, the pattern editor and the pattern's way into and out of the record.
#include "vehicle/Vehicle.h"

#include <filesystem>

#include "app/MainWindow.h"
#include "link/Codepage.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

namespace rlv::vehicle {

namespace {

// Valid UTF-8 stays as it is; anything else is read as Windows-1251.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t more = 0;
    if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
    } else if (c >= 0xE0) {
      more = 2;
    } else if (c >= 0xC2 && c < 0xE0) {
      more = 1;
    } else if (c >= 0x80) {
      return false;
    }
    if (c > 0xF4 || more >= s.size() - i) return more == 0 && c < 0x80;
    for (size_t k = 1; k <= more; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += more + 1;
  }
  return true;
}

std::string PatternSection(int number) {
  return "PATTERN" + std::to_string(number);
}

}  // namespace

Vehicle::Vehicle(app::MainWindow& w) : w_(w) {
  TachoRetryTimer = w_.CreateTimer([this] {
    // One shot: the start request again after the busy answer.
    TachoRetryTimer->Stop();
    if (!TachoDownloading) return;
    SendTachoStart();
    w_.transfer.ResumeWait();
  });
  TachoRetryTimer->SetInterval(kTachoBusyRetryMs);
}

Vehicle::~Vehicle() {
  if (TachoRetryTimer) TachoRetryTimer->Stop();
}

void Vehicle::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  auto add = [&m](const std::string& name, Kind kind, const std::string& parent,
                  const std::string& text = {}) -> ui::Control& {
    ui::Control& c = m.Add(name, kind, parent);
    if (!text.empty()) c.SetText(text);
    return c;
  };

  // The CAN panel's editor button and the floating pattern editor.
  add("EditPattern", Kind::Button, "PanelCAN", "...");
  ui::Control& editor = add("PatternPanel", Kind::Panel, "MainForm");
  editor.SetGeometry({0, 0, 520, 330});
  editor.SetVisible(false);
  editor.SetColor(ui::Rgb(255, 255, 255));
  add("Label44", Kind::Label, "PatternPanel", "Шаблон");
  add("Image2", Kind::Image, "PatternPanel");
  add("PatternIDGrid", Kind::Grid, "PatternPanel").SetGridSize(4, kGridRows + 1);
  add("SPNLIST", Kind::ListBox, "PatternPanel").SetVisible(false);
  ui::Control& regs = add("REGLIST", Kind::ListBox, "PatternPanel");
  regs.SetItems(RegisterItems());
  regs.SetVisible(false);
  add("Label45", Kind::Label, "PatternPanel", "Очистить");
  add("Label48", Kind::Label, "PatternPanel", "Отменить редактирование");

  // The tachograph page.
  add("Button5", Kind::Button, "TabSheet14", "Текущее состояние");
  add("Button6", Kind::Button, "TabSheet14", "Данные о ТС");
  add("Label53", Kind::Label, "TabSheet14", "Слот");
  ui::Control& slot = add("THSlot", Kind::ComboBox, "TabSheet14");
  slot.SetItems({"1", "2"});
  slot.SetIndex(0);
  add("Button7", Kind::Button, "TabSheet14", "Чтение файла");
  add("Label54", Kind::Label, "TabSheet14", "");  // the download counter, while one runs

  // The transparent mode on the remote-configuration page.
  // Below the remote-configuration group, which has a place of its own.
  add("RzGroupBox8", Kind::GroupBox, "TabSheet12", "Прозрачный режим").SetGeometry({8, 112, 520, 190});
  add("TransPortLabel", Kind::Label, "RzGroupBox8", "Выберите порт");
  ui::Control& port = add("TransPort", Kind::ComboBox, "RzGroupBox8");
  port.SetItems({"GSM PORT", "GNSS PORT", "485 PORT"});
  port.SetIndex(0);
  add("TransBaudLabel", Kind::Label, "RzGroupBox8", "Скорость");
  ui::Control& baud = add("TransBaud", Kind::ComboBox, "RzGroupBox8");
  baud.SetItems({"9600", "19200", "38400", "57600", "115200"});
  baud.SetIndex(0);
  add("TRANSTORS485", Kind::CheckBox, "RzGroupBox8", "RS-485").SetVisible(false);
  add("OpenTransPort", Kind::Button, "RzGroupBox8", "Открыть порт");
  add("TransPortWarning", Kind::Label, "RzGroupBox8",
      "ВНИМАНИЕ! После открытия порта, конфигуратор будет не доступен. Следует закрыть его, и подключиться к "
      "порту через другое ПО. После завершения работы с портом, для перевода прибора в рабочее состояние, "
      "перезапустите его по питанию.");

  // The calibration page of the floating panel.
  add("Button9", Kind::Button, "GroupAccel", "Калибровать");
  const std::string page = "CalibratePage";
  add("Label59", Kind::Label, page, "Калибровка акселерометра");
  add("Label188", Kind::Label, page,
      "Шаг 1. Сбросить параметры. Необходимо выполнять каждый раз при новой калибровке.");
  add("CalibrateStep0", Kind::Button, page, "Сбросить");
  add("Label189", Kind::Label, page,
      "Шаг 2. Повернуть в горизонт. Установите ТС на ровной площадке и после чего нажмите кнопку.");
  add("CalibrateStep1", Kind::Button, page, "Повернуть");
  add("Label190", Kind::Label, page,
      "Шаг 3. Задать направление движения. Выберите один из способов. Расположены по уменьшению точности "
      "определения.");
  ui::Control& method = add("CalibrateStep3Type", Kind::RadioGroup, page);
  method.SetItems({"На наклонной площадке.", "Ускорение на прямом участке.", "Вручную."});
  method.SetIndex(0);
  add("CalibrateTypePanel", Kind::PageControl, page).SetIndex(0);
  add("CalibType0", Kind::Page, "CalibrateTypePanel", "На наклонной площадке");
  add("Label191", Kind::Label, "CalibType0",
      "Установите ТС на площадке с уклоном вперёд (передом вниз) и нажмите кнопку \"Задать\".");
  add("CalibType1", Kind::Page, "CalibrateTypePanel", "Ускорение");
  add("Label193", Kind::Label, "CalibType1",
      "Несколько раз резко разгонитесь на прямом ровном участке. Запомните угол, который показывается чаще "
      "всего, и нажмите кнопку \"Задать\".");
  add("Step3AngleValueByMove", Kind::Edit, "CalibType1", "0");
  add("CalibType2", Kind::Page, "CalibrateTypePanel", "Вручную");
  add("CalibrateHandAngleLabel", Kind::Label, "CalibType2", "Угол, градусы");
  add("CalibrateHandAngle", Kind::Edit, "CalibType2", "0");
  add("A0", Kind::RadioGroup, "CalibType2").SetItems({"0", "-45", "45", "90", "135", "180", "-90", "-135"});
  add("CalibrateStep3", Kind::Button, page, "Задать");
}

void Vehicle::BindHandlers() {
  ui::ControlModel& c = w_.controls;
  auto on = [&c](const char* name, ui::Event event, std::function<void()> action) {
    c.On(name, event, [action = std::move(action)](const ui::EventArgs&) { action(); });
  };
  on("EditPattern", ui::Event::Click, [this] { EditPatternClick(); });
  c.On("PatternIDGrid", ui::Event::SelectCell,
       [this](const ui::EventArgs& a) { PatternIDGridSelectCell(a.col, a.row); });
  on("SPNLIST", ui::Event::Change, [this] { SPNLISTChange(); });
  on("REGLIST", ui::Event::Change, [this] { REGLISTChange(); });
  on("Label45", ui::Event::Click, [this] { Label45Click(); });
  on("Label48", ui::Event::Click, [this] { Label48Click(); });
  on("Image2", ui::Event::Click, [this] { Image2Click(); });

  on("Button5", ui::Event::Click, [this] { Button5Click(); });
  on("Button6", ui::Event::Click, [this] { Button6Click(); });
  on("Button7", ui::Event::Click, [this] { Button7Click(); });
  on("OpenTransPort", ui::Event::Click, [this] { OpenTransPortClick(); });

  on("Button9", ui::Event::Click, [this] { Button9Click(); });
  on("CalibrateStep0", ui::Event::Click, [this] { CalibrateStep0Click(); });
  on("CalibrateStep1", ui::Event::Click, [this] { CalibrateStep1Click(); });
  on("CalibrateStep3Type", ui::Event::Click, [this] { CalibrateStep3TypeClick(); });
  on("CalibrateStep3", ui::Event::Click, [this] { CalibrateStep3Click(); });
  on("A0", ui::Event::Click, [this] { A0Click(w_.controls["A0"].Text()); });
}

// ---- Catalogue ------------------------------------------------------------------

std::string Vehicle::CataloguePath() const {
  const std::string own = w_.DataPath(kCatalogueFile);
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::u8path(own), ec)) return own;
  const std::string& program_dir = w_.options.program_dir;
  if (program_dir.empty() || program_dir == w_.options.data_dir) return own;
  return platform::JoinPath(program_dir, kCatalogueFile);
}

std::string Vehicle::PatternPath() const {
  return w_.DataPath(kPatternFile);
}

std::string Vehicle::NameOf(const J1939Str& e) const {
  return w_.messages.ReadLangStr(e.Name);
}

void Vehicle::LoadJ1939Struct() {
  J1939.clear();
  J1939Available = false;
  const std::string path = CataloguePath();
  std::string why;
  const auto bytes = w_.Files().Read(path, kMaxCatalogueBytes, &why);
  if (!bytes) {
    if (!why.empty()) w_.ReportProblem("The J1939 catalogue " + path + " cannot be read (" + why + ")");
    return;
  }
  std::string text(bytes->begin(), bytes->end());
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (!IsUtf8(text)) text = link::Cp1251ToUtf8(text);
  if (text.empty()) return;

  std::vector<std::string> items;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    J1939.push_back(ParseJ1939Line(line));
    items.push_back(std::to_string(J1939.back().Spn) + ";" + NameOf(J1939.back()));
    start = end + 1;
  }
  w_.controls["SPNLIST"].SetItems(std::move(items));
  J1939Available = !J1939.empty();
  // A pattern shown before the catalogue came gets its lengths, names and summary now.
  const int mode = w_.controls["CANBUSMODE"].Index();
  if (mode > 0 && mode == w_.config.CurrentPattern) ReadPattern(mode);
}

int Vehicle::GetIndexJ1939Struct(uint32_t spn) const {
  if (!J1939Available) return -1;
  for (size_t i = 0; i < J1939.size(); ++i) {
    if (J1939[i].Spn == spn) return static_cast<int>(i);
  }
  return -1;
}

int Vehicle::GetIndexJ1939Struct(const std::string& spn_text) const {
  const std::optional<uint32_t> spn = SpnFromText(spn_text);
  return spn ? GetIndexJ1939Struct(*spn) : -1;
}

// ---- Pattern file and grid ----------------------------------------------------------

void Vehicle::ReadPattern(int number) {
  ui::Control& grid = w_.controls["PatternIDGrid"];
  std::optional<platform::IniDocument> doc;
  if (number >= 1 && number <= kPatternCount) doc = w_.plat.ini->Load(PatternPath());
  for (int i = 0; i < kGridRows; ++i) {
    std::string value = ",";
    if (doc) value = doc->Get(PatternSection(number), "ID" + std::to_string(i)).value_or(",");
    const size_t comma = value.find(',');
    const int row = i + 1;
    grid.SetCell(0, row, value.substr(0, comma));
    grid.SetCell(1, row, "");
    grid.SetCell(2, row, comma == std::string::npos ? std::string() : value.substr(comma + 1));
    grid.SetCell(3, row, "");
    const int index = GetIndexJ1939Struct(grid.Cell(0, row));
    if (index < 0) continue;
    const J1939Str& e = J1939[static_cast<size_t>(index)];
    grid.SetCell(1, row, std::to_string(e.Length));
    grid.SetCell(3, row, NameOf(e));
  }
  ShowSummary();
}

void Vehicle::ShowSummary() {
  const ui::Control& grid = w_.controls["PatternIDGrid"];
  std::string summary = w_.messages.GetStringOr("Strings", "Str67", "Состав параметров шаблона: ");
  bool first = true;
  for (int row = 1; row <= kGridRows; ++row) {
    if (GetIndexJ1939Struct(grid.Cell(0, row)) < 0) continue;
    summary += (first ? "" : ",") + grid.Cell(0, row);
    first = false;
  }
  w_.controls["Label19"].SetText(summary);
}

bool Vehicle::WritePattern(int number) {
  PatternError.clear();
  if (number < 1 || number > kPatternCount) return true;
  const std::string path = PatternPath();
  std::string why;
  std::optional<platform::IniDocument> doc = w_.plat.ini->Load(path, &why);
  if (!doc && !why.empty()) {
    // An unreadable file is never replaced by one holding only this pattern.
    PatternError = "The pattern file " + path + " cannot be read (" + why + ")";
    w_.ReportProblem(PatternError);
    return false;
  }
  if (!doc) doc = platform::IniDocument::Parse("");
  const ui::Control& grid = w_.controls["PatternIDGrid"];
  for (int i = 0; i < kGridRows; ++i) {
    doc->Set(PatternSection(number), "ID" + std::to_string(i),
             grid.Cell(0, i + 1) + "," + grid.Cell(2, i + 1));
  }
  if (!w_.plat.ini->Store(path, *doc, &why)) {
    PatternError = "The pattern file " + path + " cannot be written (" + why + ")";
    w_.ReportProblem(PatternError);
    return false;
  }
  return true;
}

void Vehicle::FillRowFromCatalogue(int row) {
  ui::Control& grid = w_.controls["PatternIDGrid"];
  const int index = GetIndexJ1939Struct(grid.Cell(0, row));
  if (index < 0) return;
  const J1939Str& e = J1939[static_cast<size_t>(index)];
  grid.SetCell(1, row, std::to_string(e.Length));
  grid.SetCell(3, row, NameOf(e));
  w_.controls["SPNLIST"].SetVisible(false);
}

void Vehicle::EditPatternClick() {
  if (w_.controls["CANBUSMODE"].Index() > 0) w_.controls["PatternPanel"].SetVisible(true);
}

void Vehicle::PatternIDGridSelectCell(int col, int row) {
  ui::ControlModel& c = w_.controls;
  const ui::Control& grid = c["PatternIDGrid"];
  ui::Control& spns = c["SPNLIST"];
  ui::Control& regs = c["REGLIST"];
  if (col == 0 && row >= 1) {
    const std::optional<uint32_t> spn = SpnFromText(grid.Cell(0, row));
    if (spn) {
      for (size_t i = 0; i < spns.Items().size(); ++i) {
        const std::string& item = spns.Items()[i];
        if (SpnFromText(item.substr(0, item.find(';'))) == spn) {
          spns.SetIndex(static_cast<int>(i));
          break;
        }
      }
    }
    spn_row_ = row;
    spns.SetVisible(true);
    c.SetFocus("SPNLIST");
  } else {
    spns.SetVisible(false);
  }
  if (col == 2 && row >= 1) {
    const std::string reg = grid.Cell(2, row);
    for (size_t i = 0; i < regs.Items().size(); ++i) {
      if (RegisterOfItem(regs.Items()[i]) == reg) {
        regs.SetIndex(static_cast<int>(i));
        break;
      }
    }
    reg_row_ = row;
    regs.SetVisible(true);
    c.SetFocus("REGLIST");
  } else {
    regs.SetVisible(false);
  }
}

void Vehicle::SPNLISTChange() {
  if (spn_row_ < 1 || spn_row_ > kGridRows) return;
  const std::string item = w_.controls["SPNLIST"].Text();
  w_.controls["PatternIDGrid"].SetCell(0, spn_row_, item.substr(0, item.find(';')));
  FillRowFromCatalogue(spn_row_);
}

void Vehicle::REGLISTChange() {
  if (reg_row_ < 1 || reg_row_ > kGridRows) return;
  ui::Control& grid = w_.controls["PatternIDGrid"];
  std::string reg = RegisterOfItem(w_.controls["REGLIST"].Text());
  for (int row = 1; row <= kGridRows; ++row) {
    if (!reg.empty() && grid.Cell(2, row) == reg) {
      reg.clear();
      break;
    }
  }
  grid.SetCell(2, reg_row_, reg);
  w_.controls["REGLIST"].SetVisible(false);
}

void Vehicle::Label45Click() {
  ui::Control& grid = w_.controls["PatternIDGrid"];
  for (int row = 1; row <= kGridRows; ++row) {
    for (int col = 0; col < 4; ++col) grid.SetCell(col, row, "");
  }
}

void Vehicle::Label48Click() {
  ReadPattern(w_.config.CurrentPattern);
}

void Vehicle::Image2Click() {
  // A pattern that could not be saved keeps the editor open with the edits.
  if (!WritePattern(w_.config.CurrentPattern)) return;
  w_.controls["PatternPanel"].SetVisible(false);
  ShowSummary();
}

// ---- The pattern in the record ----------------------------------------------------------

void Vehicle::LoadDataToCANBUSStruct() {
  uint8_t* b = w_.config.ConfigBlock1.data();
  for (size_t i = 0; i < kCanParamCount; ++i) PutCanParam(b, i, {});
  const int mode = w_.controls["CANBUSMODE"].Index();
  if (mode <= 0 || mode > kPatternCount) return;
  w_.config.CurrentPattern = mode;
  ReadPattern(mode);
  const ui::Control& grid = w_.controls["PatternIDGrid"];
  size_t filled = 0;
  for (int row = 1; row <= kGridRows && filled < kCanParamCount; ++row) {
    const std::string spn = grid.Cell(0, row);
    const std::string reg_text = grid.Cell(2, row);
    if (spn.empty() || reg_text.empty()) continue;
    const int index = GetIndexJ1939Struct(spn);
    if (index < 0) continue;
    const J1939Str& e = J1939[static_cast<size_t>(index)];
    const auto reg = static_cast<uint8_t>(LeadingNumber(reg_text) & 0xFF);
    PutCanParam(b, filled++, {e.Pgn, e.StartBit, e.Length, reg});
    size_t offset = 0;
    int bit = 0;
    if (RegisterMaskBit(reg, &offset, &bit)) {
      link::PutU16(b + offset, static_cast<uint16_t>(link::GetU16(b + offset) | (1u << bit)));
    }
  }
}

void Vehicle::StructCANIDFromDeviceToPattern(int number) {
  Label45Click();
  const uint8_t* b = w_.config.ConfigBlock1.data();
  ui::Control& grid = w_.controls["PatternIDGrid"];
  int row = 1;
  for (size_t i = 0; i < kCanParamCount; ++i) {
    const CanParamEntry p = GetCanParam(b, i);
    if (p.Pgn == 0 || !J1939Available) continue;
    for (const J1939Str& e : J1939) {
      if (row > kGridRows) break;
      if (e.Pgn != p.Pgn || e.StartBit != p.StartBit) continue;
      grid.SetCell(0, row, std::to_string(e.Spn));
      grid.SetCell(1, row, std::to_string(e.Length));
      grid.SetCell(2, row, std::to_string(p.Register));
      grid.SetCell(3, row, NameOf(e));
      ++row;
    }
  }
  if (row == 1) return;
  WritePattern(number);
  // The summary names what the tracker now holds, whether or not the file took it.
  ShowSummary();
}

}  // namespace rlv::vehicle

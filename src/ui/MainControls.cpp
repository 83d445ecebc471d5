#include "ui/MainControls.h"

#include <string>

namespace rlv::ui {

namespace {
constexpr int kMenuX[11] = {16, 80, 144, 208, 272, 336, 400, 464, 528, 594, 658};

struct PageDef {
  const char* sheet;
  const char* caption;
};
constexpr PageDef kPages[7] = {
    {"TabSheet1", "Основные настройки"},    {"TabSheet2", "Мониторинг состояния"},
    {"TabSheet3", "Обновление приемника"},  {"TabSheet4", "Тестирование"},
    {"TabSheet9", "Обновление ПО трэкера"}, {"TabSheet12", "Удаленное конфигурирование"},
    {"TabSheet13", "Облачный сервис"},
};
}  // namespace

void DeclareMainControls(ControlModel& m) {
  Control& form = m.Add("MainForm", Kind::Window, "");
  form.SetGeometry({0, 0, 747, 699});
  form.SetColor(Rgb(255, 255, 255));

  // Title bar.
  Control& bar = m.Add("Panel9", Kind::Panel, "MainForm");
  bar.SetGeometry({0, 0, 747, 18});
  bar.SetColor(kFrameColor);
  m.Add("FormCaption", Kind::Label, "Panel9").SetBold(true);
  Control& status = m.Add("ComPortDeviceCaption", Kind::Label, "Panel9");
  status.SetText("ComPort");
  status.SetBold(true);
  status.SetFontColor(Rgb(255, 255, 255));
  Control& strip = m.Add("Panel22", Kind::Panel, "Panel9");
  strip.SetGeometry({747 - 116, 0, 116, 18});
  strip.SetColor(Rgb(255, 255, 255));
  for (const char* name : {"LangImage", "Image10", "Image9", "MinzImage", "CloseImage"}) {
    m.Add(name, Kind::Image, "Panel22");
  }

  // Menu bar.
  Control& menu = m.Add("Panel6", Kind::Panel, "MainForm");
  menu.SetGeometry({0, 18, 747, 57});
  for (int i = 0; i < 11; ++i) {
    Control& button = m.Add("MImage" + std::to_string(i), Kind::PictureButton, "Panel6");
    button.SetGeometry({kMenuX[i], 4, 48, 48});
    button.SetTag(i);
  }

  // Left strip, path line, pages, help line.
  Control& left = m.Add("Panel2", Kind::Panel, "MainForm");
  left.SetGeometry({0, 75, 73, 578});
  m.Add("Image1", Kind::Image, "Panel2");
  Control& path = m.Add("Panel3", Kind::Panel, "MainForm");
  path.SetGeometry({73, 75, 674, 19});
  m.Add("LConfigPath", Kind::Label, "Panel3");

  Control& pages = m.Add("RzPageControl1", Kind::PageControl, "MainForm");
  pages.SetGeometry({73, 94, 674, 559});
  for (const PageDef& page : kPages) m.Add(page.sheet, Kind::Page, "RzPageControl1").SetText(page.caption);
  pages.SetIndex(0);

  Control& help = m.Add("Panel10", Kind::Panel, "MainForm");
  help.SetGeometry({0, 653, 747, 46});
  m.Add("HelpLabel", Kind::Label, "Panel10");

  // The system's serial ports, as probed by the search.
  m.Add("ENUMPORTS", Kind::ListBox, "MainForm").SetVisible(false);

  // Cloud page: the IMEI of a single upload or download, filled with the
  // connected tracker's IMEI; upload after every write to the tracker.
  m.Add("Label39", Kind::Label, "TabSheet13").SetText("IMEI:");
  Control& cloud_imei = m.Add("IMEICLOUD", Kind::Edit, "TabSheet13");
  cloud_imei.SetMaxLength(15);
  m.Add("AutoSendConfig", Kind::CheckBox, "TabSheet13")
      .SetText("Отправлять конфигурацию в \"Облако\" автоматически при записи в прибор");

  // News panel over the pages.
  m.Add("NewsPanel", Kind::Panel, "MainForm").SetVisible(false);
  m.Add("DisableNews", Kind::CheckBox, "NewsPanel").SetText("Больше не показывать");

  // Receiver update page: the hidden traffic trace.
  m.Add("LogMemo", Kind::Memo, "TabSheet3").SetVisible(false);

  // Message panel over the pages.
  Control& panel = m.Add("MESPANEL", Kind::Panel, "MainForm");
  panel.SetGeometry({0, 0, 400, 180});
  panel.SetVisible(false);
  panel.SetColor(kFrameColor);
  m.Add("PageControlMes", Kind::PageControl, "MESPANEL").SetIndex(0);
  for (int i = 0; i < 4; ++i) m.Add("MesPage" + std::to_string(i), Kind::Page, "PageControlMes");
  Control& label = m.Add("MESLABEL", Kind::Label, "MesPage0");
  label.SetBold(true);
  m.Add("OKMES", Kind::Button, "MesPage0").SetText("ОК");
  // Page 1: the tracker's password prompt.
  m.Add("Label20", Kind::Label, "MesPage1").SetText("Введите пароль");
  m.Add("PassEdit", Kind::Edit, "MesPage1").SetText("0");
  m.Add("PassButOK", Kind::Button, "MesPage1").SetText("ОК");
  m.Add("Button2", Kind::Button, "MesPage1").SetText("Отмена");
  // Page 2: the confirmation question.
  m.Add("Label31", Kind::Label, "MesPage2").SetText("Вы действительно хотите выполнить данную операцию!");
  m.Add("Button3", Kind::Button, "MesPage2").SetText("Да");
  m.Add("Button4", Kind::Button, "MesPage2").SetText("Нет");
}

}  // namespace rlv::ui

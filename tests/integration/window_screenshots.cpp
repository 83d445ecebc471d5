// The window for review: starts it offscreen with the demo tracker, shows each
// page of the main page area and each overlay panel in turn, and writes one PNG
// per view into the folder named on the command line. A last view shows a
// sample of every kind of control, to judge the renderer itself.
//
// usage: rlvexa-window-screenshots OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <string>
#include <vector>

#include "DemoWindow.h"
#include "ModelRenderer.h"

namespace {

using rlv::ui::Control;
using rlv::ui::Kind;

bool IsFrameArea(const std::string& name) {
  for (const char* area : {"Panel9", "Panel6", "Panel2", "Panel3", "RzPageControl1", "Panel10"}) {
    if (name == area) return true;
  }
  return false;
}

// A page with one control of every kind, added to the model by this tool.
void AddSamplePage(rlv::ui::ControlModel& m) {
  m.Add("SamplePage", Kind::Page, "RzPageControl1").SetText("Образец");
  Control& group = m.Add("SampleGroup", Kind::GroupBox, "SamplePage");
  group.SetText("Группа: подписи рядом с полями");
  m.Add("SampleLabel1", Kind::Label, "SampleGroup").SetText("Пароль доступа");
  Control& edit = m.Add("SampleEdit", Kind::Edit, "SampleGroup");
  edit.SetMaxLength(5);
  edit.SetDigitsOnly(true);
  edit.SetText("9723");
  m.Add("SampleLabel2", Kind::Label, "SampleGroup").SetText("Оператор связи с длинной подписью");
  Control& combo = m.Add("SampleCombo", Kind::ComboBox, "SampleGroup");
  combo.SetItems({"Автоматически", "Билайн", "Мегафон"});
  combo.SetIndex(0);
  m.Add("SampleCheck", Kind::CheckBox, "SampleGroup")
      .SetText("Принимать звонки и СМС с любого номера (длинная подпись переносится)");
  m["SampleCheck"].SetChecked(true);
  m.Add("SampleButton1", Kind::Button, "SampleGroup").SetText("Отправить");
  m.Add("SampleButton2", Kind::Button, "SampleGroup").SetText("Отмена");
  Control& status = m.Add("SampleGroup2", Kind::GroupBox, "SamplePage");
  status.SetText("Состояние");
  m.Add("SampleLabel3", Kind::Label, "SampleGroup2").SetText("Уровень сигнала GSM");
  Control& meter = m.Add("SampleMeter", Kind::Meter, "SampleGroup2");
  meter.SetRange(0, 31);
  meter.SetPosition(20);
  m.Add("SampleLabel4", Kind::Label, "SampleGroup2").SetText("Прогресс");
  Control& progress = m.Add("SampleProgress", Kind::ProgressBar, "SampleGroup2");
  progress.SetRange(0, 100);
  progress.SetPosition(60);
  Control& bold = m.Add("SampleLabel5", Kind::Label, "SampleGroup2");
  bold.SetText("Выделенный красный текст");
  bold.SetBold(true);
  bold.SetFontColor(rlv::ui::Rgb(200, 0, 0));
  m.Add("SampleImage", Kind::Image, "SampleGroup2");
  m.Add("SamplePicture", Kind::PictureButton, "SampleGroup2").SetText("Картинка");
  Control& radio = m.Add("SampleRadio", Kind::RadioGroup, "SamplePage");
  radio.SetItems({"Первый вариант", "Второй вариант", "Третий вариант"});
  radio.SetIndex(1);
  Control& list = m.Add("SampleList", Kind::ListBox, "SamplePage");
  list.SetItems({"COM1", "COM3", "DEMO"});
  list.SetIndex(2);
  Control& grid = m.Add("SampleGrid", Kind::Grid, "SamplePage");
  grid.SetGridSize(4, 4);
  const char* heads[4] = {"SPN", "Length", "Register", "Name"};
  for (int c = 0; c < 4; ++c) grid.SetCell(c, 0, heads[c]);
  grid.SetCell(0, 1, "190");
  grid.SetCell(1, 1, "2");
  grid.SetCell(2, 1, "1");
  grid.SetCell(3, 1, "Обороты двигателя");
  Control& memo = m.Add("SampleMemo", Kind::Memo, "SamplePage");
  memo.SetText("Первая строка журнала\nВторая строка журнала\nТретья строка");
  Control& tree = m.Add("SampleTree", Kind::CheckTree, "SamplePage");
  const int block = tree.AddNode({"Навигация", -1, -1, 0, true});
  tree.AddNode({"Широта", block, 1, 0, true});
  tree.AddNode({"Долгота", block, 2, 0, false});
  tree.AddNode({"Входы", -1, -1, 0, false});
  Control& tabs = m.Add("SampleTabs", Kind::PageControl, "SamplePage");
  m.Add("SampleTab1", Kind::Page, "SampleTabs").SetText("Вкладка 1");
  m.Add("SampleTab2", Kind::Page, "SampleTabs").SetText("Вкладка 2");
  m.Add("SampleTabLabel", Kind::Label, "SampleTab1").SetText("Содержимое первой вкладки");
  tabs.SetIndex(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
    return 1;
  }
  rlv::qtw::DemoWindow demo;
  rlv::qtw::WindowFrontend& front = *demo.front;
  rlv::qtp::QtPlatform& platform = demo.platform;
  rlv::app::MainWindow& window = front.Window();
  rlv::ui::ControlModel& model = window.controls;

  // The title and menu bars, twice the size, before the link is up (the
  // tracker's menu entries greyed) and after.
  const auto bars = [&](const QString& file) {
    front.Renderer().Flush();
    QWidget* title = front.Renderer().Widget("Panel9");
    QWidget* menu = front.Renderer().Widget("Panel6");
    QPixmap both(title->width(), title->height() + menu->height());
    both.fill(Qt::white);
    title->render(&both, QPoint(0, 0));
    menu->render(&both, QPoint(0, title->height()));
    const QString path = QDir(out).filePath(file);
    both.scaled(both.size() * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(path);
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(path)));
  };
  bars("bars-searching-2x.png");

  if (!demo.WaitForTracker(15000)) return 1;
  // The start-up's own work (the automatic read of the configuration) settles first.
  platform.loop.RunFor(2500);

  bars("bars-connected-2x.png");

  int failures = 0;
  int written = 0;
  const auto shot = [&](QWidget* widget, const QString& file, int settle_ms) {
    platform.loop.RunFor(settle_ms);
    front.Renderer().Flush();
    QApplication::processEvents();
    const QString path = QDir(out).filePath(file);
    if (widget->grab().save(path)) {
      std::printf("%s\n", qPrintable(QDir::toNativeSeparators(path)));
      ++written;
    } else {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
    }
  };
  QWidget* frame = front.Frame();

  // Every panel over the pages that is hidden at start; the pages are shown
  // without any of them (a message of the start-up may be on the screen).
  std::vector<Control*> overlays;
  for (Control* c : model.Children("MainForm")) {
    if (c->GetKind() == Kind::Panel && !IsFrameArea(c->Name())) overlays.push_back(c);
  }

  // Every page, overlay panel and secondary window, with `suffix` on each file name.
  const auto views = [&](const QString& suffix) {
    // The seven pages.
    const std::vector<Control*> pages = model.Children("RzPageControl1");
    for (int i = 0; i < rlv::ui::Shell::kPageCount && i < static_cast<int>(pages.size()); ++i) {
      window.shell.SelectPage(i);
      for (Control* c : overlays) c->SetVisible(false);
      // The monitoring page fills with the tracker's status polls.
      shot(frame,
           QString("page%1-%2%3.png")
               .arg(i)
               .arg(QString::fromStdString(pages[static_cast<size_t>(i)]->Name()), suffix),
           i == 1 ? 1200 : 100);
      // A page taller than the page area: the whole of it, below what scrolls out of view.
      const std::string sheet = pages[static_cast<size_t>(i)]->Name();
      auto* scroll = qobject_cast<QScrollArea*>(front.Renderer().Widget(sheet));
      if (scroll != nullptr && scroll->widget() != nullptr &&
          scroll->widget()->height() > scroll->viewport()->height()) {
        shot(scroll->widget(),
             QString("page%1-%2-whole%3.png").arg(i).arg(QString::fromStdString(sheet), suffix), 0);
      }
    }
    window.shell.SelectPage(0);

    // Each panel over the pages in turn.
    for (Control* c : overlays) {
      c->SetVisible(true);
      shot(frame, QString("overlay-%1%2.png").arg(QString::fromStdString(c->Name()), suffix), 50);
      // The further pages of a page control on the panel (the driving style beside the calibration).
      for (Control* tabs : model.Children(c->Name())) {
        if (tabs->GetKind() != Kind::PageControl) continue;
        const int shown = tabs->Index();
        const std::vector<Control*> tab_pages = model.Children(tabs->Name());
        for (int i = 1; i < static_cast<int>(tab_pages.size()); ++i) {
          tabs->SetIndex(i);
          shot(frame,
               QString("overlay-%1-%2%3.png")
                   .arg(QString::fromStdString(c->Name()),
                        QString::fromStdString(tab_pages[static_cast<size_t>(i)]->Name()), suffix),
               50);
        }
        tabs->SetIndex(shown);
      }
      c->SetVisible(false);
    }
    // The message panel with a message on it.
    window.messages.MessageShow(window.messages.GetMessageA(7));
    shot(frame, "overlay-MESPANEL-message" + suffix + ".png", 50);
    model["MESPANEL"].SetVisible(false);

    // Secondary windows (the help editor).
    for (Control* c : model.All()) {
      if (c->GetKind() != Kind::Window || c->Name() == "MainForm") continue;
      c->SetVisible(true);
      front.Renderer().Flush();
      if (QWidget* widget = front.Renderer().Widget(c->Name())) {
        shot(widget, QString("window-%1%2.png").arg(QString::fromStdString(c->Name()), suffix), 50);
      }
      c->SetVisible(false);
    }
  };
  views("");

  // The same views in the other language, switched with the window's own toggle.
  model.UserClick("LangImage");
  bars("bars-connected-2x-en.png");
  views("-en");
  model.UserClick("LangImage");

  // A sample of every kind of control.
  AddSamplePage(model);
  model["RzPageControl1"].SetIndex(static_cast<int>(model.Children("RzPageControl1").size()) - 1);
  shot(frame, "sample-kinds.png", 50);
  window.shell.SelectPage(0);

  window.FormClose();
  std::printf("%d screenshots written to %s\n", written, qPrintable(QDir::toNativeSeparators(out)));
  return failures == 0 && written > 0 ? 0 : 1;
}

#pragma once

// The window front end: the main window object rendered with Qt Widgets, the
// platform's dialogs and clipboard, and the hot keys as application-wide
// shortcuts. Needs a QApplication.

#include <memory>
#include <vector>

#include "QtLocale.h"
#include "app/MainWindow.h"
#include "app/Options.h"
#include "bundle/Bundle.h"
#include "platform/Platform.h"

class QObject;
class QShortcut;
class QWidget;

namespace rlv::qtp {
class QtPlatform;
}

namespace rlv::qtw {

class ModelRenderer;
class QtDialogs;

class WindowFrontend {
 public:
  // `dialogs` and `clipboard` replace the Qt ones (tests); null means Qt's.
  WindowFrontend(qtp::QtPlatform& qt_platform, app::Options options, platform::IDialogs* dialogs = nullptr,
                 platform::IClipboard* clipboard = nullptr);
  ~WindowFrontend();
  WindowFrontend(const WindowFrontend&) = delete;
  WindowFrontend& operator=(const WindowFrontend&) = delete;

  // Creates the window, shows it centred on the screen and runs its start-up;
  // the start-up steps the first frame does not show run once it is painted.
  // With RLVEXA_EXIT_AFTER_FIRST_PAINT set in the environment, the time of the
  // first paint is written to standard output ("first paint: SECONDS since the
  // epoch processor SECONDS used by the process") and the application quits
  // (the start-up benchmark).
  void Open();
  // Open, then the event loop until the window closes, then the close steps.
  // Returns the exit code.
  int Run();

  app::MainWindow& Window() { return *window_; }
  ModelRenderer& Renderer() { return *renderer_; }
  QWidget* Frame() const;

 private:
  void UpdateShortcuts();
  void FirstPainted();

  qtp::QtPlatform& qt_;
  std::unique_ptr<QtDialogs> qt_dialogs_;
  qtp::QtLocale locale_;
  platform::Platform platform_;
  // Every byte to and from the tracker, for the diagnostic bundle.
  std::unique_ptr<bundle::TracingSerialPort> trace_;
  std::unique_ptr<app::MainWindow> window_;
  std::unique_ptr<ModelRenderer> renderer_;
  std::vector<QShortcut*> shortcuts_;  // children of the frame
  std::unique_ptr<QObject> paint_watch_;
  bool opened_ = false;
  bool painted_ = false;
};

}  // namespace rlv::qtw

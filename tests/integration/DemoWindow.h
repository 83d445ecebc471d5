#pragma once

// The window with the demo tracker behind it, offscreen, with a data folder of
// its own and scripted dialogs: what the tools that drive the whole window
// (the screenshots, the page-switch benchmark) start from. Needs a QApplication.

#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <string>

#include "QtPlatform.h"
#include "WindowFrontend.h"
#include "ui/Automation.h"

namespace rlv::qtw {

struct DemoWindow {
  DemoWindow() {
    app::Options options;
    options.demo = true;
    options.data_dir = data.path().toStdString();
    options.program_dir = RLVEXA_SOURCE_DIR "/data";
    front = std::make_unique<WindowFrontend>(platform, options, &dialogs, &dialogs);
    front->Open();
  }

  // Runs the event loop until the demo tracker has answered; false (and a line
  // on standard error) when it has not within `ms`.
  bool WaitForTracker(int ms) {
    ui::ControlModel& model = front->Window().controls;
    const std::string linked = "DEMO: RL20Vexa";
    if (platform.loop.RunUntil([&] { return model["ComPortDeviceCaption"].Text() == linked; }, ms))
      return true;
    std::fprintf(stderr, "the demo tracker did not come up: %s\n",
                 model["ComPortDeviceCaption"].Text().c_str());
    return false;
  }

  QTemporaryDir data;
  qtp::QtPlatform platform{true, ""};
  ui::ScriptedDialogs dialogs;
  std::unique_ptr<WindowFrontend> front;
};

}  // namespace rlv::qtw

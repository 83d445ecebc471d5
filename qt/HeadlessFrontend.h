#pragma once

// The headless automation front end: reads commands from standard input, one
// per line, and writes exactly one answer line per command to standard output
// (after a prompt when standard input is a terminal).

#include <QObject>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "QtLocale.h"
#include "app/MainWindow.h"
#include "app/Options.h"
#include "ui/Automation.h"

class QSocketNotifier;

namespace rlv::qtp {

class QtPlatform;

class HeadlessFrontend {
 public:
  HeadlessFrontend(QtPlatform& qt_platform, app::Options options);
  ~HeadlessFrontend();
  HeadlessFrontend(const HeadlessFrontend&) = delete;
  HeadlessFrontend& operator=(const HeadlessFrontend&) = delete;

  // The exit status of a run that ended without a tracker because a port could
  // not be opened for lack of permission.
  static constexpr int kExitAccessDenied = 3;

  // Creates and shows the main window, answers commands until "quit" or the end
  // of input, destroys the window. Needs a QCoreApplication; returns the exit
  // code: 0, or kExitAccessDenied.
  int Run();

 private:
  void StartInput();
  void StopInput();
  // Cuts received text into lines; `eof` marks the end of input.
  void OnInput(std::string_view text, bool eof);
  void ProcessPending();
  void Answer(const std::string& line);
  void WriteAnswer(std::string answer);
  void Finish();
  // "rlvexa> " when a user types the commands at a terminal; scripts that
  // pipe them in read the answers alone.
  void Prompt();

  ui::ScriptedDialogs dialogs_;
  QtLocale locale_;
  platform::Platform platform_;
  std::unique_ptr<app::MainWindow> window_;
  std::unique_ptr<ui::Automation> automation_;

  QObject context_;
  ui::CommandLines lines_;                      // the input cut into lines
  std::deque<ui::CommandLines::Line> pending_;  // complete lines not yet executed
  bool eof_ = false;
  bool busy_ = false;
  bool finishing_ = false;
  bool prompt_ = false;  // standard input is a terminal
#ifndef _WIN32
  void OnStdinReadable();
  QSocketNotifier* notifier_ = nullptr;  // child of context_
#endif
};

}  // namespace rlv::qtp

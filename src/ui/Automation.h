#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Dialogs.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::platform {
class IEventLoop;
}

namespace rlv::ui {

// Dialog answers queued by a script ("answer open PATH", "answer confirm yes");
// message boxes are recorded instead of shown. Used by the headless front end
// and by tests.
class ScriptedDialogs : public platform::IDialogs, public platform::IClipboard {
 public:
  void QueueOpen(std::optional<std::string> path);
  void QueueSave(std::optional<std::string> path);
  void QueueConfirm(bool yes);

  std::optional<std::string> OpenFile(const std::string& filter) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& default_ext,
                                      const std::string& suggested_path) override;
  // The file the last save dialog started on.
  const std::string& LastSaveSuggestion() const { return last_save_suggestion_; }
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void SetText(const std::string& text) override { clipboard_ = text; }
  std::string Text() const override { return clipboard_; }

  const std::vector<std::string>& Boxes() const { return boxes_; }
  // The filters of the file dialogs opened, in order.
  const std::vector<std::string>& Filters() const { return filters_; }

 private:
  std::deque<std::optional<std::string>> open_answers_;
  std::deque<std::optional<std::string>> save_answers_;
  std::string last_save_suggestion_;
  std::deque<bool> confirm_answers_;
  std::vector<std::string> boxes_;
  std::vector<std::string> filters_;
  std::string clipboard_;
};

// Cuts the automation input into command lines as it arrives. Each piece of
// input is searched for line breaks once; a line longer than kMaxLine is not
// kept: it becomes one "too long" entry, and the rest of it up to its line
// break is dropped as it arrives.
class CommandLines {
 public:
  static constexpr size_t kMaxLine = size_t{1} << 20;

  struct Line {
    std::string text;  // without the line break
    bool too_long = false;
  };

  // Adds received bytes; the lines they complete are appended to `out`.
  void Feed(std::string_view bytes, std::deque<Line>& out);
  // The end of input: an unfinished last line is appended to `out`.
  void Finish(std::deque<Line>& out);
  // Bytes held of the unfinished line.
  size_t Held() const { return partial_.size(); }

  // The answer to a line that was too long.
  static std::string TooLongAnswer();

 private:
  std::string partial_;      // the unfinished line so far
  bool discarding_ = false;  // inside a line already reported as too long
};

// The headless automation mode: one command line in, one answer line out
// ("ok", "ok <value>" or "error: <reason>").
class Automation {
 public:
  Automation(app::MainWindow& window, platform::IEventLoop& loop, ScriptedDialogs& dialogs);

  std::string Execute(const std::string& line);
  // Set by "quit" once the window's close steps have run.
  bool Finished() const { return finished_; }

 private:
  app::MainWindow& window_;
  platform::IEventLoop& loop_;
  ScriptedDialogs& dialogs_;
  bool finished_ = false;
};

}  // namespace rlv::ui

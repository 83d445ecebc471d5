#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

class ControlModel;

// What the engineer has typed, selected, ticked or entered on the pages:
// every edit's text, every list's selection (by index), every check mark,
// every grid's data cells and every tree tick (by tag and kind). Captions,
// item texts and grid headings are not part of it, so applying a language
// between Take and Restore changes the words and nothing else.
class PageValues {
 public:
  void Take(const ControlModel& model);
  void Restore(ControlModel& model) const;

 private:
  struct Value {
    std::string name;
    std::string text;
    int index = -1;
    bool checked = false;
    int cols = 0;
    int rows = 0;
    std::vector<std::string> cells;                 // rows 1.. of a grid, row by row
    std::map<std::pair<int, int>, bool> tag_ticks;  // (tag, kind) -> ticked
    std::vector<bool> block_ticks;                  // nodes without a tag, in order
  };
  std::vector<Value> values_;
};

// The window's texts from the language file, and the Russian–English toggle.
class Language {
 public:
  static constexpr const char* kCaptionsSection = "Captions";

  explicit Language(app::MainWindow& w) : w_(w) {}

  // Applies the language file in `language` ("russian" or "english") to the
  // window: the flag of the other language, the structure tree, the caption,
  // the hints, the monitoring texts, every caption, list item and grid
  // heading. At start-up (`startup`) the path label and the remote server's
  // state get their initial texts; later they keep what they show.
  void SetLanguage(const std::string& language, bool startup = false);
  // The language toggle: switches between Russian and English. Nothing typed
  // is lost, nothing is sent and no file is written.
  void LangImageClick();

  // The window caption: the language file's caption and the own version.
  std::string CaptionText() const;

 private:
  void ApplyHeader();
  void ApplyStrings();
  void ApplyLists();
  void ApplyCaptions();
  // Re-renders the texts that show state in the current language.
  void RerenderState();

  app::MainWindow& w_;
};

}  // namespace rlv::ui

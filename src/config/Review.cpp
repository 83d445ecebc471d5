#include "config/Review.h"

#include "app/MainWindow.h"
#include "platform/IniFile.h"

namespace rlv::config {

namespace {
// The build time changes with every write: it is not a change the user made.
constexpr const char* kBuildTimeKey = "additional.WRITETIME";
constexpr int kMsgWritten = 7;

// A list field's value, "index "item"", with the item as the window shows it
// in the language chosen; other values as they are.
std::string ShownValue(const ui::ControlModel& c, const std::string& key, const std::string& value) {
  const ui::Control* list = c.Find(key.substr(key.rfind('.') + 1));
  const size_t space = value.find(" \"");
  if (list == nullptr || list->Items().empty() || space == std::string::npos) return value;
  const auto index = platform::ParseInteger(value.substr(0, space));
  if (!index || *index < 0 || *index >= static_cast<int64_t>(list->Items().size())) return value;
  return value.substr(0, space) + " \"" + list->Items()[static_cast<size_t>(*index)] + "\"";
}
}  // namespace

WriteReview::WriteReview(app::MainWindow& w) : w_(w) {
  w_.controls.Observe([this](const ui::Control& c, ui::Prop prop) {
    if (prop != ui::Prop::Text) return;
    if (c.Name() == "ComPortDeviceCaption" && c.Text() != caption_) {
      // Another tracker, a lost link or the bootloader: what was read no longer holds.
      caption_ = c.Text();
      on_tracker_.reset();
      pending_.reset();
    } else if (c.Name() == "MESLABEL" && pending_ && c.Text() == w_.messages.GetMessageA(kMsgWritten)) {
      on_tracker_ = pending_;
      pending_.reset();
    }
  });
}

void WriteReview::RememberRead() {
  on_tracker_ = text::Records{w_.config.ConfigBlock1, w_.config.ConfigBlock2};
  pending_.reset();
}

void WriteReview::Unreviewed() {
  LastChanges.clear();
  pending_ = text::Records{w_.config.ConfigBlock1, w_.config.ConfigBlock2};
}

bool WriteReview::Approve() {
  LastChanges.clear();
  const text::Records next{w_.config.ConfigBlock1, w_.config.ConfigBlock2};
  if (!on_tracker_ || !w_.settings.ReviewBeforeWrite) {
    pending_ = next;
    return true;
  }
  for (text::Difference& d : text::Diff(*on_tracker_, next)) {
    if (d.key != kBuildTimeKey) LastChanges.push_back(std::move(d));
  }
  if (LastChanges.empty()) {
    pending_ = next;
    return true;
  }
  const bool english = w_.messages.LanguageName == "english";
  std::string question =
      english ? "The write changes these fields on the tracker:\n" : "Запись изменит в приборе эти поля:\n";
  for (const text::Difference& d : LastChanges) {
    question += text::FormatDifference({d.key, ShownValue(w_.controls, d.key, d.old_value),
                                        ShownValue(w_.controls, d.key, d.new_value)}) +
                "\n";
  }
  question += english ? "Write the configuration?" : "Записать конфигурацию?";
  if (!w_.plat.dialogs->Confirm(question, english ? "Review before write" : "Проверка перед записью")) {
    return false;
  }
  pending_ = next;
  return true;
}

}  // namespace rlv::config

#include "config/Review.h"

#include "app/MainWindow.h"

namespace rlv::config {

namespace {
// The build time changes with every write: it is not a change the user made.
constexpr const char* kBuildTimeKey = "additional.WRITETIME";
constexpr int kMsgWritten = 7;
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
  for (const text::Difference& d : LastChanges) question += text::FormatDifference(d) + "\n";
  question += english ? "Write the configuration?" : "Записать конфигурацию?";
  if (!w_.plat.dialogs->Confirm(question, english ? "Review before write" : "Проверка перед записью")) {
    return false;
  }
  pending_ = next;
  return true;
}

}  // namespace rlv::config

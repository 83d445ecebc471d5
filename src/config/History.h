#pragma once

#include <string>
#include <vector>

#include "config/ConfigText.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::config {

// The configurations read from trackers, kept per tracker in the data folder
// as "History/IMEI/YYYYMMDD-HHMMSS.fcg": a read is kept when it differs from
// the newest kept one of that tracker. The settings page lists the connected
// tracker's history: open one onto the pages, compare it with the pages, or
// write it back to the tracker.
class ConfigHistory {
 public:
  static constexpr const char* kFolder = "History";

  explicit ConfigHistory(app::MainWindow& w) : w_(w) {}

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // The folder of a tracker's history; empty when `imei` is not 15 digits.
  std::string Folder(const std::string& imei) const;
  // The kept files of a tracker, newest first (full paths).
  std::vector<std::string> Files(const std::string& imei) const;
  // Keeps `records` as read from the tracker `imei`. Returns the file written;
  // empty when nothing was (the same as the newest, no IMEI, or a failure in LastError).
  std::string Keep(const std::string& imei, const text::Records& records);
  // A read from the connected tracker has ended: keeps it and lists the history.
  void KeepRead();
  std::string LastError;

  // The settings page's history panel.
  void Refresh();
  void OpenClick();
  void CompareClick();
  void WriteBackClick();

 private:
  std::string Selected() const;

  app::MainWindow& w_;
  std::string listed_imei_;
  std::vector<std::string> listed_;
};

}  // namespace rlv::config

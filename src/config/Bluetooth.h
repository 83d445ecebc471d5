#pragma once

#include <cstddef>
#include <string>

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::config {

// The tracker's Bluetooth devices, in the pop-up panel `Panel26`: a scan for
// devices around the tracker, pairing one of the found devices by its row,
// removing a device, and the list of the paired ones. Nothing of it is stored:
// the grid shows what the tracker reported since the last scan or list.
//
// `BlueScan` starts with a header row and kFirstRows data rows and grows by one
// row whenever a device arrives with every row taken, up to kMaxRows data rows;
// a device reported beyond that is not shown (a tracker knows far fewer).
class Bluetooth {
 public:
  static constexpr int kFirstRows = 5;
  static constexpr int kMaxRows = 255;
  // Seconds a scan runs on the tracker (the second byte of the scan request).
  static constexpr int kScanSeconds = 30;
  // The highest row the tracker can pair or remove.
  static constexpr int kMaxDeviceRow = 20;
  // A Bluetooth device name has at most 248 bytes; anything longer is cut.
  static constexpr size_t kMaxNameBytes = 248;

  explicit Bluetooth(app::MainWindow& w) : w_(w) {}

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // The scan button's designed caption while no scan runs.
  static std::string ScanIdleCaption();
  // The scan button's caption in the current language: the countdown while a
  // scan runs, else the idle caption of the language file.
  void RenderScanCaption();
  // A name or text as the tracker sends it (Windows-1251, up to its zero or
  // the payload's end) made fit for the controls: cut to kMaxNameBytes,
  // converted to UTF-8, control characters shown as blanks.
  static std::string TextFromTracker(const std::string& raw);

  void Button12Click();  // opens the panel
  void Button13Click();  // closes it
  void Button14Click();  // scan
  void Button15Click();  // stop the scan
  void Button16Click();  // pair the selected row
  void Button17Click();  // the list of paired devices
  void Button18Click();  // remove the selected row

  void ClearBlueList();
  void AddToBlueList(int number, const std::string& name);
  // The 1-second tick: counts a running scan down on the scan button.
  void Tick();

  // Seconds left of a scan, 0 when none runs.
  int ScanCountdown = 0;

 private:
  // The grid's current row when it is one the tracker can pair or remove;
  // otherwise "Выберите устройство" is shown and 0 returned.
  int SelectedDeviceRow();

  app::MainWindow& w_;
  int shown_count_ = 0;  // the count the scan button shows, 0 before the first tick
};

}  // namespace rlv::config

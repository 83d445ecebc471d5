#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}
namespace rlv::platform {
class IFiles;
class ITimer;
}  // namespace rlv::platform

namespace rlv::config {

// The configuration file ".fcg", the transfer of the configuration to and
// from the tracker, the current configuration path with its label, and the
// wait indicator on the progress page of the message panel.
class Transfer {
 public:
  static constexpr int kWaitTickMs = 200;
  static constexpr const char* kFileFilter = "Файлы конфигурации (*.fcg)|*.fcg";
  static constexpr const char* kDefaultPath = "default.fcg";
  static constexpr const char* kDevicePath = "device";
  // The file the save dialog offers, in the data folder.
  static constexpr const char* kSuggestedFile = "configuration.fcg";

  explicit Transfer(app::MainWindow& w);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Declares the progress page's caption and bar (called once, after the main window's controls).
  static void DeclareControls(ui::ControlModel& model);

  // The configuration the pages came from: a file, or "default.fcg" after a
  // reset. Remembered in the settings file and opened at program start.
  std::string ConfigPath = "default";
  // The IMEI of the connected tracker as text, filled from the device status;
  // the key of the tracker's remembered password.
  std::string TrackerImei;

  // --- Configuration file -------------------------------------------------
  enum class SaveResult {
    kSaved,
    kNotBuilt,     // a page field did not convert; its error has been shown; no file touched
    kWriteFailed,  // the file could not be written; an existing file is unchanged
  };
  // Builds both records from the pages and writes the file; an existing file
  // is replaced only once the new one is completely written.
  SaveResult WriteConfigFile(const std::string& path);
  // True when the file has been written.
  bool SaveConfigToFile(const std::string& path);
  // Reads a file into the records and copies them onto the pages. A file that
  // is not a configuration file shows message 126 and changes nothing. False
  // only when the file cannot be opened.
  bool OpenFromFile(const std::string& path);
  // The menu's open and save, through the platform's file dialogs.
  void OpenConfig();
  void SaveConfig();
  // Program start: the last configuration file, or the default configuration
  // when that cannot be opened.
  void OpenLastConfiguration();
  // Why the last file operation failed: empty when it did not, or when the
  // file simply does not exist.
  std::string LastFileError;
  // `message` followed by the file and, when known, the reason.
  std::string FileMessage(int message, const std::string& path) const;

  // Sets ConfigPath and the path label: "default.fcg" shows message 0; "device"
  // (a configuration read from the tracker) shows message 1 and the build
  // time and keeps ConfigPath; a file shows its path and the build time.
  void SetConfigPath(const std::string& path);
  // Shows the path label again, in the current language.
  void RenderConfigPath();
  // " (DD.MM.YYYY hh:mm:ss)" from the build time of the first record.
  std::string BuildTimeStamp() const;

  // --- Transfer to and from the tracker ----------------------------------
  void ReadFromDevice();
  // Writes the pages' configuration to the tracker; `review` false skips the
  // review before write (for writes that are a step of their own, such as a calibration).
  void LoadToDevice(bool review = true);

  // The configuration exchange under way with the tracker, if any.
  enum class Exchange { kNone, kRead, kWrite };
  Exchange InProgress = Exchange::kNone;
  // The exchange has ended, with its own message.
  // A read or write answered: polls through the tunnel resume.
  void ExchangeEnded();
  // The link was lost or the tracker stopped answering in the middle of an
  // exchange: the success message of a first half must not stay in view.
  void ExchangeInterrupted();
  // The cloud store's upload of the current configuration, started after a
  // write when AutoSendConfig is ticked.
  void UploadConfigButtonClick();

  // --- Wait indicator ------------------------------------------------------
  // total 0: a wait of `limit` ticks on a 50-segment running bar; otherwise
  // progress `limit` of `total` on a 20-segment bar with a limit of 15 ticks.
  // `text` "0" leaves the caption as it is.
  void StartWait(int limit, int total, const std::string& text);
  // Ends the wait; shows `text` as a message unless it is "0".
  void StopWait(const std::string& text);
  // Ends the wait and shows message `message`.
  void StopWait(int message);
  // Brings the progress page forward again and restarts the count.
  void ResumeWait();
  void TimerProgressTimer();

  // Ticks since the wait started; 0 when stopped.
  int32_t WaitCount = 0;
  // Ticks after which a pending remote operation is given up.
  int32_t WaitLimit = 0;
  // Segments of the bar: 50 for a time-limited wait, 20 for progress.
  int BarSegments = 50;
  std::unique_ptr<platform::ITimer> TimerProgress;

  // The file service (the real files unless a test puts another in place).

 private:
  // A relative path names a file in the data folder.
  std::string Resolve(const std::string& path) const;
  std::string Message(int number) const;
  void EndWait();

  app::MainWindow& w_;
  // What the path label shows: a file's path, or "default.fcg" or "device",
  // with the build time of the configuration it names.
  std::string shown_path_;
  std::string shown_stamp_;
};

}  // namespace rlv::config

#include "config/Transfer.h"

#include <algorithm>
#include <limits>

#include "app/MainWindow.h"
#include "config/ConfigFile.h"
#include "link/Bytes.h"
#include "platform/Files.h"

namespace rlv::config {

namespace {
constexpr int kMesPageProgress = 3;
constexpr int kWaitLimitLocal = 15;   // 3 s
constexpr int kWaitLimitRemote = 50;  // 10 s through the tunnel
constexpr int kProgressLimit = 15;
constexpr int kRunningSegments = 50;
constexpr int kProgressSegments = 20;
constexpr int kRunningStep = 10;  // per cent per tick

constexpr int kMsgDefaultConfig = 0;
constexpr int kMsgFromDevice = 1;
constexpr int kMsgReading = 2;
constexpr int kMsgWriting = 3;
constexpr int kMsgCannotOpen = 45;
constexpr int kMsgCannotSave = 46;
constexpr int kMsgNotConfigFile = 126;
}  // namespace

Transfer::Transfer(app::MainWindow& w) : w_(w) {
  if (w_.plat.timers != nullptr) {
    TimerProgress = w_.CreateTimer([this] { TimerProgressTimer(); });
    TimerProgress->SetInterval(kWaitTickMs);
  }
}

Transfer::~Transfer() {
  if (TimerProgress) TimerProgress->Stop();
}

void Transfer::DeclareControls(ui::ControlModel& model) {
  model.Add("Lprocess", ui::Kind::Label, "MesPage3").SetBold(true);
  model.Add("ProgressBar2", ui::Kind::ProgressBar, "MesPage3").SetRange(0, 100);
}

std::string Transfer::Message(int number) const {
  return w_.messages.GetMessageA(number);
}

std::string Transfer::Resolve(const std::string& path) const {
  return w_.ResolveDataPath(path);
}

// ---------------------------------------------------------------------------
// Configuration file

Transfer::SaveResult Transfer::WriteConfigFile(const std::string& path) {
  // The records are built first: a field that does not convert leaves every file untouched.
  if (!w_.config.ReadConfigFromObjects()) return SaveResult::kNotBuilt;
  const std::vector<uint8_t> file = BuildConfigFile(w_.config.ConfigBlock1, w_.config.ConfigBlock2);
  LastFileError.clear();
  if (path.empty()) return SaveResult::kWriteFailed;
  if (!w_.Files().Replace(Resolve(path), file, &LastFileError)) return SaveResult::kWriteFailed;
  return SaveResult::kSaved;
}

bool Transfer::SaveConfigToFile(const std::string& path) {
  return WriteConfigFile(path) == SaveResult::kSaved;
}

bool Transfer::OpenFromFile(const std::string& path) {
  LastFileError.clear();
  if (path.empty()) return false;
  // No configuration file reaches further than the reader can.
  const auto file = w_.Files().Read(Resolve(path), fcg::kReach, &LastFileError);
  if (!file) return false;
  if (ApplyConfigFile(*file, w_.config.ConfigBlock1, w_.config.ConfigBlock2) == FileVerdict::kNotConfigFile) {
    w_.messages.MessageShow(Message(kMsgNotConfigFile));
    return true;
  }
  w_.config.WriteConfigToObjects();
  SetConfigPath(path);
  return true;
}

void Transfer::OpenConfig() {
  const auto file = w_.plat.dialogs->OpenFile(w_.messages.GetStringOr("Window", "ConfigFilter", kFileFilter));
  if (!file) return;
  if (!OpenFromFile(*file)) w_.messages.MessageShow(FileMessage(kMsgCannotOpen, Resolve(*file)));
}

std::string Transfer::FileMessage(int message, const std::string& path) const {
  std::string text = Message(message) + ": " + path;
  if (!LastFileError.empty()) text += " (" + LastFileError + ")";
  return text;
}

void Transfer::SaveConfig() {
  const auto file = w_.plat.dialogs->SaveFile(w_.messages.GetStringOr("Window", "ConfigFilter", kFileFilter),
                                              "fcg", w_.DataPath(kSuggestedFile));
  if (!file) return;
  switch (WriteConfigFile(*file)) {
    case SaveResult::kSaved:
      SetConfigPath(*file);
      break;
    case SaveResult::kWriteFailed:
      w_.messages.MessageShow(FileMessage(kMsgCannotSave, Resolve(*file)));
      break;
    case SaveResult::kNotBuilt:
      break;  // the conversion error is what the user sees
  }
}

void Transfer::OpenLastConfiguration() {
  if (OpenFromFile(ConfigPath)) return;
  // A remembered file that exists but cannot be read is worth a word; one
  // that is gone (or the reset's "default") is not.
  if (!LastFileError.empty()) w_.ReportProblem(FileMessage(kMsgCannotOpen, Resolve(ConfigPath)));
  w_.config.Load_default();
}

std::string Transfer::BuildTimeStamp() const {
  return BuildStamp(link::GetU32(w_.config.ConfigBlock1.data() + kWriteTimeOffset));
}

void Transfer::SetConfigPath(const std::string& path) {
  if (path == kDevicePath) {
    w_.review.RememberRead();
    w_.history.KeepRead();
  } else {
    ConfigPath = path;
  }
  shown_path_ = path;
  shown_stamp_ = BuildTimeStamp();
  RenderConfigPath();
}

void Transfer::RenderConfigPath() {
  // Nothing was loaded yet: the label keeps the text it was given.
  if (shown_path_.empty()) return;
  ui::Control& label = w_.controls["LConfigPath"];
  if (shown_path_ == kDefaultPath) {
    label.SetText(w_.messages.GetStringOr("Messages", "M" + std::to_string(kMsgDefaultConfig), ""));
  } else if (shown_path_ == kDevicePath) {
    label.SetText(w_.messages.GetStringOr("Messages", "M" + std::to_string(kMsgFromDevice), "") +
                  shown_stamp_);
  } else {
    label.SetText(shown_path_ + shown_stamp_);
  }
}

// ---------------------------------------------------------------------------
// Transfer to and from the tracker

void Transfer::ReadFromDevice() {
  InProgress = Exchange::kRead;
  const uint8_t block = 0;
  w_.codec.SendPacket(protocol::kConfigRead, &block, 1);
  const std::string text = Message(kMsgReading);
  StartWait(kWaitLimitLocal, 0, text);
  w_.messages.MessageShow(text);
  if (w_.link.RemoteModeActive) {
    w_.link.RemoteOperationPending = true;
    StartWait(kWaitLimitRemote, 0, text);
  }
}

void Transfer::LoadToDevice(bool review) {
  if (!w_.config.ReadConfigFromObjects()) return;
  if (!review) {
    w_.review.Unreviewed();
  } else if (!w_.review.Approve()) {
    return;
  }
  const uint16_t password = link::GetU16(w_.config.ConfigBlock1.data() + kConfigPasswordOffset);
  w_.settings.WritePass(TrackerImei, password);

  uint8_t request[3 + fcg::kBlockSize];
  request[0] = 0;  // block index
  link::PutU16(request + 1, static_cast<uint16_t>(fcg::kBlockSize));
  std::copy(w_.config.ConfigBlock1.begin(), w_.config.ConfigBlock1.end(), request + 3);
  InProgress = Exchange::kWrite;
  w_.codec.SendPacket(protocol::kConfigWrite, request, sizeof request);

  const std::string text = Message(kMsgWriting);
  StartWait(kWaitLimitLocal, 0, text);
  w_.messages.MessageShow(text);
  if (w_.link.RemoteModeActive) {
    w_.link.RemoteOperationPending = true;
    StartWait(kWaitLimitRemote, 0, text);
  }
  // The upload starts at once, without waiting for the tracker's answer.
  if (w_.controls["AutoSendConfig"].Checked()) UploadConfigButtonClick();
}

void Transfer::UploadConfigButtonClick() {
  w_.cloud.UploadConfigButtonClick();
}

// ---------------------------------------------------------------------------
// Wait indicator

void Transfer::StartWait(int limit, int total, const std::string& text) {
  ui::Control& bar = w_.controls["ProgressBar2"];
  if (total == 0) {
    WaitLimit = limit;
    BarSegments = kRunningSegments;
    bar.SetPosition(0);
  } else {
    BarSegments = kProgressSegments;
    const long long percent = static_cast<long long>(limit) * 100 / total;
    bar.SetPosition(static_cast<int>(std::clamp(percent, 0LL, 100LL)));
    WaitLimit = kProgressLimit;
  }
  WaitCount = 1;
  if (TimerProgress) TimerProgress->Start();
  if (text != "0") w_.controls["Lprocess"].SetText(text);
  w_.controls["PageControlMes"].SetIndex(kMesPageProgress);
  w_.controls["MESPANEL"].SetVisible(true);
}

void Transfer::TimerProgressTimer() {
  if (BarSegments == kRunningSegments) {
    ui::Control& bar = w_.controls["ProgressBar2"];
    bar.SetPosition(bar.Position() >= 100 ? 0 : bar.Position() + kRunningStep);
  }
  if (WaitCount != 0 && WaitCount < std::numeric_limits<int32_t>::max()) ++WaitCount;
  if (WaitCount > WaitLimit) {
    w_.link.RemoteOperationPending = false;
    if (InProgress != Exchange::kNone) ExchangeInterrupted();
  }
}

void Transfer::ExchangeInterrupted() {
  if (InProgress == Exchange::kNone) return;
  const char* key = InProgress == Exchange::kRead ? "ReadInterrupted" : "WriteInterrupted";
  InProgress = Exchange::kNone;
  StopWait(w_.messages.GetStringOr("Errors", key, key));
}

void Transfer::ExchangeEnded() {
  InProgress = Exchange::kNone;
  w_.link.RemoteOperationPending = false;
}

void Transfer::EndWait() {
  WaitCount = 0;
  if (TimerProgress) TimerProgress->Stop();
  w_.controls["MESPANEL"].SetVisible(false);
}

void Transfer::StopWait(const std::string& text) {
  EndWait();
  if (text != "0") w_.messages.MessageShow(text);
}

void Transfer::StopWait(int message) {
  EndWait();
  w_.messages.MessageShow(Message(message));
}

void Transfer::ResumeWait() {
  w_.controls["PageControlMes"].SetIndex(kMesPageProgress);
  WaitCount = 1;
}

}  // namespace rlv::config

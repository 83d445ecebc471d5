#include "net/UpdateService.h"

#include <filesystem>
#include <system_error>

#include "app/MainWindow.h"
#include "platform/Paths.h"
#include "ui/Controls.h"
#include "ui/Shell.h"

namespace rlv::net {

namespace {
constexpr int kMsgFileSize = 63;
constexpr int kMsgFile = 99;
constexpr int kMsgSavedTo = 100;
constexpr int kMsgFlashing = 101;
constexpr int kMsgNoNewerFirmware = 115;
constexpr int kMsgReceiving = 117;
constexpr int kMsgReceived = 118;
constexpr int kMsgConnected = 121;
constexpr int kMsgConnecting = 124;
constexpr int kMsgNoSuchFile = 139;

constexpr const char* kNewsMark = "#News#";
constexpr size_t kNewsMarkSize = 6;

void Write(platform::ITcpSocket& socket, const std::string& text) {
  socket.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
  socket.Flush();
}
}  // namespace

UpdateService::UpdateService(app::MainWindow& w) : OwnVersion(app::MainWindow::kVersionText), w_(w) {}

UpdateService::~UpdateService() {
  if (Client1) Client1->Abort();
  if (ClientSocket1) ClientSocket1->Abort();
}

void UpdateService::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  // The offer panel, framed in red, over the bottom of the pages.
  ui::Control& panel = m.Add("Panel32", Kind::Panel, "MainForm");
  panel.SetGeometry({20, 580, 700, 70});
  panel.SetColor(ui::Rgb(255, 0, 0));
  panel.SetVisible(false);
  ui::Control& offer = m.Add("Label430", Kind::Label, "Panel32");
  offer.SetText("Последняя версия прошивки на сервере");
  offer.SetGeometry({8, 4, 380, 17});
  m.Add("Label429", Kind::Label, "Panel32").SetText("Label429");
  m["Label429"].SetGeometry({8, 24, 380, 17});
  ui::Control& radio = m.Add("RzRadioGroup1", Kind::RadioGroup, "Panel32");
  radio.SetText("Выберите действие");
  radio.SetItems({"Загрузить", "Загрузить и обновить"});
  radio.SetIndex(1);
  // Wide enough for the longer choice in either language.
  radio.SetGeometry({396, 2, 210, 64});
  m.Add("Button29", Kind::Button, "Panel32").SetText("Выполнить");
  m["Button29"].SetGeometry({612, 20, 70, 25});
  m.Add("Image4", Kind::Image, "Panel32").SetGeometry({684, 2, 14, 14});
  m.Add("Label431", Kind::Label, "Panel32").SetText("   ");
  m["Label431"].SetGeometry({8, 46, 300, 17});
  ui::Control& bar = m.Add("RzProgressBar3", Kind::ProgressBar, "Panel32");
  bar.SetRange(0, 100);
  bar.SetGeometry({312, 46, 76, 16});
  bar.SetVisible(false);

  // The news panel: a heading, the text, and the box that silences news.
  ui::Control& news = m["NewsPanel"];
  if (news.Geometry().width == 0) news.SetSize(420, 220);
  m.Add("Label73", Kind::Label, "NewsPanel").SetText("News! News! News!");
  m["Label73"].SetBold(true);
  m["Label73"].SetGeometry({8, 6, 300, 17});
  m.Add("NewsCaption", Kind::Label, "NewsPanel").SetGeometry({8, 28, 404, 150});
  m["DisableNews"].SetGeometry({8, 190, 300, 17});
  // Its close mark, as on the other panels.
  m.Add("NewsClose", Kind::Image, "NewsPanel").SetGeometry({400, 4, 14, 14});
}

void UpdateService::BindHandlers() {
  using ui::Event;
  ui::ControlModel& c = w_.controls;
  c.On("Button29", Event::Click, [this](const ui::EventArgs&) { Button29Click(); });
  c.On("Image4", Event::Click, [this](const ui::EventArgs&) { Image4Click(); });
  c.On("NewsClose", Event::Click, [this](const ui::EventArgs&) { NewsCaptionClick(); });
  c.On("NewsCaption", Event::Click, [this](const ui::EventArgs&) { NewsCaptionClick(); });
  c.On("DisableNews", Event::Click, [this](const ui::EventArgs&) { DisableNewsClick(); });
  c.On("Getfirmware", Event::Click, [this](const ui::EventArgs&) { GetfirmwareClick(); });
}

std::string UpdateService::Text(const char* key, const std::string& def) const {
  return w_.messages.GetStringOr("Cloud", key, def);
}

std::string UpdateService::Failure(platform::SocketError error, const std::string& system_text) const {
  return SocketFailureText(error, system_text,
                           [this](const char* key, const std::string& def) { return Text(key, def); });
}

std::string UpdateService::Message(int number) const {
  return w_.messages.GetMessageA(number);
}

size_t UpdateService::ServerCount() const {
  return std::min<size_t>(w_.settings.ServerList.size(), 3);
}

std::string UpdateService::Server(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= ServerCount()) return {};
  return w_.settings.ServerList[static_cast<size_t>(index)];
}

std::string UpdateService::DownloadsPath() const {
  return w_.DataPath(kDownloadsFolder);
}

// ---------------------------------------------------------------------------
// Questions

bool UpdateService::GetConnectToInternet() const {
  if (w_.plat.network == nullptr) return false;
  for (size_t i = 0; i < ServerCount(); ++i) {
    const std::string& server = w_.settings.ServerList[i];
    if (!server.empty() && server != config::WindowSettings::kDefaultServer) return true;
  }
  return false;
}

void UpdateService::GetConfiguratorVersionFromServer() {
  Ask(kQueryConfigurator);
}

void UpdateService::GetFirmwareVersionFromServer() {
  Ask(kQueryFirmware);
}

void UpdateService::GetfirmwareClick() {
  if (!w_.cloud.ServerConfigured()) {
    w_.messages.MessageShow(w_.cloud.NoServerText());
    return;
  }
  GetFirmwareVersionFromServer();
}

void UpdateService::GetNews() {
  Ask(kQueryNews);
}

void UpdateService::Ask(uint8_t query) {
  if (!GetConnectToInternet()) return;
  if (question_pending_ && query != UpdateQuery) {
    waiting_query_ = query;
    return;
  }
  UpdateQuery = query;
  UpdateServerIndex = 0;
  UpdateRetryRequested = false;
  ConnectToServer(Server(0), w_.settings.UpdatePort);
}

bool UpdateService::ConnectToServer(const std::string& host, uint16_t port) {
  CloseClientConnection();
  if (host.empty() || w_.plat.network == nullptr) return false;
  Client1 = w_.plat.network->CreateSocket();
  platform::ITcpSocket& s = *Client1;
  s.SetConnectedHandler([this] { Client1Connect(); });
  s.SetReadyReadHandler([this] { Client1Read(); });
  s.SetErrorHandler(
      [this](platform::SocketError error, const std::string& text) { Client1Error(error, text); });
  s.SetDisconnectedHandler([this] { Client1Disconnect(); });
  question_pending_ = true;
  ++question_generation_;
  // Connecting counts against the answer's time too: a server that never
  // accepts is given up like one that never answers.
  QuestionCountdown = kQuestionSeconds;
  s.ConnectToHost(host, port);
  return true;
}

void UpdateService::SendTextToServer(const std::string& text) {
  if (Client1 && Client1->IsConnected()) Write(*Client1, text);
}

void UpdateService::CloseClientConnection() {
  question_pending_ = false;
  if (Client1) {
    Client1->Abort();
    // A socket is never destroyed inside its own event; this one is replaced
    // only by a new question, from a click or the tick.
  }
}

void UpdateService::Client1Connect() {
  // The question goes a moment after the connection, without holding up the event loop.
  const uint64_t generation = question_generation_;
  std::weak_ptr<int> alive = alive_;
  w_.plat.loop->Post(kQuestionPauseMs, [this, alive, generation] {
    if (!alive.expired()) SendQuestion(generation);
  });
}

void UpdateService::SendQuestion(uint64_t generation) {
  if (generation != question_generation_ || !question_pending_) return;
  switch (UpdateQuery) {
    case kQueryFirmware:
      SendTextToServer("Get_FW,type=" + std::to_string(w_.link.DeviceType));
      break;
    case kQueryConfigurator:
      SendTextToServer("Get_CONFUPD:Vexa#");
      break;
    case kQueryNews:
      SendTextToServer("+++GetNews+++");
      break;
    default:
      return;
  }
  QuestionCountdown = kQuestionSeconds;
}

void UpdateService::Client1Read() {
  if (!Client1) return;
  std::string answer;
  uint8_t buffer[kAnswerMax];
  while (Client1->BytesAvailable() > 0) {
    const int got = Client1->Read(buffer, static_cast<int>(sizeof buffer));
    if (got <= 0) break;
    const size_t room = kAnswerMax - answer.size();
    answer.append(reinterpret_cast<const char*>(buffer), std::min(room, static_cast<size_t>(got)));
  }
  if (!question_pending_) return;
  // The answer is a text: it ends at a NUL byte.
  if (const size_t nul = answer.find('\0'); nul != std::string::npos) answer.resize(nul);
  AnswerText = answer;
  ui::ControlModel& c = w_.controls;
  switch (UpdateQuery) {
    case kQueryFirmware:
      CloseClientConnection();
      QuestionCountdown = 0;
      if (CompareBuildFW(answer)) {
        // An open offer of the configurator is not replaced: this one follows it.
        if (c["Panel32"].Visible() && c["Label430"].Tag() == kOfferConfigurator) {
          QueuedFirmwareOffer = answer;
        } else {
          ShowOffer(kOfferFirmware, answer);
        }
      } else if (c["RzPageControl1"].Index() == ui::Shell::kFirmwarePage) {
        w_.messages.MessageShow(Message(kMsgNoNewerFirmware));
      }
      break;
    case kQueryConfigurator:
      CloseClientConnection();
      QuestionCountdown = 0;
      if (answer.find("RL") != std::string::npos && CompareConfiguratorVersion(answer)) {
        ShowOffer(kOfferConfigurator, answer);
      }
      break;
    case kQueryNews:
      if (answer.find(kNewsMark) != std::string::npos) {
        // The text after the mark, shown as plain text.
        c["NewsCaption"].SetText(answer.size() > kNewsMarkSize ? answer.substr(kNewsMarkSize)
                                                               : std::string());
        c["NewsPanel"].SetVisible(true);
        // The connection is left to the countdown or the server, without its errors.
        question_pending_ = false;
      }
      break;
    default:
      break;
  }
}

void UpdateService::Client1Disconnect() {
  question_pending_ = false;
  QuestionCountdown = 0;
}

void UpdateService::Client1Error(platform::SocketError error, const std::string& system_text) {
  if (!question_pending_) return;
  QuestionCountdown = 0;
  CloseClientConnection();
  ++UpdateServerIndex;
  if (static_cast<size_t>(UpdateServerIndex) < ServerCount()) {
    UpdateRetryRequested = true;
  } else {
    w_.messages.MessageShow("Update Server Error: " + Failure(error, system_text));
  }
}

bool UpdateService::CompareBuildFW(const std::string& name) const {
  // A name that a file request could not carry is never offered.
  if (!IsSafeField(name)) return false;
  const auto offered = ParseFirmwareName(name);
  if (!offered) return false;
  const auto running = w_.monitoring.TrackerBuild();
  return IsNewerFirmware(*offered,
                         FirmwareBuild{running.version, running.build1, running.build2, running.build3});
}

bool UpdateService::CompareConfiguratorVersion(const std::string& name) const {
  return IsSafeField(name) && IsNewerConfigurator(name, OwnVersion);
}

// ---------------------------------------------------------------------------
// The offer and the news

void UpdateService::Image4Click() {
  CloseOffer();
}

void UpdateService::ShowOffer(int tag, const std::string& name) {
  ui::ControlModel& c = w_.controls;
  c["Label429"].SetText(name);
  c["Label430"].SetText(tag == kOfferFirmware
                            ? w_.messages.GetStringOr("Window", "FirmwareOffer", kFirmwareOffer)
                            : w_.messages.GetStringOr("Window", "ConfiguratorOffer", kConfiguratorOffer));
  c["Label430"].SetTag(tag);
  c["Label431"].SetText("   ");
  c["Panel32"].SetVisible(true);
}

void UpdateService::CloseOffer() {
  w_.controls["Panel32"].SetVisible(false);
  if (QueuedFirmwareOffer.empty()) return;
  const std::string next = std::move(QueuedFirmwareOffer);
  QueuedFirmwareOffer.clear();
  ShowOffer(kOfferFirmware, next);
}

void UpdateService::NewsCaptionClick() {
  w_.controls["NewsPanel"].SetVisible(false);
}

void UpdateService::DisableNewsClick() {
  w_.controls["NewsPanel"].SetVisible(false);
}

void UpdateService::ShowProgress(int percent) {
  ui::Control& bar = w_.controls["RzProgressBar3"];
  bar.SetVisible(true);
  bar.SetPosition(percent);
}

void UpdateService::Button29Click() {
  const std::string name = w_.controls["Label429"].Text();
  if (ClientSocket1) ClientSocket1->Abort();
  file_active_ = false;
  FileCountdown = 0;
  if (!IsSafeField(name)) {
    FileFailed(Text("BadName", "сервер назвал недопустимое имя файла"));
    return;
  }
  const std::string host = Server(UpdateServerIndex);
  if (host.empty() || w_.plat.network == nullptr) return;
  ClientSocket1 = w_.plat.network->CreateSocket();
  platform::ITcpSocket& s = *ClientSocket1;
  s.SetConnectedHandler([this] { ClientSocket1Connect(); });
  s.SetReadyReadHandler([this] { ClientSocket1Read(); });
  s.SetErrorHandler(
      [this](platform::SocketError error, const std::string& text) { ClientSocket1Error(error, text); });
  s.SetDisconnectedHandler([this] { ClientSocket1Disconnect(); });
  File.Reset();
  file_active_ = true;
  FileCountdown = kQuestionSeconds;
  w_.controls["Label431"].SetText(Message(kMsgConnecting));
  s.ConnectToHost(host, w_.settings.UpdatePort);
}

void UpdateService::ClientSocket1Connect() {
  File.Reset();
  w_.controls["Label431"].SetText(Message(kMsgConnected));
  Write(*ClientSocket1, "GetFile=" + w_.controls["Label429"].Text() + "#");
  FileCountdown = kQuestionSeconds;
}

void UpdateService::ClientSocket1Read() {
  uint8_t buffer[kFileReadMax];
  while (file_active_ && ClientSocket1 && ClientSocket1->BytesAvailable() > 0) {
    const int got = ClientSocket1->Read(buffer, static_cast<int>(sizeof buffer));
    if (got <= 0) break;
    FileCountdown = kQuestionSeconds;
    const FileReceiver::Result r = File.Feed(buffer, static_cast<size_t>(got));
    if (r.header) {
      const auto name = SafeFileName(File.Name());
      if (!name) {
        FileFailed(Text("BadName", "сервер назвал недопустимое имя файла"));
        return;
      }
      DownloadFileName = *name;
      w_.controls["Label431"].SetText(Message(kMsgFileSize) + " " + std::to_string(File.Expected()));
    }
    if (r.progress) {
      w_.controls["Label431"].SetText(Message(kMsgReceiving));
      ShowProgress(File.Percent());
    }
    if (r.complete) {
      FinishFile();
      return;
    }
    if (r.not_exists) {
      file_active_ = false;
      FileCountdown = 0;
      w_.messages.MessageShow(Message(kMsgNoSuchFile));
      ClientSocket1->Close();
      CloseOffer();
      return;
    }
    if (r.error == FileReceiver::Error::kBadHeader) {
      FileFailed(Text("BadHeader", "ответ сервера не по протоколу"));
      return;
    }
    if (r.error == FileReceiver::Error::kBadSize) {
      FileFailed(Text("BadSize", "сервер объявил недопустимый размер файла"));
      return;
    }
  }
}

void UpdateService::FileFailed(const std::string& text) {
  file_active_ = false;
  FileCountdown = 0;
  if (ClientSocket1) ClientSocket1->Abort();
  w_.controls["Label431"].SetText(text);
  w_.messages.MessageShow(text);
}

void UpdateService::FinishFile() {
  file_active_ = false;
  FileCountdown = 0;
  Write(*ClientSocket1, "EndTransfer");
  ClientSocket1->Close();
  const std::vector<uint8_t> body = File.TakeBody();
  // Only inside "Downloads", under the bare name the header gave, written to
  // a temporary file first and renamed when complete.
  const std::string folder = DownloadsPath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
  const std::string path = platform::JoinPath(folder, DownloadFileName);
  std::string why;
  if (!w_.Files().Replace(path, body, &why)) {
    FileFailed(Text("SaveFailed", "Не удалось сохранить файл") + ": " + path +
               (why.empty() ? "" : " (" + why + ")"));
    return;
  }
  SavedPath = path;
  ui::ControlModel& c = w_.controls;
  c["Label431"].SetText(Message(kMsgReceived));
  const int offer = c["Label430"].Tag();
  if (c["RzRadioGroup1"].Index() != 1) {
    w_.messages.MessageShow(Message(kMsgFile) + " " + DownloadFileName + " " + Message(kMsgSavedTo) + " " +
                            folder);
  } else if (offer == kOfferFirmware) {
    w_.shell.SelectPage(ui::Shell::kFirmwarePage);
    // Flashed only when it passes the image check; the check's own message stays otherwise.
    if (w_.firmware.OpenFWFileSTM(path)) {
      w_.firmware.Program_flashClick();
      w_.messages.MessageShow(Message(kMsgFlashing));
    }
  } else {
    // A build that came over plain TCP is never started: the engineer starts it.
    w_.messages.MessageShow(Text("NotStarted", "Новая версия конфигуратора сохранена; запустите ее сами:") +
                            " " + path);
  }
  CloseOffer();
}

void UpdateService::ClientSocket1Error(platform::SocketError error, const std::string& system_text) {
  if (!file_active_) return;
  file_active_ = false;
  FileCountdown = 0;
  if (ClientSocket1) ClientSocket1->Abort();
  w_.messages.MessageShow("Error download server " + Failure(error, system_text));
}

void UpdateService::ClientSocket1Disconnect() {
  if (file_active_) FileFailed(Text("ClosedEarly", "сервер закрыл соединение до конца передачи"));
}

// ---------------------------------------------------------------------------
// The 1-second tick

void UpdateService::Tick() {
  if (UpdateRetryRequested) {
    UpdateRetryRequested = false;
    ConnectToServer(Server(UpdateServerIndex), w_.settings.UpdatePort);
  }
  if (waiting_query_ != 0 && !question_pending_ && !UpdateRetryRequested) {
    const uint8_t query = waiting_query_;
    waiting_query_ = 0;
    Ask(query);
  }
  if (FileCountdown != 0 && --FileCountdown == 0) {
    file_active_ = false;
    if (ClientSocket1) ClientSocket1->Abort();
    w_.controls["Label431"].SetText(w_.messages.GetStringOr("Window", "NoAnswer", kNoAnswer));
  }
  if (QuestionCountdown != 0 && --QuestionCountdown == 0) CloseClientConnection();
  if (!w_.controls["DisableNews"].Checked() && NewsCountdown != 0 && --NewsCountdown == 0) GetNews();
}

}  // namespace rlv::net

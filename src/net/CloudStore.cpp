#include "net/CloudStore.h"

#include <algorithm>
#include <iterator>

#include "app/MainWindow.h"
#include "config/ConfigFile.h"
#include "ui/Controls.h"

namespace rlv::net {

namespace {
constexpr int kMsgConnected = 15;
constexpr int kMsgCannotOpen = 45;
constexpr int kMsgCannotSave = 46;
constexpr int kMsgFileSize = 63;
constexpr int kMsgTempFile = 103;
constexpr int kMsgNotStored = 116;
constexpr int kMsgReceiving = 117;
constexpr int kMsgReceived = 118;
constexpr int kMsgStoredOn = 119;
constexpr int kMsgNotConfigFile = 126;
constexpr int kMsgDownloaded = 129;

constexpr const char* kEndTransfer = "EndTransfer";
// Enough of what a store answered to find "EndTransfer" split over two reads.
constexpr size_t kAnswerTail = 64;

int Code(platform::SocketError error) {
  return static_cast<int>(error);
}
}  // namespace

CloudStore::CloudStore(app::MainWindow& w) : w_(w) {}

CloudStore::~CloudStore() {
  for (UploadSlot& slot : Slots) {
    if (slot.connection) slot.connection->Abort();
  }
  if (DownloadConfigFileServer) DownloadConfigFileServer->Abort();
}

void CloudStore::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  m.Add("RzGroupBox7", Kind::GroupBox, "TabSheet13").SetText("Облако конфигураций");
  m["RzGroupBox7"].SetGeometry({8, 150, 650, 390});
  m["Label39"].SetGeometry({24, 176, 40, 17});
  m["IMEICLOUD"].SetGeometry({70, 172, 160, 21});
  m.Add("UploadConfigButton", Kind::Button, "TabSheet13").SetText("Отправить конфигурацию в \"Облако\"");
  m.Add("DownloadConfigButton", Kind::Button, "TabSheet13").SetText("Загрузить конфигурацию из \"Облако\"");
  m.Add("UploadListIMEIButton", Kind::Button, "TabSheet13")
      .SetText("Отправить список конфигураций в \"Облако\"");
  m["UploadConfigButton"].SetGeometry({250, 170, 380, 25});
  m["DownloadConfigButton"].SetGeometry({250, 202, 380, 25});
  m["UploadListIMEIButton"].SetGeometry({250, 234, 380, 25});
  m.Add("Memo8", Kind::Memo, "TabSheet13").SetGeometry({24, 204, 206, 300});
  ui::Control& counter = m.Add("Label40", Kind::Label, "TabSheet13");
  counter.SetText("0/0");
  counter.SetGeometry({250, 270, 380, 17});
  m["AutoSendConfig"].SetGeometry({250, 300, 390, 34});
  m.Add("CloudServers", Kind::Label, "TabSheet13").SetGeometry({250, 340, 390, 51});
  // The trace of the store connections, never shown.
  m.Add("Memo7", Kind::Memo, "TabSheet13").SetVisible(false);
}

void CloudStore::BindHandlers() {
  using ui::Event;
  ui::ControlModel& c = w_.controls;
  c.On("UploadConfigButton", Event::Click, [this](const ui::EventArgs&) { UploadConfigButtonClick(); });
  c.On("UploadListIMEIButton", Event::Click, [this](const ui::EventArgs&) { UploadListIMEIButtonClick(); });
  c.On("DownloadConfigButton", Event::Click, [this](const ui::EventArgs&) { DownloadConfigButtonClick(); });
}

// ---------------------------------------------------------------------------
// Helpers

std::vector<std::string> CloudStore::Servers() const {
  std::vector<std::string> servers = w_.settings.ServerList;
  if (servers.size() > kMaxServers) servers.resize(kMaxServers);
  return servers;
}

std::string CloudStore::Text(const char* key, const std::string& def) const {
  return w_.messages.GetStringOr("Cloud", key, def);
}

std::string CloudStore::Failure(platform::SocketError error, const std::string& system_text) const {
  return SocketFailureText(error, system_text,
                           [this](const char* key, const std::string& def) { return Text(key, def); });
}

void CloudStore::Trace(const std::string& line) {
  ui::Control& memo = w_.controls["Memo7"];
  if (memo.Lines().size() >= kMaxTraceLines) {
    std::vector<std::string> kept(memo.Lines().end() - (kMaxTraceLines / 2), memo.Lines().end());
    memo.SetItems(std::move(kept));
  }
  memo.AddLine(line);
}

void CloudStore::Show(const std::string& text) {
  w_.messages.MessageShow(text);
}

std::string CloudStore::CheckImei(const std::string& imei) const {
  if (IsSafeField(imei)) return {};
  return Text("BadImei", "IMEI содержит недопустимые символы (#, перевод строки или управляющие)");
}

// ---------------------------------------------------------------------------
// Upload

bool CloudStore::ServerConfigured() const {
  const std::vector<std::string> servers = Servers();
  return std::any_of(servers.begin(), servers.end(), [](const std::string& server) {
    return !server.empty() && server != config::WindowSettings::kDefaultServer;
  });
}

std::string CloudStore::NoServerText() const {
  return w_.messages.GetStringOr("Window", "NoServer",
                                 "не задан сервер: укажите ServerAdr в config.ini [Address]");
}

void CloudStore::RenderServers() {
  std::string servers;
  for (const std::string& server : Servers()) {
    if (server.empty() || server == config::WindowSettings::kDefaultServer) continue;
    servers += (servers.empty() ? "" : ", ") + server;
  }
  const ui::Messages& m = w_.messages;
  std::string text =
      m.GetStringOr("Window", "OwnServers", "Серверы конфигуратора (config.ini [Address]):") + " ";
  if (servers.empty()) {
    text += NoServerText();
  } else {
    text += servers + "; " + m.GetStringOr("Window", "StorePort", "порт облака") + " " +
            std::to_string(w_.settings.ConfigPort) + ", " +
            m.GetStringOr("Window", "UpdatePort", "порт обновлений") + " " +
            std::to_string(w_.settings.UpdatePort);
  }
  w_.controls["CloudServers"].SetText(text);
}

bool CloudStore::TakeImeiField() {
  const std::string imei = w_.controls["IMEICLOUD"].Text();
  if (imei.empty()) {
    Show(w_.messages.GetStringOr("Window", "EmptyInput", kEmptyInput));
    return false;
  }
  if (const std::string bad = CheckImei(imei); !bad.empty()) {
    Show(bad + ": " + imei);
    return false;
  }
  CloudImei = imei;
  return true;
}

void CloudStore::UploadConfigButtonClick() {
  if (!ServerConfigured()) {
    Show(NoServerText());
    return;
  }
  if (TakeImeiField()) UploadConfigConnect();
}

void CloudStore::UploadListIMEIButtonClick() {
  if (!ServerConfigured()) {
    Show(NoServerText());
    return;
  }
  ui::Control& memo = w_.controls["Memo8"];
  if (memo.Lines().empty()) {
    Show(w_.messages.GetStringOr("Window", "EmptyInput", kEmptyInput));
    return;
  }
  std::vector<std::string> lines;
  std::copy_if(memo.Lines().begin(), memo.Lines().end(), std::back_inserter(lines),
               [](const std::string& line) { return !line.empty(); });
  memo.SetItems(lines);
  if (lines.empty()) {
    Show(w_.messages.GetStringOr("Window", "EmptyInput", kEmptyInput));
    return;
  }
  // Every IMEI is checked before the first is sent: a list never stops halfway for a typing error.
  for (const std::string& line : lines) {
    if (const std::string bad = CheckImei(line); !bad.empty()) {
      Show(bad + ": " + line);
      return;
    }
  }
  for (UploadSlot& slot : Slots) {
    slot.ListActive = true;
    slot.ListIndex = 0;
  }
  CloudImei = lines[0];
  UploadConfigConnect();
}

void CloudStore::UploadConfigConnect() {
  const auto stop_lists = [this] {
    for (UploadSlot& slot : Slots) slot.ListActive = false;
  };
  // A configuration whose fields do not convert is never uploaded: the
  // conversion error is what the engineer sees.
  switch (w_.transfer.WriteConfigFile(kTempFile)) {
    case config::Transfer::SaveResult::kNotBuilt:
      stop_lists();
      return;
    case config::Transfer::SaveResult::kWriteFailed:
      stop_lists();
      Show(w_.transfer.FileMessage(kMsgTempFile, w_.DataPath(kTempFile)));
      return;
    case config::Transfer::SaveResult::kSaved:
      break;
  }
  std::string why;
  auto image = w_.Files().Read(w_.DataPath(kTempFile), kMaxStoreFile, &why);
  if (!image) {
    stop_lists();
    Show(w_.messages.GetMessageA(kMsgTempFile) + ": " + w_.DataPath(kTempFile) +
         (why.empty() ? "" : " (" + why + ")"));
    return;
  }
  UploadImage = std::move(*image);
  const std::vector<std::string> servers = Servers();
  for (size_t i = 0; i < Slots.size(); ++i) {
    if (i >= servers.size()) {
      Slots[i].ListActive = false;
      continue;
    }
    Slots[i].Imei = CloudImei;
    OpenSlot(i);
  }
}

void CloudStore::OpenSlot(size_t i) {
  UploadSlot& slot = Slots[i];
  const std::vector<std::string> servers = Servers();
  if (slot.connection) {
    slot.connection->Abort();
    slot.connection.reset();
  }
  slot.Stored = false;
  slot.Ended = false;
  slot.Unsent = 0;
  slot.Answer.clear();
  ++slot.Generation;
  slot.Countdown = 0;
  if (i >= servers.size()) return;
  slot.Host = servers[i];
  if (w_.plat.network == nullptr) {
    UploadFailed(i, Text("NoNetwork", "сеть недоступна"));
    return;
  }
  if (const std::string bad = CheckImei(slot.Imei); !bad.empty()) {
    UploadFailed(i, bad + ": " + slot.Imei);
    return;
  }
  slot.connection = w_.plat.network->CreateSocket();
  platform::ITcpSocket& s = *slot.connection;
  s.SetConnectedHandler([this, i] { UploadConnect(i); });
  s.SetReadyReadHandler([this, i] { UploadRead(i); });
  s.SetErrorHandler(
      [this, i](platform::SocketError error, const std::string& text) { UploadError(i, error, text); });
  s.SetDisconnectedHandler([this, i] { UploadDisconnect(i); });
  s.SetBytesWrittenHandler([this, i](int64_t count) { Slots[i].Unsent -= count; });
  slot.Countdown = kTransferTimeout;
  s.ConnectToHost(slot.Host, w_.settings.ConfigPort);
}

std::string CloudStore::SlotAddress(size_t i) const {
  const UploadSlot& slot = Slots[i];
  std::string address = slot.connection ? slot.connection->PeerAddress() : std::string();
  return address.empty() ? slot.Host : address;
}

void CloudStore::UploadConnect(size_t i) {
  UploadSlot& slot = Slots[i];
  Trace("Socket " + SlotAddress(i) + " connected");
  const std::string header = "file#" + slot.Imei + "#" + std::to_string(UploadImage.size()) + "#";
  slot.Unsent = static_cast<int64_t>(header.size() + UploadImage.size());
  slot.connection->Write(reinterpret_cast<const uint8_t*>(header.data()), static_cast<int>(header.size()));
  slot.connection->Flush();
  slot.Countdown = kTransferTimeout;
  // The header must reach the store in a read of its own: the file follows
  // after a pause, without holding up the event loop meanwhile.
  const uint64_t generation = slot.Generation;
  std::weak_ptr<int> alive = alive_;
  w_.plat.loop->Post(kHeaderPauseMs, [this, alive, i, generation] {
    if (!alive.expired()) SendUploadImage(i, generation);
  });
}

void CloudStore::SendUploadImage(size_t i, uint64_t generation) {
  UploadSlot& slot = Slots[i];
  if (slot.Generation != generation || slot.Ended || !slot.connection || !slot.connection->IsConnected())
    return;
  slot.connection->Write(UploadImage.data(), static_cast<int>(UploadImage.size()));
  slot.connection->Flush();
  slot.Countdown = kTransferTimeout;
  Trace("Socket " + SlotAddress(i) + " send file " + slot.Imei);
}

void CloudStore::UploadRead(size_t i) {
  UploadSlot& slot = Slots[i];
  Trace("Socket " + SlotAddress(i) + " read");
  uint8_t buffer[kUploadReadMax];
  while (slot.connection && slot.connection->BytesAvailable() > 0) {
    const int got = slot.connection->Read(buffer, static_cast<int>(sizeof buffer));
    if (got <= 0) break;
    slot.Answer.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
    if (slot.Stored || slot.Ended) continue;
    slot.Countdown = kTransferTimeout;
    if (slot.Answer.find(kEndTransfer) != std::string::npos) {
      // A confirmation of a file that was not yet all sent confirms nothing.
      if (slot.Unsent > 0) {
        Trace("Socket " + SlotAddress(i) + " confirmed before the file was sent");
        UploadFailed(i, Text("EarlyConfirmation", "сервер подтвердил прием до отправки всего файла"));
        slot.connection->Abort();
        return;
      }
      slot.Stored = true;
      slot.Countdown = 0;
      Trace("");
      Trace(slot.Imei + " " + w_.messages.GetMessageA(kMsgStoredOn) + " " + SlotAddress(i));
      Trace("");
      slot.connection->Close();
    }
    if (slot.Answer.size() > kAnswerTail) slot.Answer.erase(0, slot.Answer.size() - kAnswerTail);
  }
}

void CloudStore::UploadError(size_t i, platform::SocketError error, const std::string& system_text) {
  UploadSlot& slot = Slots[i];
  Trace("Socket " + slot.Host + " error " + std::to_string(Code(error)));
  if (slot.Ended) return;
  // The store confirmed before the connection broke: the closed event decides.
  if (slot.Stored) return;
  UploadFailed(i, "error " + Failure(error, system_text));
  if (slot.connection) slot.connection->Abort();
}

void CloudStore::UploadFailed(size_t i, const std::string& why) {
  UploadSlot& slot = Slots[i];
  slot.Ended = true;
  slot.Countdown = 0;
  StopList(i);
  Show(Text("UploadFailed", "Конфигурация не выгружена на сервер") + " " + slot.Host + " (IMEI " + slot.Imei +
       "): " + why);
}

void CloudStore::StopList(size_t i) {
  UploadSlot& slot = Slots[i];
  if (slot.ListActive) {
    Trace(kListStopped);
    slot.ListActive = false;
  }
  if (i == 0) w_.controls["Label40"].SetText("");
}

void CloudStore::UploadDisconnect(size_t i) {
  UploadSlot& slot = Slots[i];
  Trace("Socket " + SlotAddress(i) + " disconnected");
  if (slot.Ended) return;
  if (!slot.Stored) {
    UploadFailed(i, Text("NotConfirmed", "сервер закрыл соединение, не подтвердив прием"));
    return;
  }
  slot.Ended = true;
  slot.Countdown = 0;
  if (!slot.ListActive) {
    Show(w_.messages.GetStringOr("Window", "Uploaded", kUploaded));
    return;
  }
  const std::vector<std::string>& lines = w_.controls["Memo8"].Lines();
  const auto count = static_cast<int32_t>(lines.size());
  if (slot.ListIndex < count) {
    ++slot.ListIndex;
    slot.Imei = slot.ListIndex < count ? lines[static_cast<size_t>(slot.ListIndex)] : std::string();
    if (!slot.Imei.empty()) {
      if (i == 0)
        w_.controls["Label40"].SetText(std::to_string(slot.ListIndex) + "/" + std::to_string(count));
      slot.ReconnectRequested = true;
      return;
    }
  }
  slot.ListActive = false;
  if (i == 0) w_.controls["Label40"].SetText("");
  Show(w_.messages.GetStringOr("Window", "Uploaded", kUploaded));
}

// ---------------------------------------------------------------------------
// Download

void CloudStore::DownloadConfigButtonClick() {
  if (!ServerConfigured()) {
    Show(NoServerText());
    return;
  }
  if (!TakeImeiField()) return;
  DownloadServerIndex = 0;
  DownloadRetryRequested = false;
  DownloadConfigConnect();
}

std::string CloudStore::DownloadHost() const {
  const std::vector<std::string> servers = Servers();
  return DownloadServerIndex >= 0 && static_cast<size_t>(DownloadServerIndex) < servers.size()
             ? servers[static_cast<size_t>(DownloadServerIndex)]
             : std::string();
}

void CloudStore::DownloadConfigConnect() {
  if (DownloadConfigFileServer) {
    DownloadConfigFileServer->Abort();
    DownloadConfigFileServer.reset();
  }
  Download.Reset();
  download_active_ = false;
  DownloadCountdown = 0;
  const std::string host = DownloadHost();
  if (host.empty()) return;
  if (w_.plat.network == nullptr) {
    Show(Text("NoNetwork", "сеть недоступна"));
    return;
  }
  DownloadConfigFileServer = w_.plat.network->CreateSocket();
  platform::ITcpSocket& s = *DownloadConfigFileServer;
  s.SetConnectedHandler([this] { DownloadConfigFileServerConnect(); });
  s.SetReadyReadHandler([this] { DownloadConfigFileServerRead(); });
  s.SetErrorHandler([this](platform::SocketError error, const std::string& text) {
    DownloadConfigFileServerError(error, text);
  });
  s.SetDisconnectedHandler([this] { DownloadConfigFileServerDisconnect(); });
  download_active_ = true;
  DownloadCountdown = kTransferTimeout;
  s.ConnectToHost(host, w_.settings.ConfigPort);
}

void CloudStore::DownloadConfigFileServerConnect() {
  Download.Reset();
  DownloadCountdown = kTransferTimeout;
  w_.controls["Label40"].SetText(w_.messages.GetMessageA(kMsgConnected));
  const std::string request = "download#" + CloudImei + "#";
  DownloadConfigFileServer->Write(reinterpret_cast<const uint8_t*>(request.data()),
                                  static_cast<int>(request.size()));
  DownloadConfigFileServer->Flush();
  const std::string address = DownloadConfigFileServer->PeerAddress();
  Trace("Socket " + address + " connected");
  Trace("Socket " + address + " receiving file ");
}

void CloudStore::DownloadConfigFileServerRead() {
  uint8_t buffer[kDownloadReadMax];
  while (download_active_ && DownloadConfigFileServer && DownloadConfigFileServer->BytesAvailable() > 0) {
    const int got = DownloadConfigFileServer->Read(buffer, static_cast<int>(sizeof buffer));
    if (got <= 0) break;
    DownloadCountdown = kTransferTimeout;
    const FileReceiver::Result r = Download.Feed(buffer, static_cast<size_t>(got));
    if (r.header) {
      w_.controls["Label40"].SetText(w_.messages.GetMessageA(kMsgFileSize) + " " +
                                     std::to_string(Download.Expected()));
    }
    if (r.progress) w_.controls["Label40"].SetText(w_.messages.GetMessageA(kMsgReceiving));
    if (r.complete) {
      DownloadComplete();
      return;
    }
    if (r.not_exists) {
      download_active_ = false;
      DownloadCountdown = 0;
      Show(w_.messages.GetMessageA(kMsgNotStored));
      DownloadConfigFileServer->Close();
      return;
    }
    if (r.error == FileReceiver::Error::kBadHeader) {
      DownloadFailed(Text("BadHeader", "ответ сервера не по протоколу"));
      return;
    }
    if (r.error == FileReceiver::Error::kBadSize) {
      DownloadFailed(Text("BadSize", "сервер объявил недопустимый размер файла"));
      return;
    }
  }
}

void CloudStore::DownloadComplete() {
  download_active_ = false;
  DownloadCountdown = 0;
  const std::string done = "endtransfer#";
  DownloadConfigFileServer->Write(reinterpret_cast<const uint8_t*>(done.data()),
                                  static_cast<int>(done.size()));
  DownloadConfigFileServer->Close();
  const std::vector<uint8_t> file = Download.TakeBody();
  // Only a configuration file is written and opened.
  config::Block block1 = w_.config.ConfigBlock1, block2 = w_.config.ConfigBlock2;
  if (config::ApplyConfigFile(file, block1, block2) != config::FileVerdict::kLoaded) {
    Show(w_.messages.GetMessageA(kMsgNotConfigFile));
    return;
  }
  const std::string path = w_.DataPath(kTempFile);
  std::string why;
  if (!w_.Files().Replace(path, file, &why)) {
    Show(w_.messages.GetMessageA(kMsgCannotSave) + ": " + path + (why.empty() ? "" : " (" + why + ")"));
    return;
  }
  w_.controls["Label40"].SetText(w_.messages.GetMessageA(kMsgReceived));
  if (!w_.transfer.OpenFromFile(kTempFile)) {
    Show(w_.transfer.FileMessage(kMsgCannotOpen, path));
    return;
  }
  Show(w_.messages.GetMessageA(kMsgDownloaded));
}

void CloudStore::DownloadFailed(const std::string& why) {
  NextDownloadServer(Text("DownloadFailed", "Конфигурация не загружена с сервера") + " " + DownloadHost() +
                     ": " + why);
}

void CloudStore::NextDownloadServer(const std::string& message) {
  download_active_ = false;
  DownloadCountdown = 0;
  if (DownloadConfigFileServer) DownloadConfigFileServer->Abort();
  Show(message);
  ++DownloadServerIndex;
  if (static_cast<size_t>(DownloadServerIndex) < Servers().size()) DownloadRetryRequested = true;
}

void CloudStore::DownloadConfigFileServerError(platform::SocketError error, const std::string& system_text) {
  Trace("Socket " + DownloadHost() + " error " + std::to_string(Code(error)));
  if (download_active_) NextDownloadServer("Error download server " + Failure(error, system_text));
}

void CloudStore::DownloadConfigFileServerDisconnect() {
  // A store that hangs up before the whole file has come has not delivered it.
  if (download_active_) DownloadFailed(Text("ClosedEarly", "сервер закрыл соединение до конца передачи"));
}

// ---------------------------------------------------------------------------
// The 1-second tick

void CloudStore::Tick() {
  for (size_t i = 0; i < Slots.size(); ++i) {
    if (!Slots[i].ReconnectRequested) continue;
    Slots[i].ReconnectRequested = false;
    OpenSlot(i);
  }
  if (DownloadRetryRequested) {
    DownloadRetryRequested = false;
    DownloadConfigConnect();
  }
  for (size_t i = 0; i < Slots.size(); ++i) {
    UploadSlot& slot = Slots[i];
    if (slot.Countdown == 0 || slot.Ended || slot.Stored) continue;
    if (--slot.Countdown == 0) {
      Trace("Socket " + SlotAddress(i) + " timeout");
      UploadFailed(i, Text("NoAnswer", "сервер не отвечает"));
      if (slot.connection) slot.connection->Abort();
    }
  }
  if (download_active_ && DownloadCountdown > 0 && --DownloadCountdown == 0) {
    DownloadFailed(Text("NoAnswer", "сервер не отвечает"));
  }
}

}  // namespace rlv::net

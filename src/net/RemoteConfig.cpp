#include "net/RemoteConfig.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/MainWindow.h"
#include "link/Bytes.h"
#include "link/Codepage.h"

namespace rlv::net {

namespace {

constexpr int kMsgListening = 40;
constexpr int kMsgConnected = 121;
constexpr int kMsgUsbTracker = 135;
constexpr int kMsgClosedByPeer = 136;
constexpr int kMsgReset = 137;
constexpr int kMsgPortClosed = 138;
constexpr uint16_t kDefaultPort = 12500;

constexpr const char* kMagic = "SLRL";

}  // namespace

std::vector<std::string> SplitAddressList(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ';' || c == ' ' || c == '\t') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return out;
}

RemoteConfig::RemoteConfig(app::MainWindow& w) : w_(w) {
  read_step_ = w_.gate.Add([this] { ConfServerClientRead(); });
}

RemoteConfig::~RemoteConfig() {
  if (peer_) peer_->Abort();
  if (ConfServer) ConfServer->Close();
}

void RemoteConfig::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  m.Add("RzGroupBox5", Kind::GroupBox, "TabSheet12").SetText("Удаленное конфигурирование (параметры)");
  m["RzGroupBox5"].SetGeometry({8, 8, 520, 96});
  m.Add("Label35", Kind::Label, "RzGroupBox5").SetText("Локальный порт");
  m["Label35"].SetGeometry({16, 28, 110, 17});
  ui::Control& port = m.Add("RconfPort", Kind::Edit, "RzGroupBox5");
  port.SetText(std::to_string(kDefaultPort));
  port.SetMaxLength(5);
  port.SetDigitsOnly(true);
  port.SetGeometry({130, 24, 80, 21});
  m.Add("Button1", Kind::Button, "RzGroupBox5").SetText("Открыть порт");
  m["Button1"].SetGeometry({224, 22, 140, 25});
  ui::Control& state = m.Add("ConfServState", Kind::Label, "RzGroupBox5");
  state.SetText("Порт закрыт");
  state.SetBold(true);
  state.SetGeometry({16, 60, 490, 17});
  // The test SMS button sits beside the dispatcher's number on the first page.
  if (m.Find("Button21") == nullptr) m.Add("Button21", Kind::Button, "RzGroupBox1").SetText("Test SMS");
}

void RemoteConfig::BindHandlers() {
  using ui::Event;
  ui::ControlModel& c = w_.controls;
  c.On("Button1", Event::Click, [this](const ui::EventArgs&) { Button1Click(); });
  c.On("SENDTESTPACK", Event::Click, [this](const ui::EventArgs&) { SENDTESTPACKClick(); });
  c.On("Button21", Event::Click, [this](const ui::EventArgs&) { Button21Click(); });
}

std::string RemoteConfig::Text(const char* key, const char* fallback) const {
  return w_.messages.GetStringOr("Errors", key, fallback);
}

bool RemoteConfig::Listening() const {
  return ConfServer && ConfServer->IsListening();
}

uint16_t RemoteConfig::ListeningPort() const {
  return Listening() ? ConfServer->Port() : 0;
}

// ---------------------------------------------------------------------------
// Opening and closing

void RemoteConfig::Button1Click() {
  ui::Control& button = w_.controls["Button1"];
  if (button.Tag() == 1) {
    StopConfigServer();
    return;
  }
  if (w_.link.DevicePresent) {
    w_.messages.MessageShow(w_.messages.GetMessageA(kMsgUsbTracker));
    return;
  }
  if (w_.plat.network == nullptr) {
    w_.ReportProblem(Text("RemoteNoNetwork", "Сеть недоступна//\\ No network"));
    return;
  }
  // The field takes digits only; what does not fit a port number opens nothing.
  const std::string text = w_.controls["RconfPort"].Text();
  long long port = 0;
  if (!text.empty()) port = platform::ParseInteger(text).value_or(-1);
  if (port < 0 || port > 65535) {
    w_.ReportProblem(Text("RemoteBadPort", "Неверный номер порта//\\ Invalid port number") + ": " + text);
    return;
  }
  ConfServer = w_.plat.network->CreateServer();
  ConfServer->SetNewConnectionHandler(
      [this](std::unique_ptr<platform::ITcpSocket> socket) { ConfServerClientConnect(std::move(socket)); });
  if (!ConfServer->Listen(ListenAddress, static_cast<uint16_t>(port))) {
    const std::string where =
        (ListenAddress.empty() ? std::string("*") : ListenAddress) + ":" + std::to_string(port);
    w_.ReportProblem(Text("RemoteListenFailed", "Не удалось открыть порт//\\ Could not open the port") + " " +
                     where + " (" + ConfServer->LastError() + ")");
    ConfServer.reset();
    return;
  }
  button.SetTag(1);
  button.SetText(w_.messages.GetString("Strings", "Str54"));
  ShowServerState(kMsgListening);
  w_.discovery.SetSearching(false);
  w_.discovery.SetStatusLine("Remote config: wait ...");
  WriteRemoteLog("Порт открыт: " + (ListenAddress.empty() ? std::string("*") : ListenAddress) + ":" +
                 std::to_string(ConfServer->Port()));
}

void RemoteConfig::ShowServerState(int message, const std::string& suffix) {
  state_message_ = message;
  state_suffix_ = suffix;
  w_.controls["ConfServState"].SetText(w_.messages.GetMessageA(message) + suffix);
}

void RemoteConfig::RenderServerState() {
  ui::Control& button = w_.controls["Button1"];
  button.SetText(w_.messages.GetString("Strings", button.Tag() == 1 ? "Str54" : "Str3"));
  ShowServerState(state_message_, state_suffix_);
}

void RemoteConfig::StopConfigServer() {
  link::LinkState& s = w_.link;
  const bool tracker = s.RemoteTunnelOpen && s.Connected;
  RetireSockets();
  pending_.clear();
  pending_ticks_ = 0;
  silent_seconds_ = 0;
  ui::Control& button = w_.controls["Button1"];
  button.SetTag(0);
  button.SetText(w_.messages.GetString("Strings", "Str3"));
  ShowServerState(kMsgPortClosed);
  s.RemoteModeActive = false;
  s.RemoteTunnelOpen = false;
  s.RemoteIdentifyCountdown = 0;
  // A read or write that was waiting can no longer finish; polls of the next
  // connection must not stay suspended by it.
  s.RemoteOperationPending = false;
  if (s.FlashInProgress && !s.DevicePresent) {
    s.FlashInProgress = false;
    s.FlashTimeout = 0;
  }
  if (tracker) {
    // The remote tracker is gone as if its port had closed.
    w_.discovery.ClosePortConnection();
  } else {
    w_.discovery.SetSearching(true);
  }
}

// ---------------------------------------------------------------------------
// Connection events

bool RemoteConfig::PeerAllowed(const std::string& address) const {
  if (AllowedPeers.empty()) return true;
  return std::find(AllowedPeers.begin(), AllowedPeers.end(), address) != AllowedPeers.end();
}

void RemoteConfig::ConfServerClientConnect(std::unique_ptr<platform::ITcpSocket> socket) {
  if (!socket) return;
  const std::string address = socket->PeerAddress();
  if (!PeerAllowed(address)) {
    socket->Abort();
    WriteRemoteLog("Подключение отклонено (адрес не разрешен), IP:" + address);
    return;
  }
  if (peer_ && peer_->IsConnected()) {
    socket->Abort();
    WriteRemoteLog("Подключение отклонено (трекер уже подключен, IP:" + w_.link.RemotePeerAddress +
                   "), IP:" + address);
    return;
  }
  if (peer_) {
    peer_->Abort();
    retired_peer_ = std::move(peer_);
  }
  peer_ = std::move(socket);
  pending_.clear();
  pending_ticks_ = 0;
  silent_seconds_ = 0;
  peer_->SetReadyReadHandler([this] {
    // The peer is heard when its bytes arrive, even while a dialog holds
    // their reading back.
    silent_seconds_ = 0;
    w_.gate.Run(read_step_);
  });
  peer_->SetDisconnectedHandler([this] { ConfServerClientDisconnect(); });
  peer_->SetErrorHandler(
      [this](platform::SocketError error, const std::string&) { ConfServerClientError(error); });

  link::LinkState& s = w_.link;
  s.RemotePeerAddress = address;
  ShowServerState(kMsgConnected, ", IP:" + address);
  WriteRemoteLog("Установлено удаленное подключение, IP:" + address);
  s.RemoteTunnelOpen = true;
  s.RemoteIdentifyCountdown = 1;
}

void RemoteConfig::ConfServerClientRead() {
  // Bytes that arrived before the peer closed are still read and handled.
  if (!peer_) return;
  // Frames change what the link tick does (an identified tracker is polled).
  w_.discovery.CatchUpLinkTicks();
  uint8_t chunk[kReadChunk];
  // Everything that has arrived is taken now: no further event announces
  // bytes left behind.
  for (int n; (n = peer_->Read(chunk, kReadChunk)) > 0;) {
    silent_seconds_ = 0;
    WriteRemoteLog("Приняты данные: " + link::BytesToHex(chunk, static_cast<size_t>(n)));
    pending_.insert(pending_.end(), chunk, chunk + n);
    ScanTunnel(false);
    if (!peer_) break;  // a handler of a frame closed the tunnel
  }
  w_.discovery.ScheduleLinkTick();
}

void RemoteConfig::ScanTunnel(bool final) {
  const uint8_t* b = pending_.data();
  const size_t n = pending_.size();
  // The frames leave the buffer before any of them is handled: what a handler
  // does (a dialog's nested events, a close) never meets them again.
  std::vector<std::vector<uint8_t>> frames;
  size_t keep = n;  // the start of the unfinished frame kept, n = none
  size_t i = 0;
  while (i + 4 <= n) {
    const void* s = std::memchr(b + i, 'S', n - i - 3);
    if (s == nullptr) {
      i = n - 3;
      break;
    }
    i = static_cast<size_t>(static_cast<const uint8_t*>(s) - b);
    if (std::memcmp(b + i, kMagic, 4) != 0) {
      ++i;
      continue;
    }
    w_.link.RemoteModeActive = true;
    if (i + 6 > n) {
      if (!final) keep = i;
      i = n;
      break;
    }
    // Magic, length field, the bytes the length counts, CRC.
    const size_t extent = 6 + size_t{link::GetU16(b + i + 4)} + 2;
    if (i + extent <= n) {
      frames.emplace_back(b + i + 4, b + i + extent);
    } else if (!final && extent <= kMaxPending) {
      keep = i;
      break;
    }
    i += 5;
  }
  // The start of a magic cut by the end of the read waits for its rest.
  if (keep == n && !final) {
    for (size_t k = std::min<size_t>(3, n); k > 0; --k) {
      if (std::memcmp(b + n - k, kMagic, k) == 0) {
        keep = n - k;
        break;
      }
    }
  }
  if (keep >= n) {
    pending_.clear();
    pending_ticks_ = 0;
  } else if (keep > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(keep));
    pending_ticks_ = 0;
  }
  for (const std::vector<uint8_t>& frame : frames) {
    w_.dispatcher.Read_Data(frame.data(), frame.size());
    if (!peer_) return;
  }
}

void RemoteConfig::RetireSockets() {
  if (peer_) {
    peer_->Abort();
    retired_peer_ = std::move(peer_);
  }
  if (ConfServer) {
    ConfServer->Close();
    retired_server_ = std::move(ConfServer);
  }
}

void RemoteConfig::ConfServerClientDisconnect() {
  WriteRemoteLog("Удаленное соединение закрыто!");
  w_.messages.MessageShow(w_.messages.GetMessageA(kMsgClosedByPeer));
  ConnectionLost();
}

void RemoteConfig::ConfServerClientError(platform::SocketError error) {
  WriteRemoteLog("Ошибка удаленного подключения: " + std::to_string(static_cast<int>(error)));
  if (error != platform::SocketError::ConnectionReset) return;
  w_.messages.MessageShow(w_.messages.GetMessageA(kMsgReset));
  // The disconnection that follows a reset changes nothing more.
  if (peer_) peer_->SetDisconnectedHandler(nullptr);
  ConnectionLost();
}

void RemoteConfig::ConnectionLost() {
  link::LinkState& s = w_.link;
  s.RemoteStopRequested = true;
  s.FlashTimeout = 0;
  if (s.FlashInProgress && s.RemoteModeActive) {
    // The tracker keeps what it received; pressing the button again after it
    // reconnects resumes from there.
    s.FlashInProgress = false;
    w_.controls["Program_flash"].SetEnabled(true);
    w_.ReportProblem(
        Text("RemoteFlashInterrupted",
             "Передача прошивки прервана: удаленное соединение потеряно. После подключения трекера "
             "нажмите «Программировать», чтобы продолжить//\\ Firmware transfer interrupted: the remote "
             "connection was lost. Once the tracker reconnects, press Programing to resume"));
  }
}

void RemoteConfig::SecondTick() {
  retired_peer_.reset();
  retired_server_.reset();
  if (!peer_ || !peer_->IsConnected()) return;
  if (!pending_.empty() && ++pending_ticks_ >= kPendingTicks) {
    // What looked like the start of a frame never completed: frames after it are still found.
    ScanTunnel(true);
    if (!peer_) return;
  }
  if (++silent_seconds_ < kSilenceSeconds) return;
  const std::string address = peer_->PeerAddress();
  WriteRemoteLog("Трекер не передает данные " + std::to_string(kSilenceSeconds) +
                 " с, соединение закрыто, IP:" + address);
  peer_->Abort();
  w_.messages.MessageShow(Text("RemoteSilent",
                               "Удаленный трекер не отвечает, соединение закрыто//\\ The remote "
                               "tracker does not answer, the connection was closed") +
                          " (" + address + ")");
  ConnectionLost();
}

// ---------------------------------------------------------------------------
// Sending

int RemoteConfig::Send_gprs_data(const uint8_t* data, int count) {
  if (!Listening()) return 0;
  if (!peer_ || !peer_->IsConnected() || data == nullptr || count <= 0) return 0;
  WriteRemoteLog("Отправлены данные: " + link::BytesToHex(data, static_cast<size_t>(count)));
  return peer_->Write(data, count);
}

void RemoteConfig::SENDTESTPACKClick() {
  const uint8_t zero = 0;
  w_.codec.SendPacket(protocol::kTestPacket, &zero, 1);
}

void RemoteConfig::Button21Click() {
  const std::string number = link::Utf8ToCp1251(w_.controls["DISPNUMBER"].Text());
  if (number.size() > kSmsBuffer - 1) {
    w_.messages.MessageShow(Text("SmsNumberTooLong",
                                 "Номер для тестового SMS длиннее 31 символа//\\ The number for "
                                 "the test SMS is longer than 31 characters") +
                            ": " + w_.controls["DISPNUMBER"].Text());
    return;
  }
  uint8_t payload[kSmsBuffer] = {};
  std::memcpy(payload, number.data(), number.size());
  w_.codec.SendPacket(protocol::kTestSms, payload, static_cast<uint16_t>(number.size() + 1));
}

// ---------------------------------------------------------------------------
// The log

std::string RemoteConfig::LogFileName() const {
  const platform::DateTime now = w_.plat.clock->LocalNow();
  char name[32];
  std::snprintf(name, sizeof name, "Log/%.4d-%.2d-%.2d.log", now.year, now.month, now.day);
  return w_.DataPath(name);
}

void RemoteConfig::WriteRemoteLog(const std::string& text) {
  const platform::DateTime now = w_.plat.clock->LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%.2d:%.2d:%.2d.%.3d] - ", now.hour, now.minute, now.second,
                now.millisecond);
  auto line = [&stamp](const std::string& what) {
    const std::string bytes = stamp + link::Utf8ToCp1251(what) + "\r\n";
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  };
  const std::string path = LogFileName();
  if (path == LogFull) return;
  // The log never stands in the way: a failure here is dropped.
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::u8path(path).parent_path(), ec);
  // The last line of a full day's log says so; the limit keeps room for it.
  const std::vector<uint8_t> stopped = line(kLogStopped);
  if (w_.Files().Append(path, line(text), kLogDayLimit - stopped.size()) == platform::AppendResult::kFull) {
    w_.Files().Append(path, stopped, kLogDayLimit);
    LogFull = path;
  }
}

}  // namespace rlv::net

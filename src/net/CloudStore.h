#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/ServiceProtocol.h"
#include "platform/Network.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::net {

// The cloud configuration store: the configuration open in the editor stored
// under one IMEI or under each IMEI of a list on every configured server at
// once, and the configuration stored under an IMEI fetched from the first
// server that answers and opened in the editor.
class CloudStore {
 public:
  static constexpr size_t kMaxServers = 3;
  static constexpr int kHeaderPauseMs = 200;
  static constexpr size_t kUploadReadMax = 1024;
  static constexpr size_t kDownloadReadMax = 8192;
  static constexpr size_t kMaxTraceLines = 5000;
  static constexpr const char* kTempFile = "temp.fcg";
  static constexpr const char* kEmptyInput = "Поле ввода пустое";
  static constexpr const char* kUploaded = "Файл(ы) конфигурации выгружен!";
  static constexpr const char* kListStopped = "Выгрузка остановлена";

  explicit CloudStore(app::MainWindow& w);
  ~CloudStore();
  CloudStore(const CloudStore&) = delete;
  CloudStore& operator=(const CloudStore&) = delete;

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // Whether config.ini [Address] names a server of the configurator's own;
  // the placeholder address counts as none.
  bool ServerConfigured() const;
  // What an operation that needs a server says when none is configured.
  std::string NoServerText() const;
  // CloudServers: the servers and ports the configurator itself uses, apart
  // from the tracker's own server fields of the same page.
  void RenderServers();

  void UploadConfigButtonClick();
  void UploadListIMEIButtonClick();
  void UploadConfigConnect();
  void DownloadConfigButtonClick();
  void DownloadConfigConnect();
  // The 1-second tick: deferred reconnections, the download retry and the
  // inactivity countdowns.
  void Tick();

  // One server's upload.
  struct UploadSlot {
    std::unique_ptr<platform::ITcpSocket> connection;
    std::string Host;
    std::string Imei;
    bool ListActive = false;
    int32_t ListIndex = 0;
    bool ReconnectRequested = false;
    // This transfer's end has been dealt with (stored, failed or timed out).
    bool Ended = false;
    // The server confirmed this transfer with "EndTransfer" after the whole file was sent.
    bool Stored = false;
    // Bytes of the header and the file still to be handed to the system.
    int64_t Unsent = 0;
    // Seconds left without a byte before the transfer is given up; 0 = idle.
    int Countdown = 0;
    // Tells the pending file send which transfer it belongs to.
    uint64_t Generation = 0;
    // The tail of what the server sent, to find "EndTransfer" split over reads.
    std::string Answer;
  };
  std::array<UploadSlot, kMaxServers> Slots;
  std::string CloudImei;
  std::vector<uint8_t> UploadImage;

  std::unique_ptr<platform::ITcpSocket> DownloadConfigFileServer;
  int32_t DownloadServerIndex = 0;
  bool DownloadRetryRequested = false;
  // Seconds left without a byte before the download is given up; 0 = idle.
  int DownloadCountdown = 0;
  // Its own receive state: an update-service transfer never touches it.
  FileReceiver Download{kMaxStoreFile, "notexists#"};

 private:
  std::vector<std::string> Servers() const;
  std::string Text(const char* key, const std::string& def) const;
  // A socket failure's code and reason, as the messages show them.
  std::string Failure(platform::SocketError error, const std::string& system_text) const;
  void Trace(const std::string& line);
  void Show(const std::string& text);
  // Takes the IMEI field as CloudImei; false, with the reason shown, when it
  // is empty or a request cannot carry it.
  bool TakeImeiField();
  // A text for the request that cannot carry it; empty when it can.
  std::string CheckImei(const std::string& imei) const;

  void OpenSlot(size_t i);
  void UploadConnect(size_t i);
  void SendUploadImage(size_t i, uint64_t generation);
  void UploadRead(size_t i);
  void UploadError(size_t i, platform::SocketError error, const std::string& system_text);
  void UploadDisconnect(size_t i);
  // The transfer of slot `i` failed: named, the slot's list run stopped.
  void UploadFailed(size_t i, const std::string& why);
  void StopList(size_t i);
  std::string SlotAddress(size_t i) const;

  void DownloadConfigFileServerConnect();
  void DownloadConfigFileServerRead();
  void DownloadConfigFileServerError(platform::SocketError error, const std::string& system_text);
  void DownloadConfigFileServerDisconnect();
  void DownloadComplete();
  // The download from the current server failed: named, the next server tried.
  void DownloadFailed(const std::string& why);
  // Ends the download from the current server with `message`; the next server follows at the tick.
  void NextDownloadServer(const std::string& message);
  std::string DownloadHost() const;

  app::MainWindow& w_;
  bool download_active_ = false;
  // Work posted to the event loop runs only while this lives.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace rlv::net

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/ServiceProtocol.h"
#include "platform/Network.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::net {

// The update and news service: the newest configurator and firmware builds
// offered on a panel when they are newer than what runs, the chosen build
// downloaded into "Downloads" (and a firmware image flashed on request), and
// one news text shortly after start.
class UpdateService {
 public:
  static constexpr uint8_t kQueryFirmware = 1;
  static constexpr uint8_t kQueryConfigurator = 2;
  static constexpr uint8_t kQueryNews = 3;
  static constexpr int kQuestionPauseMs = 100;
  static constexpr size_t kAnswerMax = 2048;
  static constexpr size_t kFileReadMax = 8192;
  static constexpr uint8_t kQuestionSeconds = 10;
  static constexpr uint8_t kNewsDelaySeconds = 10;
  static constexpr int kOfferFirmware = 1;
  static constexpr int kOfferConfigurator = 2;
  static constexpr const char* kDownloadsFolder = "Downloads";
  static constexpr const char* kNoAnswer = "Нет ответа от сервера. Повторите попытку";
  static constexpr const char* kFirmwareOffer = "На сервере доступна новая версия прошивки. Хотите скачать?";
  static constexpr const char* kConfiguratorOffer =
      "На сервере доступна новая версия конфигуратора. Хотите скачать?";

  explicit UpdateService(app::MainWindow& w);
  ~UpdateService();
  UpdateService(const UpdateService&) = delete;
  UpdateService& operator=(const UpdateService&) = delete;

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // The three questions.
  void GetConfiguratorVersionFromServer();
  void GetFirmwareVersionFromServer();
  void GetNews();
  // Whether the service can be reached at all: a network, and a server named
  // in the settings (the documentation host of a fresh installation is none).
  bool GetConnectToInternet() const;

  bool ConnectToServer(const std::string& host, uint16_t port);
  void SendTextToServer(const std::string& text);
  void CloseClientConnection();

  // The offer panel and the news panel.
  void Button29Click();
  void Image4Click();
  void NewsCaptionClick();
  void DisableNewsClick();
  // Asks for the newest firmware; without a server of its own the configurator says so.
  void GetfirmwareClick();

  // Whether a named build is newer than what runs.
  bool CompareBuildFW(const std::string& name) const;
  bool CompareConfiguratorVersion(const std::string& name) const;

  // The 1-second tick: the retry, then the file, question and news countdowns.
  void Tick();

  // The folder downloads are saved in, ending without a separator.
  std::string DownloadsPath() const;

  uint8_t UpdateQuery = 0;
  int32_t UpdateServerIndex = 0;
  bool UpdateRetryRequested = false;
  uint8_t QuestionCountdown = 0;
  uint8_t FileCountdown = 0;
  uint8_t NewsCountdown = kNewsDelaySeconds;
  // The last answer on the question connection.
  std::string AnswerText;
  // A newer firmware build announced while the offer panel offers the
  // configurator: offered once that offer is closed or done.
  std::string QueuedFirmwareOffer;
  // The name the last file is saved under, and where it was saved.
  std::string DownloadFileName;
  std::string SavedPath;
  std::string OwnVersion;

  std::unique_ptr<platform::ITcpSocket> Client1;
  std::unique_ptr<platform::ITcpSocket> ClientSocket1;
  // Its own receive state: a store download never touches it.
  FileReceiver File{kMaxUpdateFile, "file not exists"};

 private:
  void Ask(uint8_t query);
  std::string Server(int32_t index) const;
  size_t ServerCount() const;
  std::string Text(const char* key, const std::string& def) const;
  // A socket failure's code and reason, as the messages show them.
  std::string Failure(platform::SocketError error, const std::string& system_text) const;
  std::string Message(int number) const;

  // The offer panel shows the build `name` (firmware or configurator, by `tag`).
  void ShowOffer(int tag, const std::string& name);
  // Hides the offer panel; a queued firmware offer follows.
  void CloseOffer();

  void Client1Connect();
  void SendQuestion(uint64_t generation);
  void Client1Read();
  void Client1Error(platform::SocketError error, const std::string& system_text);
  void Client1Disconnect();

  void ClientSocket1Connect();
  void ClientSocket1Read();
  void ClientSocket1Error(platform::SocketError error, const std::string& system_text);
  void ClientSocket1Disconnect();
  void FinishFile();
  // The file transfer ends without a file: `text` on the panel and the message panel.
  void FileFailed(const std::string& text);
  void ShowProgress(int percent);

  app::MainWindow& w_;
  // The question connection's exchange runs: errors and silence count.
  bool question_pending_ = false;
  uint64_t question_generation_ = 0;
  // A question asked while another one runs (the firmware question of a
  // tracker found during the configurator's): asked on the tick after that
  // one has ended, so neither answer is lost.
  uint8_t waiting_query_ = 0;
  // The file connection's transfer runs.
  bool file_active_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace rlv::net

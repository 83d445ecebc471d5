#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Network.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::net {

// Remote configuration through the tracker's GPRS link: the configurator
// listens on a TCP port, the tracker connects to it, and from then on the same
// frames as over USB travel through that connection (the tunnel).
class RemoteConfig {
 public:
  // Bytes of an unfinished frame kept from one read to the next.
  static constexpr size_t kMaxPending = 4096;
  // Bytes taken from the socket per read.
  static constexpr int kReadChunk = 1024;
  // A connected peer that sends nothing for this long is taken as gone.
  static constexpr int kSilenceSeconds = 60;
  // An unfinished frame that is not completed within this many ticks is dropped.
  static constexpr int kPendingTicks = 3;
  // The test SMS payload: at most 31 characters and the terminator.
  static constexpr size_t kSmsBuffer = 32;

  explicit RemoteConfig(app::MainWindow& w);
  ~RemoteConfig();
  RemoteConfig(const RemoteConfig&) = delete;
  RemoteConfig& operator=(const RemoteConfig&) = delete;

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // The toggle of page 5: opens the listening port, or closes it.
  void Button1Click();
  // Closes the server and the connection and resets the tunnel.
  void StopConfigServer();
  // Sends one frame into the tunnel: 0 when not listening or nobody is
  // connected, otherwise the send's result.
  int Send_gprs_data(const uint8_t* data, int count);
  // One line of the day's remote-configuration log. A day's log holds at
  // most kLogDayLimit bytes: the line that would pass that is replaced by
  // kLogStopped, and nothing more is written until the next day's file.
  void WriteRemoteLog(const std::string& text);
  static constexpr uint64_t kLogDayLimit = 16u << 20;
  static constexpr const char* kLogStopped = "Журнал переполнен: запись остановлена до следующего дня";
  // The day's log file.
  std::string LogFileName() const;
  // The day's log file that is full: nothing more goes into it.
  std::string LogFull;

  // Test packet (command 61) and test SMS (command 176), over whichever link is active.
  void SENDTESTPACKClick();
  void Button21Click();

  // Run on every 1-second tick before the deferred stop: silence detection and
  // unfinished frames that never complete.
  void SecondTick();

  bool Listening() const;
  // Shows the server's state and the button's caption again, in the current language.
  void RenderServerState();
  uint16_t ListeningPort() const;

  // [Settings] RemoteListenAddress: the address listened on (empty = every interface).
  std::string ListenAddress;
  // [Settings] RemoteAllowedPeers: the peer addresses let in (empty = everyone).
  std::vector<std::string> AllowedPeers;

 private:
  void ConfServerClientConnect(std::unique_ptr<platform::ITcpSocket> socket);
  void ConfServerClientRead();
  void ConfServerClientDisconnect();
  void ConfServerClientError(platform::SocketError error);
  // A lost connection: the server stops on the next second.
  void ConnectionLost();
  // Takes every complete frame out of the pending bytes and hands it to the
  // dispatcher; an unfinished frame at the end is kept unless `final`.
  void ScanTunnel(bool final);
  // Closes the server and the connection; they are destroyed on the next second.
  void RetireSockets();
  bool PeerAllowed(const std::string& address) const;
  std::string Text(const char* key, const char* fallback) const;
  // Shows message `message` (followed by `suffix`) as the server's state.
  void ShowServerState(int message, const std::string& suffix = {});

  app::MainWindow& w_;
  std::unique_ptr<platform::ITcpServer> ConfServer;
  std::unique_ptr<platform::ITcpSocket> peer_;
  // A closed server and connection, kept until the next second: a close may
  // be asked from inside one of their own events.
  std::unique_ptr<platform::ITcpServer> retired_server_;
  std::unique_ptr<platform::ITcpSocket> retired_peer_;
  // The tunnel's reads run through the window's event gate.
  size_t read_step_ = 0;
  std::vector<uint8_t> pending_;
  int pending_ticks_ = 0;
  int silent_seconds_ = 0;
  int state_message_ = 138;  // the port is closed at start
  std::string state_suffix_;
};

// Splits a list of addresses separated by commas, semicolons or spaces.
std::vector<std::string> SplitAddressList(const std::string& text);

}  // namespace rlv::net

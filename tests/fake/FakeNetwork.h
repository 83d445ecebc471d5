#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Network.h"

namespace rlv::fake {

class FakeClock;
class FakeNetwork;
class FakeTcpSocket;
class FakeTcpServer;

// The far end of one in-memory TCP connection, held by the test: a tracker
// connected to the configurator's server, or a server the configurator
// connected to. Bytes travel after the network's latency, in order, and every
// event reaches the configurator from the virtual clock, never from inside a call.
class FakePeer : public std::enable_shared_from_this<FakePeer> {
 public:
  FakePeer(FakeNetwork& net, std::string address, uint16_t port)
      : net_(net), address_(std::move(address)), port_(port) {}

  // Sends bytes to the configurator's socket.
  void Send(const std::vector<uint8_t>& bytes);
  void Send(const std::string& text);
  // Ends the connection in order; the configurator sees Disconnected.
  void Close();
  // Resets the connection; the configurator sees ConnectionReset, then Disconnected.
  void Reset();
  // Ends the connection on the peer's side only: nothing reaches the configurator,
  // as when a GPRS link goes silent.
  void Vanish();

  bool IsOpen() const { return open_; }
  // Whether the configurator's side closed or aborted the connection.
  bool ClosedByConfigurator() const { return closed_by_app_; }
  // Everything the configurator wrote, in order.
  const std::vector<uint8_t>& Received() const { return received_; }
  std::string ReceivedText() const { return std::string(received_.begin(), received_.end()); }
  void ClearReceived() { received_.clear(); }
  // The address and port the peer has (server side) or was reached at (client side).
  const std::string& Address() const { return address_; }
  uint16_t Port() const { return port_; }

  // Called after bytes from the configurator arrived (with just those bytes).
  std::function<void(FakePeer&, const std::vector<uint8_t>&)> on_receive;
  // Called when the configurator closed or aborted the connection.
  std::function<void(FakePeer&)> on_close;

 private:
  friend class FakeNetwork;
  friend class FakeTcpSocket;
  void Deliver(const std::vector<uint8_t>& bytes);
  void EndFromApp();

  FakeNetwork& net_;
  std::string address_;
  uint16_t port_ = 0;
  bool open_ = true;
  bool closed_by_app_ = false;
  bool silent_ = false;
  FakeTcpSocket* app_ = nullptr;  // the configurator's socket, null once it is gone
  std::vector<uint8_t> received_;
};

class FakeTcpSocket : public platform::ITcpSocket {
 public:
  explicit FakeTcpSocket(FakeNetwork& net) : net_(net) {}
  ~FakeTcpSocket() override;

  void ConnectToHost(const std::string& host, uint16_t port) override;
  bool IsConnected() const override { return peer_ != nullptr && peer_->open_ && !closing_; }
  std::string PeerAddress() const override { return peer_ ? peer_->address_ : std::string(); }
  uint16_t PeerPort() const override { return peer_ ? peer_->port_ : 0; }
  int64_t BytesAvailable() const override { return static_cast<int64_t>(rx_.size()); }
  int Read(uint8_t* buffer, int max) override;
  int Write(const uint8_t* data, int count) override;
  void Flush() override {}
  int64_t BytesToWrite() const override { return 0; }
  void Close() override;
  void Abort() override;

  void SetConnectedHandler(std::function<void()> handler) override { connected_ = std::move(handler); }
  void SetReadyReadHandler(std::function<void()> handler) override { ready_read_ = std::move(handler); }
  void SetBytesWrittenHandler(std::function<void(int64_t)> handler) override {
    written_ = std::move(handler);
  }
  void SetDisconnectedHandler(std::function<void()> handler) override { disconnected_ = std::move(handler); }
  void SetErrorHandler(std::function<void(platform::SocketError, const std::string&)> handler) override {
    error_ = std::move(handler);
  }

 private:
  friend class FakeNetwork;
  friend class FakePeer;
  // Runs `task` on the clock after `delay` ms, unless this socket is gone or
  // has been reconnected or aborted meanwhile.
  void Later(int delay, std::function<void()> task);
  void Attach(std::shared_ptr<FakePeer> peer);
  void Detach();

  FakeNetwork& net_;
  std::shared_ptr<FakePeer> peer_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::vector<uint8_t> rx_;
  bool closing_ = false;
  std::function<void()> connected_;
  std::function<void()> ready_read_;
  std::function<void(int64_t)> written_;
  std::function<void()> disconnected_;
  std::function<void(platform::SocketError, const std::string&)> error_;
};

class FakeTcpServer : public platform::ITcpServer {
 public:
  explicit FakeTcpServer(FakeNetwork& net) : net_(net) {}
  ~FakeTcpServer() override;
  bool Listen(const std::string& address, uint16_t port) override;
  bool IsListening() const override { return listening_; }
  uint16_t Port() const override { return port_; }
  std::string LastError() const override { return last_error_; }
  void Close() override;
  void SetNewConnectionHandler(std::function<void(std::unique_ptr<platform::ITcpSocket>)> handler) override {
    handler_ = std::move(handler);
  }
  const std::string& Address() const { return address_; }

 private:
  friend class FakeNetwork;
  FakeNetwork& net_;
  bool listening_ = false;
  uint16_t port_ = 0;
  std::string address_;
  std::string last_error_;
  std::function<void(std::unique_ptr<platform::ITcpSocket>)> handler_;
};

// In-memory TCP on the virtual clock.
class FakeNetwork : public platform::INetwork {
 public:
  using Accept = std::function<void(std::shared_ptr<FakePeer>)>;

  explicit FakeNetwork(FakeClock& clock) : clock_(clock) {}

  std::unique_ptr<platform::ITcpSocket> CreateSocket() override {
    return std::make_unique<FakeTcpSocket>(*this);
  }
  std::unique_ptr<platform::ITcpServer> CreateServer() override {
    return std::make_unique<FakeTcpServer>(*this);
  }

  // A scripted server at host:port for the configurator's client sockets:
  // each connection made to it is handed to `accept`.
  void Listen(const std::string& host, uint16_t port, Accept accept);
  void StopListening(const std::string& host, uint16_t port);
  // Connecting to host:port fails with `error` (nobody listening: ConnectionRefused).
  void FailConnect(const std::string& host, uint16_t port, platform::SocketError error);
  // Connecting to host:port never completes, as with a host that drops packets.
  void StallConnect(const std::string& host, uint16_t port);

  // A peer at `from` connecting to the configurator's server on `port`;
  // null when no server of the configurator listens there.
  std::shared_ptr<FakePeer> ConnectToServer(uint16_t port, const std::string& from = "10.0.0.5");
  // The configurator's server on `port`, or null.
  FakeTcpServer* ServerOn(uint16_t port) const;
  // Makes the next Listen on `port` fail with `text`, as when the port is taken.
  void RefuseListen(uint16_t port, const std::string& text) { refused_ports_[port] = text; }

  // Every connection made, oldest first.
  const std::vector<std::shared_ptr<FakePeer>>& Peers() const { return peers_; }
  void SetLatency(int ms) { latency_ = ms; }
  int Latency() const { return latency_; }
  FakeClock& Clock() { return clock_; }

 private:
  friend class FakeTcpSocket;
  friend class FakeTcpServer;
  friend class FakePeer;
  struct Target {
    Accept accept;
    platform::SocketError error = platform::SocketError::ConnectionRefused;
    bool stall = false;
  };

  FakeClock& clock_;
  int latency_ = 2;
  uint16_t next_free_port_ = 40000;
  std::map<std::pair<std::string, uint16_t>, Target> targets_;
  std::map<uint16_t, FakeTcpServer*> servers_;
  std::map<uint16_t, std::string> refused_ports_;
  std::vector<std::shared_ptr<FakePeer>> peers_;
};

}  // namespace rlv::fake

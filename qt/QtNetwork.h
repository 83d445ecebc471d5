#pragma once

// TCP connections and listening sockets on Qt Network, every event on the
// event-loop thread.

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "platform/Network.h"

namespace rlv::qtp {

class QtTcpSocket : public platform::ITcpSocket {
 public:
  QtTcpSocket();                               // a socket to connect with ConnectToHost
  explicit QtTcpSocket(QTcpSocket* accepted);  // takes ownership
  ~QtTcpSocket() override;

  void ConnectToHost(const std::string& host, uint16_t port) override;
  bool IsConnected() const override;
  std::string PeerAddress() const override;
  uint16_t PeerPort() const override;
  int64_t BytesAvailable() const override;
  int Read(uint8_t* buffer, int max) override;
  int Write(const uint8_t* data, int count) override;
  void Flush() override;
  int64_t BytesToWrite() const override;
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
  void Wire();
  // A second descriptor of the connection, kept while it lasts: Qt closes its
  // own before it reports a close by the peer, and only the connection's
  // state then tells an orderly close from a reset.
  void Shadow();
  void Unshadow();
  bool WasReset() const;

  std::unique_ptr<QTcpSocket> socket_;
  int shadow_ = -1;
  QObject context_;  // connections die with this object, before the socket
  std::function<void()> connected_;
  std::function<void()> ready_read_;
  std::function<void(int64_t)> written_;
  std::function<void()> disconnected_;
  std::function<void(platform::SocketError, const std::string&)> error_;
};

class QtTcpServer : public platform::ITcpServer {
 public:
  QtTcpServer();
  ~QtTcpServer() override;
  bool Listen(const std::string& address, uint16_t port) override;
  bool IsListening() const override { return server_.isListening(); }
  uint16_t Port() const override { return server_.serverPort(); }
  std::string LastError() const override { return last_error_; }
  void Close() override { server_.close(); }
  void SetNewConnectionHandler(std::function<void(std::unique_ptr<platform::ITcpSocket>)> handler) override {
    handler_ = std::move(handler);
  }

 private:
  QTcpServer server_;
  std::string last_error_;
  std::function<void(std::unique_ptr<platform::ITcpSocket>)> handler_;
};

class QtNetwork : public platform::INetwork {
 public:
  std::unique_ptr<platform::ITcpSocket> CreateSocket() override { return std::make_unique<QtTcpSocket>(); }
  std::unique_ptr<platform::ITcpServer> CreateServer() override { return std::make_unique<QtTcpServer>(); }
};

// The address as the configurator shows it: dotted IPv4 for IPv4 and IPv4-mapped peers.
std::string AddressText(const QHostAddress& address);

}  // namespace rlv::qtp

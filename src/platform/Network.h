#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rlv::platform {

// Why a TCP connection failed or ended. The numbers are the socket error codes
// that the configurator has always written to its logs and messages, whatever
// the system underneath reports.
enum class SocketError : int {
  None = 0,
  ConnectionAborted = 10053,  // the connection was ended on this side (local error, timeout)
  ConnectionReset = 10054,    // the peer reset the connection
  TimedOut = 10060,           // connecting took too long
  ConnectionRefused = 10061,  // nobody listens at that address and port
  HostUnreachable = 10065,    // no route to the host
  HostNotFound = 11001,       // the name could not be resolved
  Other = 10000,              // anything else; the text says what
};

// One TCP connection: either accepted by an ITcpServer or opened with
// ConnectToHost. Every event arrives on the event-loop thread, never from
// inside a call into the socket.
class ITcpSocket {
 public:
  virtual ~ITcpSocket() = default;

  // Starts connecting; Connected or Error follows. Only for sockets from INetwork::CreateSocket.
  virtual void ConnectToHost(const std::string& host, uint16_t port) = 0;
  virtual bool IsConnected() const = 0;
  // The peer's address: dotted IPv4 for an IPv4 peer (also when the system
  // reports it IPv4-mapped), otherwise the IPv6 text; empty when unknown.
  virtual std::string PeerAddress() const = 0;
  virtual uint16_t PeerPort() const = 0;

  // Bytes received and not yet read.
  virtual int64_t BytesAvailable() const = 0;
  // Copies up to `max` received bytes into `buffer`; returns how many.
  virtual int Read(uint8_t* buffer, int max) = 0;
  // Queues `count` bytes to send; returns `count`, or -1 when not connected.
  // The bytes leave from the event loop: call Flush() before a blocking pause.
  virtual int Write(const uint8_t* data, int count) = 0;
  // Hands queued bytes to the system now, without waiting for the peer.
  virtual void Flush() = 0;
  // Bytes queued and not yet handed to the system.
  virtual int64_t BytesToWrite() const = 0;
  // Sends what is queued, then closes; Disconnected follows.
  virtual void Close() = 0;
  // Drops the connection at once, queued bytes with it. No event follows.
  virtual void Abort() = 0;

  virtual void SetConnectedHandler(std::function<void()> handler) = 0;
  // New bytes can be read.
  virtual void SetReadyReadHandler(std::function<void()> handler) = 0;
  // `count` queued bytes were handed to the system.
  virtual void SetBytesWrittenHandler(std::function<void(int64_t count)> handler) = 0;
  // The connection ended: the peer closed it, or it was closed here with Close().
  virtual void SetDisconnectedHandler(std::function<void()> handler) = 0;
  // Connecting failed, or the connection broke. A broken connection reports
  // its error first, then Disconnected.
  virtual void SetErrorHandler(std::function<void(SocketError error, const std::string& text)> handler) = 0;
};

// A listening TCP socket.
class ITcpServer {
 public:
  virtual ~ITcpServer() = default;
  // Listens on `address` (dotted IPv4 or IPv6 text; empty = every interface)
  // and `port` (0 = any free port). False when that fails; LastError() says why.
  virtual bool Listen(const std::string& address, uint16_t port) = 0;
  virtual bool IsListening() const = 0;
  // The port listened on (the one chosen by the system when 0 was asked).
  virtual uint16_t Port() const = 0;
  virtual std::string LastError() const = 0;
  // Stops listening. Connections already accepted belong to their owners.
  virtual void Close() = 0;
  // A peer connected; the handler owns the new socket.
  virtual void SetNewConnectionHandler(std::function<void(std::unique_ptr<ITcpSocket>)> handler) = 0;
};

class INetwork {
 public:
  virtual ~INetwork() = default;
  virtual std::unique_ptr<ITcpSocket> CreateSocket() = 0;
  virtual std::unique_ptr<ITcpServer> CreateServer() = 0;
};

}  // namespace rlv::platform

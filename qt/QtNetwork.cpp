#include "QtNetwork.h"

#include <QHostAddress>
#include <QMetaObject>
#include <cerrno>
#include <system_error>

#ifdef __linux__
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>
#endif

namespace rlv::qtp {

namespace {

platform::SocketError ToSocketError(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return platform::SocketError::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
      return platform::SocketError::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
      return platform::SocketError::TimedOut;
    case QAbstractSocket::NetworkError:
      return platform::SocketError::HostUnreachable;
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::TemporaryError:
      return platform::SocketError::ConnectionAborted;
    default:
      return platform::SocketError::Other;
  }
}

}  // namespace

std::string AddressText(const QHostAddress& address) {
  bool ipv4 = false;
  const quint32 value = address.toIPv4Address(&ipv4);
  if (ipv4) return QHostAddress(value).toString().toStdString();
  return address.toString().toStdString();
}

// ---------------------------------------------------------------------------
// QtTcpSocket

QtTcpSocket::QtTcpSocket() : socket_(std::make_unique<QTcpSocket>()) {
  Wire();
}

QtTcpSocket::QtTcpSocket(QTcpSocket* accepted) : socket_(accepted) {
  socket_->setParent(nullptr);
  Shadow();
  Wire();
}

QtTcpSocket::~QtTcpSocket() {
  // No handler runs while the socket goes away.
  QObject::disconnect(socket_.get(), nullptr, &context_, nullptr);
  socket_->abort();
  Unshadow();
}

void QtTcpSocket::Shadow() {
  Unshadow();
#ifdef __linux__
  const qintptr fd = socket_->socketDescriptor();
  if (fd >= 0) shadow_ = ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
#endif
}

void QtTcpSocket::Unshadow() {
#ifdef __linux__
  if (shadow_ >= 0) ::close(shadow_);
#endif
  shadow_ = -1;
}

bool QtTcpSocket::WasReset() const {
#ifdef __linux__
  // A close by the peer leaves this side's half open; a reset ends both.
  tcp_info info{};
  socklen_t size = sizeof info;
  return shadow_ >= 0 && ::getsockopt(shadow_, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
         info.tcpi_state == TCP_CLOSE;
#else
  return false;
#endif
}

void QtTcpSocket::Wire() {
  QTcpSocket* s = socket_.get();
  QObject::connect(s, &QTcpSocket::connected, &context_, [this] {
    Shadow();
    if (connected_) connected_();
  });
  // Qt has let go of the connection: so does its second descriptor, and only
  // now does the system end it.
  QObject::connect(s, &QTcpSocket::stateChanged, &context_, [this](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState) Unshadow();
  });
  QObject::connect(s, &QTcpSocket::readyRead, &context_, [this] {
    if (ready_read_) ready_read_();
  });
  QObject::connect(s, &QTcpSocket::bytesWritten, &context_, [this](qint64 count) {
    if (written_) written_(count);
  });
  // Qt may report these from inside a call into the socket (a close, a write);
  // they reach the owner from the event loop instead, and not at all once the
  // socket is gone.
  QObject::connect(
      s, &QTcpSocket::disconnected, &context_,
      [this] {
        if (disconnected_) disconnected_();
      },
      Qt::QueuedConnection);
  QObject::connect(s, &QTcpSocket::errorOccurred, &context_, [this](QAbstractSocket::SocketError error) {
    // Qt reports an orderly close and a reset alike, as RemoteHostClosedError:
    // the connection's state tells them apart. A close by the peer is
    // reported by Disconnected alone, a reset as ConnectionReset first.
    const bool reset = error == QAbstractSocket::RemoteHostClosedError && WasReset();
    Unshadow();
    if (error == QAbstractSocket::RemoteHostClosedError && !reset) return;
    const platform::SocketError kind = reset ? platform::SocketError::ConnectionReset : ToSocketError(error);
    const std::string text =
        reset ? std::generic_category().message(ECONNRESET) : socket_->errorString().toStdString();
    QMetaObject::invokeMethod(
        &context_,
        [this, kind, text] {
          if (error_) error_(kind, text);
        },
        Qt::QueuedConnection);
  });
}

void QtTcpSocket::ConnectToHost(const std::string& host, uint16_t port) {
  Unshadow();
  socket_->abort();
  socket_->connectToHost(QString::fromStdString(host), port);
}

bool QtTcpSocket::IsConnected() const {
  return socket_->state() == QAbstractSocket::ConnectedState;
}

std::string QtTcpSocket::PeerAddress() const {
  const QHostAddress address = socket_->peerAddress();
  if (address.isNull()) return {};
  return AddressText(address);
}

uint16_t QtTcpSocket::PeerPort() const {
  return socket_->peerPort();
}

int64_t QtTcpSocket::BytesAvailable() const {
  return socket_->bytesAvailable();
}

int QtTcpSocket::Read(uint8_t* buffer, int max) {
  if (buffer == nullptr || max <= 0) return 0;
  const qint64 got = socket_->read(reinterpret_cast<char*>(buffer), max);
  return got > 0 ? static_cast<int>(got) : 0;
}

int QtTcpSocket::Write(const uint8_t* data, int count) {
  if (!IsConnected() || count < 0 || (data == nullptr && count > 0)) return -1;
  if (count == 0) return 0;
  const qint64 put = socket_->write(reinterpret_cast<const char*>(data), count);
  return put == count ? count : -1;
}

void QtTcpSocket::Flush() {
  socket_->flush();
}

int64_t QtTcpSocket::BytesToWrite() const {
  return socket_->bytesToWrite();
}

void QtTcpSocket::Close() {
  socket_->disconnectFromHost();
}

void QtTcpSocket::Abort() {
  QObject::disconnect(socket_.get(), nullptr, &context_, nullptr);
  socket_->abort();
  Unshadow();
  Wire();
}

// ---------------------------------------------------------------------------
// QtTcpServer

QtTcpServer::QtTcpServer() {
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
    while (QTcpSocket* accepted = server_.nextPendingConnection()) {
      auto socket = std::make_unique<QtTcpSocket>(accepted);
      if (handler_) {
        handler_(std::move(socket));
      }
      // Without a handler the connection is closed at once.
    }
  });
}

QtTcpServer::~QtTcpServer() {
  server_.close();
}

bool QtTcpServer::Listen(const std::string& address, uint16_t port) {
  server_.close();
  QHostAddress host = QHostAddress::Any;
  if (!address.empty() && !host.setAddress(QString::fromStdString(address))) {
    last_error_ = "not an IP address: " + address;
    return false;
  }
  if (!server_.listen(host, port)) {
    last_error_ = server_.errorString().toStdString();
    return false;
  }
  last_error_.clear();
  return true;
}

}  // namespace rlv::qtp

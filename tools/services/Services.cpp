#include "Services.h"

#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "monitor/Monitoring.h"
#include "net/ServiceProtocol.h"

namespace rlv::services {

namespace {

// A request line is never longer than this; a peer that sends more without
// completing one is dropped.
constexpr qsizetype kMaxRequest = 512;
// How long an unterminated firmware question may wait for more digits.
constexpr int kQuestionQuietMs = 100;
// A file leaves in pieces of kChunk bytes, the next piece only once fewer
// than kLowWater bytes still wait in the socket: a connection never holds
// more than kChunk + kLowWater bytes of output.
constexpr qint64 kChunk = kBuildPiece;
constexpr qint64 kLowWater = 32 * 1024;
// Input: at most kReadBuffer bytes wait in the socket and kMaxPending in the
// request buffer; beyond that the server stops reading and TCP holds the peer.
constexpr qint64 kReadBuffer = 16 * 1024;
constexpr qsizetype kMaxPending = 4 * 1024;
// How long a closing connection may take to hand over what is still queued.
constexpr int kLingerMs = 5000;
// After the system refused to accept a connection (out of descriptors), the
// port is tried again this much later.
constexpr int kAcceptRetryMs = 1000;
constexpr int kListenBacklog = 4096;

QString AddressOf(const QTcpSocket* socket) {
  QHostAddress address = socket->peerAddress();
  bool ok = false;
  const quint32 v4 = address.toIPv4Address(&ok);
  if (ok) address = QHostAddress(v4);
  return address.toString();
}

QString PeerOf(const QTcpSocket* socket) {
  return AddressOf(socket) + ":" + QString::number(socket->peerPort());
}

// The bytes the system still holds for the peer of `socket` (not yet sent or
// not yet acknowledged); -1 where the system cannot tell.
qint64 HeldForPeer(const QTcpSocket* socket) {
#ifdef SIOCOUTQ
  int held = 0;
  if (::ioctl(static_cast<int>(socket->socketDescriptor()), SIOCOUTQ, &held) == 0) return held;
#endif
  (void)socket;
  return -1;
}

QString Printable(const QByteArray& bytes) {
  QString out;
  for (char ch : bytes.left(80)) {
    const auto byte = static_cast<unsigned char>(ch);
    out += byte >= 0x20 && byte < 0x7F ? QString(QChar(ch)) : QString("\\x%1").arg(byte, 2, 16, QChar('0'));
  }
  if (bytes.size() > 80) out += "...";
  return out;
}

bool StartsWith(const QByteArray& buffer, const QByteArray& word) {
  return buffer.startsWith(word);
}

// True while `buffer` could still become `word`.
bool CouldBecome(const QByteArray& buffer, const QByteArray& word) {
  return buffer.size() < word.size() && word.startsWith(buffer);
}

// A configuration on its way to a client.
class BytesReader : public BuildReader {
 public:
  explicit BytesReader(QByteArray bytes) : bytes_(std::move(bytes)) {}
  QByteArray Read(qint64 max, QString* why) override {
    const QByteArray piece = bytes_.mid(offset_, max);
    offset_ += piece.size();
    if (piece.isEmpty()) *why = "nothing more to send";
    return piece;
  }

 private:
  QByteArray bytes_;
  qsizetype offset_ = 0;
};

// One client connection; deletes itself when the connection ends. Requests
// are taken one at a time: while a file is being sent, or while the answers
// already given have not left, the next request waits in the socket.
class Session : public QObject {
 public:
  Session(Services& services, QTcpSocket* socket)
      : QObject(&services), services_(services), socket_(socket), address_(AddressOf(socket)) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kReadBuffer);
    peer_ = PeerOf(socket_);
    idle_.setSingleShot(true);
    idle_.setInterval(services_.Options().idle_seconds * 1000);
    connect(&idle_, &QTimer::timeout, this, [this] { Idle(); });
    pause_.setSingleShot(true);
    pause_.setInterval(services_.Options().pause_ms);
    connect(&pause_, &QTimer::timeout, this, [this] { Pump(); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
      idle_.start();
      Pull();
    });
    // The peer is taking what is sent: not silent.
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
      if (finished_) return;
      idle_.start();
      held_ = HeldForPeer(socket_);
      if (file_ && !pause_.isActive()) Pump();
      if (!Busy()) Pull();
      StopWhenIdle();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
      Finish();
      deleteLater();
    });
    idle_.start();
  }
  ~Session() override { services_.Release(address_); }

  // While the server stops: ends the connection once no transfer is under way.
  void StopWhenIdle() {
    if (services_.Stopping() && !finished_ && !InTransfer()) {
      Log("closed: the server stops");
      Finish();
    }
  }

 protected:
  // Takes the complete requests at the start of buffer_ while !Busy().
  virtual void Process() = 0;
  // A transfer is under way: an upload or a request under way, or a file
  // or answer still leaving.
  virtual bool InTransfer() const {
    return storing_ || file_ != nullptr || socket_->bytesToWrite() > 0 || !buffer_.isEmpty();
  }

  void Log(const QString& text) const { Services::Log(peer_, text); }

  // A file is on its way, or the answers given so far have not left yet.
  bool Busy() const { return storing_ || file_ != nullptr || socket_->bytesToWrite() >= kLowWater; }

  // Reads what the peer sent, a bounded piece at a time, and serves it.
  void Pull() {
    if (pulling_) return;  // an answer's flush may report progress from inside Process()
    pulling_ = true;
    while (!finished_) {
      if (!Busy()) Process();
      if (finished_ || Busy()) break;
      const qint64 room = kMaxPending - buffer_.size();
      if (room <= 0 || socket_->bytesAvailable() <= 0) break;
      buffer_ += socket_->read(room);
    }
    pulling_ = false;
    StopWhenIdle();
  }

  // Ends the connection after what is queued has left (within kLingerMs).
  void Finish() {
    if (finished_) return;
    finished_ = true;
    idle_.stop();
    pause_.stop();
    file_.reset();
    buffer_.clear();
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
      deleteLater();
      return;
    }
    QTimer::singleShot(kLingerMs, this, [this] {
      socket_->abort();
      deleteLater();
    });
  }
  void Drop(const QString& why) {
    Log("dropped: " + why);
    Finish();
  }
  // The store failed the request: the connection is reset without an answer,
  // so that the client counts it a failure and tries its next server.
  void Fail(const QString& why) {
    Log("failed: " + why);
    if (finished_) return;
    socket_->abort();
    Finish();
  }

  void Answer(const QByteArray& text) {
    socket_->write(text);
    socket_->flush();
  }

  // The header alone, then after the pause the `size` bytes of `file`, a
  // piece at a time as the socket drains.
  void SendFile(const QByteArray& header, std::unique_ptr<BuildReader> file, qint64 size) {
    Answer(header);
    file_ = std::move(file);
    file_left_ = size;
    pause_.start();
  }

  Services& services_;
  QTcpSocket* socket_;
  QString address_;
  QString peer_;
  QByteArray buffer_;
  QTimer idle_;
  bool finished_ = false;
  bool storing_ = false;  // an upload is being stored: the next request waits

 private:
  // Neither input nor output for the idle time. What the system still holds
  // for the peer may yet be shrinking, as a slow reader drains it: only a
  // peer that took nothing of it either is silent.
  void Idle() {
    const qint64 held = HeldForPeer(socket_);
    // Shrinking to nothing is taking the last bytes too: the peer gets a whole
    // idle time after them to answer.
    if (held != held_ && (held > 0 || held_ > 0)) {
      held_ = held;
      idle_.start();
      return;
    }
    Drop("silent too long");
  }

  // Queues the next pieces of the file being sent while the socket has room.
  void Pump() {
    while (file_ && file_left_ > 0 && socket_->bytesToWrite() < kLowWater) {
      QString why;
      const QByteArray piece = file_->Read(std::min(kChunk, file_left_), &why);
      if (piece.isEmpty() || piece.size() > file_left_) {
        Fail(piece.isEmpty() ? why : "the build grew while it was sent");
        return;
      }
      socket_->write(piece);
      file_left_ -= piece.size();
    }
    if (file_ && file_left_ == 0) {
      file_.reset();
      if (!Busy()) Pull();
    }
  }

  QTimer pause_;
  std::unique_ptr<BuildReader> file_;
  qint64 file_left_ = 0;
  qint64 held_ = -1;  // HeldForPeer() at the last idle check
  bool pulling_ = false;
};

// "file#IMEI#size#" and the file: stored; "download#IMEI#": served.
class StoreSession : public Session {
 public:
  using Session::Session;

 protected:
  void Process() override {
    while (!finished_ && !buffer_.isEmpty() && !Busy()) {
      if (upload_left_ > 0) {
        const qsizetype take = static_cast<qsizetype>(std::min<quint64>(upload_left_, buffer_.size()));
        upload_.insert(upload_.end(), buffer_.constBegin(), buffer_.constBegin() + take);
        buffer_.remove(0, take);
        upload_left_ -= static_cast<quint64>(take);
        if (upload_left_ == 0) Store();
        continue;
      }
      if (!Request()) return;
    }
  }

 private:
  // Takes one request from the buffer; false while it is incomplete.
  bool Request() {
    static const QByteArray kFile = "file#", kDownload = "download#", kEnd = "endtransfer#";
    if (StartsWith(buffer_, kFile)) {
      const QList<QByteArray> parts = buffer_.split('#');
      if (parts.size() < 4) return Incomplete();
      const QByteArray imei = parts[1], size = parts[2];
      buffer_.remove(0, kFile.size() + imei.size() + 1 + size.size() + 1);
      const auto bytes = net::ParseSize(size.toStdString(), net::kMaxStoreFile);
      if (!monitor::IsValidImei(imei.toStdString())) {
        Drop("upload under a bad IMEI \"" + Printable(imei) + "\"");
      } else if (!bytes) {
        Drop("upload for " + QString(imei) + " with a bad size \"" + Printable(size) + "\"");
      } else {
        Log("upload " + QString(imei) + ", " + QString::number(*bytes) + " bytes");
        imei_ = QString(imei);
        upload_.clear();
        upload_.reserve(static_cast<size_t>(*bytes));
        upload_left_ = *bytes;
      }
      return true;
    }
    if (StartsWith(buffer_, kDownload)) {
      const qsizetype end = buffer_.indexOf('#', kDownload.size());
      if (end < 0) return Incomplete();
      const QByteArray imei = buffer_.mid(kDownload.size(), end - kDownload.size());
      buffer_.remove(0, end + 1);
      Download(imei);
      return true;
    }
    if (StartsWith(buffer_, kEnd)) {
      buffer_.remove(0, kEnd.size());
      Log("download acknowledged");
      Finish();
      return true;
    }
    if (CouldBecome(buffer_, kFile) || CouldBecome(buffer_, kDownload) || CouldBecome(buffer_, kEnd)) {
      return false;
    }
    Drop("not a request: \"" + Printable(buffer_) + "\"");
    return false;
  }

  bool Incomplete() {
    if (buffer_.size() > kMaxRequest) Drop("request too long");
    return false;
  }

  // The upload reaches the disk before it is confirmed; on any failure the
  // stored file stays as it was and the connection is closed unconfirmed.
  void Store() {
    storing_ = true;
    const qsizetype size = static_cast<qsizetype>(upload_.size());
    services_.Storage().PutConfigThen(this, imei_, std::exchange(upload_, {}), address_,
                                      [this, size](bool stored, const QString& why) {
                                        storing_ = false;
                                        if (finished_) return;
                                        if (!stored) {
                                          Fail("could not store the configuration of " + imei_ + ": " + why);
                                          return;
                                        }
                                        Log("stored " + imei_ + ", " + QString::number(size) + " bytes");
                                        Answer("EndTransfer");
                                        Pull();
                                      });
  }

  void Download(const QByteArray& imei) {
    if (!monitor::IsValidImei(imei.toStdString())) {
      Drop("download under a bad IMEI \"" + Printable(imei) + "\"");
      return;
    }
    QString why;
    QByteArray bytes;
    const Outcome outcome = services_.Storage().GetConfig(QString(imei), 1, &bytes, &why);
    if (outcome == Outcome::kFailed) {
      Fail("download " + QString(imei) + ": " + why);
      return;
    }
    const qint64 size = bytes.size();
    if (outcome == Outcome::kMissing || size <= 0 || static_cast<quint64>(size) > net::kMaxStoreFile) {
      Log("download " + QString(imei) + ": not stored" + (why.isEmpty() ? QString() : " (" + why + ")"));
      Answer("notexists#");
      return;
    }
    Log("download " + QString(imei) + ", " + QString::number(size) + " bytes");
    SendFile("file#" + imei + "#" + QByteArray::number(size) + "#",
             std::make_unique<BytesReader>(std::move(bytes)), size);
  }

  bool InTransfer() const override { return upload_left_ > 0 || Session::InTransfer(); }

  QString imei_;
  std::vector<uint8_t> upload_;
  quint64 upload_left_ = 0;
};

// The three questions and the file requests of the update service.
class UpdateSession : public Session {
 public:
  UpdateSession(Services& services, QTcpSocket* socket) : Session(services, socket) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(kQuestionQuietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] {
      quiet_elapsed_ = true;
      Pull();
      quiet_elapsed_ = false;
    });
  }

 protected:
  void Process() override {
    static const QByteArray kFw = "Get_FW,type=", kConf = "Get_CONFUPD:Vexa#", kNews = "+++GetNews+++",
                            kGetFile = "GetFile=", kEnd = "EndTransfer";
    const bool quiet = quiet_elapsed_;
    quiet_.stop();
    while (!finished_ && !buffer_.isEmpty() && !Busy()) {
      if (StartsWith(buffer_, kConf)) {
        buffer_.remove(0, kConf.size());
        Newest("configurator question", kConfiguratorBuild);
      } else if (StartsWith(buffer_, kNews)) {
        buffer_.remove(0, kNews.size());
        News();
      } else if (StartsWith(buffer_, kFw)) {
        qsizetype end = kFw.size();
        while (end < buffer_.size() && end - kFw.size() < 4 &&
               std::isdigit(static_cast<unsigned char>(buffer_[end])))
          ++end;
        const bool more_may_come = end == buffer_.size() && end - kFw.size() < 4;
        if (end == kFw.size() && !more_may_come) {
          Drop("firmware question without a device type");
          return;
        }
        if (more_may_come && !quiet) {
          quiet_.start();  // the question has no terminator: a short silence ends it
          return;
        }
        if (end == kFw.size()) return;
        const int type = buffer_.mid(kFw.size(), end - kFw.size()).toInt();
        buffer_.remove(0, end);
        if (type > 255) {
          Drop("firmware question for device type " + QString::number(type));
          return;
        }
        Newest("firmware question for type " + QString::number(type), type);
      } else if (StartsWith(buffer_, kGetFile)) {
        const qsizetype end = buffer_.indexOf('#', kGetFile.size());
        if (end < 0) {
          if (buffer_.size() > kMaxRequest) Drop("request too long");
          return;
        }
        const QString name = QString::fromUtf8(buffer_.mid(kGetFile.size(), end - kGetFile.size()));
        buffer_.remove(0, end + 1);
        GetFile(name);
      } else if (StartsWith(buffer_, kEnd)) {
        buffer_.remove(0, kEnd.size());
        Log("file acknowledged");
        Finish();
      } else if (CouldBecome(buffer_, kConf) || CouldBecome(buffer_, kNews) || CouldBecome(buffer_, kFw) ||
                 CouldBecome(buffer_, kGetFile) || CouldBecome(buffer_, kEnd)) {
        return;
      } else {
        Drop("not a request: \"" + Printable(buffer_) + "\"");
        return;
      }
    }
  }

  // Answers with the newest build of a device type, or of the configurator.
  void Newest(const QString& question, int device_type) {
    QStringList names;
    QString why;
    if (services_.Storage().BuildNames(device_type, &names, &why) == Outcome::kFailed) {
      Fail(question + ": " + why);
      return;
    }
    const QString name =
        device_type == kConfiguratorBuild ? NewestConfigurator(names) : NewestFirmware(names);
    Log(question + ": " + (name.isEmpty() ? QString("none") : name));
    Answer(name.isEmpty() ? QByteArray("none") : name.toUtf8());
  }

  void News() {
    QString why;
    QByteArray text;
    const Outcome outcome = services_.Storage().News(&text, &why);
    if (outcome == Outcome::kFailed) {
      Fail("news question: " + why);
      return;
    }
    if (outcome == Outcome::kMissing) {
      Log("news question: no news" + (why.isEmpty() ? QString() : " (news.txt: " + why + ")"));
      return;
    }
    Log("news question: " + QString::number(text.size()) + " bytes");
    Answer("#News#" + text);
  }

  void GetFile(const QString& name) {
    Build build;
    QString why;
    const Outcome outcome =
        IsServableBuild(name, 1) ? services_.Storage().OpenBuild(name, &build, &why) : Outcome::kMissing;
    if (outcome == Outcome::kFailed) {
      Fail("file \"" + Printable(name.toUtf8()) + "\": " + why);
      return;
    }
    if (outcome == Outcome::kMissing) {
      Log("file \"" + Printable(name.toUtf8()) + "\": not served" +
          (why.isEmpty() ? QString() : " (" + why + ")"));
      Answer("file not exists");
      return;
    }
    Log("file " + build.path + ", " + QString::number(build.size) + " bytes");
    QString path = build.path;
    path.replace('/', '\\');
    SendFile("file#" + path.toUtf8() + "#" + QByteArray::number(build.size) + "#", std::move(build.reader),
             build.size);
  }

  QTimer quiet_;
  bool quiet_elapsed_ = false;
};

}  // namespace

Services::Services(ServiceOptions options, std::unique_ptr<Store> store)
    : options_(std::move(options)), store_(std::move(store)) {
  connect(&store_server_, &QTcpServer::newConnection, this, [this] { Accept(store_server_, true); });
  connect(&update_server_, &QTcpServer::newConnection, this, [this] { Accept(update_server_, false); });
  for (QTcpServer* server : {&store_server_, &update_server_}) {
    // The system refused a connection (out of descriptors): the server stops
    // accepting on that port, so it is resumed a little later.
    connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError) {
      Log("-", QString(server == &store_server_ ? "store" : "update") +
                   ": cannot accept: " + server->errorString());
      QTimer::singleShot(kAcceptRetryMs, this, [this, server] {
        if (!stopping_) server->resumeAccepting();
      });
    });
  }
  stop_deadline_.setSingleShot(true);
  connect(&stop_deadline_, &QTimer::timeout, this, [this] {
    Log("-", QString::number(connections_) + " connections still open: cut off");
    const QObjectList children = this->children();
    for (QObject* child : children) delete dynamic_cast<Session*>(child);
    CheckStopped();
  });
}

Services::~Services() {
  // The sessions give their place back to the counts of this object.
  const QObjectList children = this->children();
  for (QObject* child : children) delete dynamic_cast<Session*>(child);
}

void Services::Stop(int grace_ms, std::function<void()> done) {
  if (stopping_) return;
  stopping_ = true;
  stopped_ = std::move(done);
  store_server_.close();
  update_server_.close();
  Log("-", "stopping: " + QString::number(connections_) + " connections open");
  const QObjectList children = this->children();
  for (QObject* child : children) {
    if (auto* session = dynamic_cast<Session*>(child)) session->StopWhenIdle();
  }
  stop_deadline_.start(grace_ms);
  CheckStopped();
}

void Services::CheckStopped() {
  if (!stopping_ || connections_ > 0 || !stopped_) return;
  stop_deadline_.stop();
  Log("-", "stopped");
  // Run once, and not from inside a session's own event.
  QTimer::singleShot(0, this, std::exchange(stopped_, nullptr));
}

void Services::Accept(QTcpServer& server, bool store) {
  const QString port = store ? "store" : "update";
  while (QTcpSocket* socket = server.nextPendingConnection()) {
    const QString address = AddressOf(socket);
    int& from_peer = per_peer_[address];
    QString refused;
    if (connections_ >= options_.max_connections) {
      refused = QString::number(connections_) + " connections in all";
    } else if (from_peer >= options_.max_per_peer) {
      refused = QString::number(from_peer) + " connections from " + address;
    }
    if (!refused.isEmpty()) {
      if (from_peer == 0) per_peer_.remove(address);
      Log(PeerOf(socket), port + ": refused, already " + refused);
      socket->abort();
      delete socket;
      continue;
    }
    ++connections_;
    ++from_peer;
    Log(PeerOf(socket), port + ": connected");
    if (store) {
      new StoreSession(*this, socket);
    } else {
      new UpdateSession(*this, socket);
    }
  }
}

void Services::Release(const QString& address) {
  --connections_;
  const auto it = per_peer_.find(address);
  if (it != per_peer_.end() && --it.value() <= 0) per_peer_.erase(it);
  CheckStopped();
}

bool Services::Start(QString* error) {
  // Room for a burst of connections to wait for their turn (the system caps
  // it at net.core.somaxconn): a thousand new connections a second must not
  // overflow the queue while the event loop is busy with a request.
  store_server_.setListenBacklogSize(kListenBacklog);
  update_server_.setListenBacklogSize(kListenBacklog);
  if (!store_server_.listen(options_.address, options_.store_port)) {
    *error = "store port " + QString::number(options_.store_port) + ": " + store_server_.errorString();
    return false;
  }
  if (!update_server_.listen(options_.address, options_.update_port)) {
    *error = "update port " + QString::number(options_.update_port) + ": " + update_server_.errorString();
    store_server_.close();
    return false;
  }
  return true;
}

uint16_t Services::StorePort() const {
  return store_server_.serverPort();
}

uint16_t Services::UpdatePort() const {
  return update_server_.serverPort();
}

void Services::Log(const QString& peer, const QString& text) {
  const QString line =
      QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + " " + peer + " " + text + "\n";
  std::fputs(line.toLocal8Bit().constData(), stderr);
  std::fflush(stderr);
}

}  // namespace rlv::services

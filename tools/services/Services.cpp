#include "Services.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "monitor/Monitoring.h"
#include "net/ServiceProtocol.h"
#include "platform/Files.h"

namespace rlv::services {

namespace {

// A request line is never longer than this; a peer that sends more without
// completing one is dropped.
constexpr qsizetype kMaxRequest = 512;
// How long an unterminated firmware question may wait for more digits.
constexpr int kQuestionQuietMs = 100;
// The news answer fits the client's 2048-byte read.
constexpr qint64 kMaxNews = 2048 - 6;
// A file leaves in pieces of kChunk bytes, the next piece only once fewer
// than kLowWater bytes still wait in the socket: a connection never holds
// more than kChunk + kLowWater bytes of output.
constexpr qint64 kChunk = 32 * 1024;
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

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// `path` opened for reading when it is a regular file: a FIFO or a device is
// never waited on (opened without blocking and checked on the open handle, as
// the name may change in between). nullptr with the reason in `why` otherwise.
std::unique_ptr<QFile> OpenRegular(const QString& path, QString* why) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  if (::stat(native.constData(), &st) != 0) {
    *why = SystemReason(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    return nullptr;
  }
  const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = SystemReason(errno);
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *why = "not a regular file";
    return nullptr;
  }
  auto file = std::make_unique<QFile>();
  if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    *why = file->errorString();
    ::close(fd);
    return nullptr;
  }
  return file;
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
      held_ = -1;
      if (file_ && !pause_.isActive()) Pump();
      if (!Busy()) Pull();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
      Finish();
      deleteLater();
    });
    idle_.start();
  }
  ~Session() override { services_.Release(address_); }

 protected:
  // Takes the complete requests at the start of buffer_ while !Busy().
  virtual void Process() = 0;

  void Log(const QString& text) const { Services::Log(peer_, text); }

  // A file is on its way, or the answers given so far have not left yet.
  bool Busy() const { return file_ != nullptr || socket_->bytesToWrite() >= kLowWater; }

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

  void Answer(const QByteArray& text) {
    socket_->write(text);
    socket_->flush();
  }

  // The header alone, then after the pause the `size` bytes of `file`, a
  // piece at a time as the socket drains.
  void SendFile(const QByteArray& header, std::unique_ptr<QFile> file, qint64 size) {
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

 private:
  // Neither input nor output for the idle time. What the system still holds
  // for the peer may yet be shrinking, as a slow reader drains it: only a
  // peer that took nothing of it either is silent.
  void Idle() {
    const qint64 held = HeldForPeer(socket_);
    if (held > 0 && held != held_) {
      held_ = held;
      idle_.start();
      return;
    }
    Drop("silent too long");
  }

  // Queues the next pieces of the file being sent while the socket has room.
  void Pump() {
    while (file_ && file_left_ > 0 && socket_->bytesToWrite() < kLowWater) {
      const QByteArray piece = file_->read(std::min(kChunk, file_left_));
      if (piece.isEmpty()) {
        Drop("the file shrank while it was sent");
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
  std::unique_ptr<QFile> file_;
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
    const QDir data = services_.Data();
    data.mkpath("configs");
    const QString path = data.filePath("configs/" + imei_ + ".fcg");
    std::string why;
    if (!platform::DefaultFiles().Replace(path.toStdString(), upload_, &why)) {
      Drop("could not store the configuration of " + imei_ + ": " + QString::fromStdString(why));
      return;
    }
    Log("stored " + imei_ + ", " + QString::number(upload_.size()) + " bytes");
    upload_.clear();
    Answer("EndTransfer");
  }

  void Download(const QByteArray& imei) {
    if (!monitor::IsValidImei(imei.toStdString())) {
      Drop("download under a bad IMEI \"" + Printable(imei) + "\"");
      return;
    }
    const QString path = services_.Data().filePath("configs/" + QString(imei) + ".fcg");
    QString why;
    auto file = QFileInfo::exists(path) ? OpenRegular(path, &why) : nullptr;
    const qint64 size = file ? file->size() : 0;
    if (!file || size <= 0 || static_cast<quint64>(size) > net::kMaxStoreFile) {
      Log("download " + QString(imei) + ": not stored" + (why.isEmpty() ? QString() : " (" + why + ")"));
      Answer("notexists#");
      return;
    }
    Log("download " + QString(imei) + ", " + QString::number(size) + " bytes");
    SendFile("file#" + imei + "#" + QByteArray::number(size) + "#", std::move(file), size);
  }

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
        const QString name = NewestConfigurator(services_.Data());
        Log("configurator question: " + (name.isEmpty() ? QString("none") : name));
        Answer(name.isEmpty() ? QByteArray("none") : name.toUtf8());
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
        const QString name = NewestFirmware(services_.Data(), type);
        Log("firmware question for type " + QString::number(type) + ": " +
            (name.isEmpty() ? QString("none") : name));
        Answer(name.isEmpty() ? QByteArray("none") : name.toUtf8());
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

  void News() {
    const QString path = services_.Data().filePath("news.txt");
    QString why;
    auto file = QFileInfo::exists(path) ? OpenRegular(path, &why) : nullptr;
    const QByteArray text = file ? file->read(kMaxNews).trimmed() : QByteArray();
    if (text.isEmpty()) {
      Log("news question: no news" + (why.isEmpty() ? QString() : " (news.txt: " + why + ")"));
      return;
    }
    Log("news question: " + QString::number(text.size()) + " bytes");
    Answer("#News#" + text);
  }

  void GetFile(const QString& name) {
    const auto relative = ServedFile(services_.Data(), name);
    QString why;
    auto file = relative ? OpenRegular(services_.Data().filePath(*relative), &why) : nullptr;
    const qint64 size = file ? file->size() : 0;
    if (!file || size <= 0 || static_cast<quint64>(size) > net::kMaxUpdateFile) {
      Log("file \"" + Printable(name.toUtf8()) + "\": not served" +
          (why.isEmpty() ? QString() : " (" + why + ")"));
      Answer("file not exists");
      return;
    }
    Log("file " + *relative + ", " + QString::number(size) + " bytes");
    QString path = *relative;
    path.replace('/', '\\');
    SendFile("file#" + path.toUtf8() + "#" + QByteArray::number(size) + "#", std::move(file), size);
  }

  QTimer quiet_;
  bool quiet_elapsed_ = false;
};

// The regular files directly in `dir` that the protocol can carry.
QStringList Builds(const QDir& dir) {
  QStringList names;
  for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
    const std::string name = info.fileName().toStdString();
    const auto safe = net::SafeFileName(name);
    if (!safe || *safe != name || !net::IsSafeField(name)) continue;
    if (static_cast<quint64>(info.size()) > net::kMaxUpdateFile || info.size() == 0) continue;
    names << info.fileName();
  }
  return names;
}

}  // namespace

QString NewestFirmware(const QDir& data, int device_type) {
  QString best;
  net::FirmwareBuild best_build;
  for (const QString& name : Builds(QDir(data.filePath("firmware/type-" + QString::number(device_type))))) {
    const auto build = net::ParseFirmwareName(name.toStdString());
    if (!build) continue;
    if (best.isEmpty() || net::FirmwareBuildLess(best_build, *build)) {
      best = name;
      best_build = *build;
    }
  }
  return best;
}

QString NewestConfigurator(const QDir& data) {
  QString best;
  std::vector<uint32_t> best_version;
  for (const QString& name : Builds(QDir(data.filePath("configurator")))) {
    const auto version = net::ConfiguratorNameVersion(name.toStdString());
    if (!version || !name.contains("RL")) continue;
    if (best.isEmpty() || net::CompareVersions(best_version, *version) < 0) {
      best = name;
      best_version = *version;
    }
  }
  return best;
}

std::optional<QString> ServedFile(const QDir& data, const QString& name) {
  if (Builds(QDir(data.filePath("configurator"))).contains(name)) return "configurator/" + name;
  const QDir firmware(data.filePath("firmware"));
  for (const QString& folder : firmware.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    if (!folder.startsWith("type-")) continue;
    if (Builds(QDir(firmware.filePath(folder))).contains(name)) return "firmware/" + folder + "/" + name;
  }
  return std::nullopt;
}

Services::Services(ServiceOptions options) : options_(std::move(options)) {
  connect(&store_, &QTcpServer::newConnection, this, [this] { Accept(store_, true); });
  connect(&update_, &QTcpServer::newConnection, this, [this] { Accept(update_, false); });
  for (QTcpServer* server : {&store_, &update_}) {
    // The system refused a connection (out of descriptors): the server stops
    // accepting on that port, so it is resumed a little later.
    connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError) {
      Log("-", QString(server == &store_ ? "store" : "update") + ": cannot accept: " + server->errorString());
      QTimer::singleShot(kAcceptRetryMs, this, [server] { server->resumeAccepting(); });
    });
  }
}

Services::~Services() {
  // The sessions give their place back to the counts of this object.
  const QObjectList children = this->children();
  for (QObject* child : children) delete dynamic_cast<Session*>(child);
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
}

bool Services::Start(QString* error) {
  if (!QDir(options_.data_dir).exists()) {
    *error = "no data folder " + options_.data_dir;
    return false;
  }
  // Enough room for a burst of connections to wait for their turn.
  const int backlog = std::clamp(options_.max_connections, 64, 4096);
  store_.setListenBacklogSize(backlog);
  update_.setListenBacklogSize(backlog);
  if (!store_.listen(options_.address, options_.store_port)) {
    *error = "store port " + QString::number(options_.store_port) + ": " + store_.errorString();
    return false;
  }
  if (!update_.listen(options_.address, options_.update_port)) {
    *error = "update port " + QString::number(options_.update_port) + ": " + update_.errorString();
    store_.close();
    return false;
  }
  return true;
}

uint16_t Services::StorePort() const {
  return store_.serverPort();
}

uint16_t Services::UpdatePort() const {
  return update_.serverPort();
}

void Services::Log(const QString& peer, const QString& text) {
  const QString line =
      QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + " " + peer + " " + text + "\n";
  std::fputs(line.toLocal8Bit().constData(), stderr);
  std::fflush(stderr);
}

}  // namespace rlv::services

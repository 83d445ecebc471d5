#include "Services.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "monitor/Monitoring.h"
#include "net/ServiceProtocol.h"

namespace rlv::services {

namespace {

// A request line is never longer than this; a peer that sends more without
// completing one is dropped.
constexpr qsizetype kMaxRequest = 512;
// How long an unterminated firmware question may wait for more digits.
constexpr int kQuestionQuietMs = 100;
// The news answer fits the client's 2048-byte read.
constexpr qint64 kMaxNews = 2048 - 6;

QString PeerOf(const QTcpSocket* socket) {
  QHostAddress address = socket->peerAddress();
  bool ok = false;
  const quint32 v4 = address.toIPv4Address(&ok);
  if (ok) address = QHostAddress(v4);
  return address.toString() + ":" + QString::number(socket->peerPort());
}

// What a file of the data folder would be as bytes to send; nullopt when it
// cannot be read or is too large for the protocol.
std::optional<QByteArray> ReadServed(const QString& path, quint64 max) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || static_cast<quint64>(file.size()) > max) return std::nullopt;
  QByteArray bytes = file.readAll();
  if (bytes.isEmpty() || static_cast<quint64>(bytes.size()) > max) return std::nullopt;
  return bytes;
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

// One client connection; deletes itself when the connection ends.
class Session : public QObject {
 public:
  Session(Services& services, QTcpSocket* socket) : QObject(&services), services_(services), socket_(socket) {
    socket_->setParent(this);
    peer_ = PeerOf(socket_);
    idle_.setSingleShot(true);
    idle_.setInterval(services_.Options().idle_seconds * 1000);
    connect(&idle_, &QTimer::timeout, this, [this] { Drop("silent too long"); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
      idle_.start();
      buffer_ += socket_->readAll();
      Process();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { Finish(); });
    idle_.start();
  }

 protected:
  virtual void Process() = 0;

  void Log(const QString& text) const { Services::Log(peer_, text); }

  // Ends the connection after what is queued has left.
  void Finish() {
    if (finished_) return;
    finished_ = true;
    idle_.stop();
    socket_->disconnectFromHost();
    deleteLater();
  }
  void Drop(const QString& why) {
    Log("dropped: " + why);
    buffer_.clear();
    Finish();
  }

  // The header alone, then the file after the pause.
  void SendFile(const QByteArray& header, const QByteArray& body) {
    socket_->write(header);
    socket_->flush();
    QTimer::singleShot(services_.Options().pause_ms, this, [this, body] {
      if (finished_) return;
      socket_->write(body);
      socket_->flush();
    });
  }

  Services& services_;
  QTcpSocket* socket_;
  QString peer_;
  QByteArray buffer_;
  QTimer idle_;
  bool finished_ = false;
};

// "file#IMEI#size#" and the file: stored; "download#IMEI#": served.
class StoreSession : public Session {
 public:
  using Session::Session;

 protected:
  void Process() override {
    while (!finished_ && !buffer_.isEmpty()) {
      if (upload_left_ > 0) {
        const qsizetype take = static_cast<qsizetype>(std::min<quint64>(upload_left_, buffer_.size()));
        upload_ += buffer_.left(take);
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

  void Store() {
    const QDir data = services_.Data();
    data.mkpath("configs");
    QSaveFile file(data.filePath("configs/" + imei_ + ".fcg"));
    if (!file.open(QIODevice::WriteOnly) || file.write(upload_) != upload_.size() || !file.commit()) {
      Drop("could not store the configuration of " + imei_ + ": " + file.errorString());
      return;
    }
    Log("stored " + imei_ + ", " + QString::number(upload_.size()) + " bytes");
    upload_.clear();
    socket_->write("EndTransfer");
    socket_->flush();
  }

  void Download(const QByteArray& imei) {
    if (!monitor::IsValidImei(imei.toStdString())) {
      Drop("download under a bad IMEI \"" + Printable(imei) + "\"");
      return;
    }
    const QString path = services_.Data().filePath("configs/" + QString(imei) + ".fcg");
    const auto body = QFileInfo(path).isFile() ? ReadServed(path, net::kMaxStoreFile) : std::nullopt;
    if (!body) {
      Log("download " + QString(imei) + ": not stored");
      socket_->write("notexists#");
      socket_->flush();
      return;
    }
    Log("download " + QString(imei) + ", " + QString::number(body->size()) + " bytes");
    SendFile("file#" + imei + "#" + QByteArray::number(body->size()) + "#", *body);
  }

  QString imei_;
  QByteArray upload_;
  quint64 upload_left_ = 0;
};

// The three questions and the file requests of the update service.
class UpdateSession : public Session {
 public:
  UpdateSession(Services& services, QTcpSocket* socket) : Session(services, socket) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(kQuestionQuietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] { Process(true); });
  }

 protected:
  void Process() override { Process(false); }

 private:
  void Process(bool quiet) {
    static const QByteArray kFw = "Get_FW,type=", kConf = "Get_CONFUPD:Vexa#", kNews = "+++GetNews+++",
                            kGetFile = "GetFile=", kEnd = "EndTransfer";
    quiet_.stop();
    while (!finished_ && !buffer_.isEmpty()) {
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

  void Answer(const QByteArray& text) {
    socket_->write(text);
    socket_->flush();
  }

  void News() {
    QFile file(services_.Data().filePath("news.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
      Log("news question: no news");
      return;
    }
    const QByteArray text = file.read(kMaxNews).trimmed();
    if (text.isEmpty()) {
      Log("news question: no news");
      return;
    }
    Log("news question: " + QString::number(text.size()) + " bytes");
    Answer("#News#" + text);
  }

  void GetFile(const QString& name) {
    const auto relative = ServedFile(services_.Data(), name);
    const auto body =
        relative ? ReadServed(services_.Data().filePath(*relative), net::kMaxUpdateFile) : std::nullopt;
    if (!body) {
      Log("file \"" + Printable(name.toUtf8()) + "\": not served");
      Answer("file not exists");
      return;
    }
    Log("file " + *relative + ", " + QString::number(body->size()) + " bytes");
    QString path = *relative;
    path.replace('/', '\\');
    SendFile("file#" + path.toUtf8() + "#" + QByteArray::number(body->size()) + "#", *body);
  }

  QTimer quiet_;
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
  connect(&store_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = store_.nextPendingConnection()) {
      Log(PeerOf(socket), "store: connected");
      new StoreSession(*this, socket);
    }
  });
  connect(&update_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = update_.nextPendingConnection()) {
      Log(PeerOf(socket), "update: connected");
      new UpdateSession(*this, socket);
    }
  });
}

bool Services::Start(QString* error) {
  if (!QDir(options_.data_dir).exists()) {
    *error = "no data folder " + options_.data_dir;
    return false;
  }
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

// The data folder on this host:
//   configs/<IMEI>.fcg            the newest configuration of each IMEI (no history)
//   firmware/type-<N>/<file>      firmware builds for device type N
//   configurator/<file>           configurator builds
//   news.txt                      the news text

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

#include "Store.h"
#include "monitor/Monitoring.h"
#include "net/ServiceProtocol.h"
#include "platform/Files.h"

namespace rlv::services {

namespace {

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

// The regular files directly in `dir` that the protocol can carry.
QStringList Builds(const QDir& dir) {
  QStringList names;
  for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
    if (IsServableBuild(info.fileName(), info.size())) names << info.fileName();
  }
  return names;
}

class FileReader : public BuildReader {
 public:
  explicit FileReader(std::unique_ptr<QFile> file) : file_(std::move(file)) {}
  QByteArray Read(qint64 max, QString* why) override {
    QByteArray piece = file_->read(max);
    if (piece.isEmpty()) *why = "the file shrank while it was sent";
    return piece;
  }

 private:
  std::unique_ptr<QFile> file_;
};

class FolderStore : public Store {
 public:
  explicit FolderStore(const QString& dir) : dir_(dir) { pool_.setMaxThreadCount(kWriters); }
  // The writes under way finish first; their answers are dropped with relay_.
  ~FolderStore() override { pool_.waitForDone(); }

  QString Describe() const override { return "folder " + dir_.path(); }

  bool PutConfig(const QString& imei, const std::vector<uint8_t>& bytes, const QString&,
                 QString* why) override {
    dir_.mkpath("configs");
    std::string reason;
    if (!platform::DefaultFiles().Replace(ConfigPath(imei).toStdString(), bytes, &reason)) {
      *why = QString::fromStdString(reason);
      return false;
    }
    return true;
  }

  // The file is written and flushed to the disk by one of a few threads, so
  // that the disk's journal takes the flushes of several uploads at once;
  // uploads of one IMEI wait for each other.
  void PutConfigThen(QObject* context, const QString& imei, std::vector<uint8_t> bytes, const QString&,
                     StoredCallback done) override {
    std::deque<Write>& queue = writes_[imei];
    queue.push_back(Write{QPointer<QObject>(context), std::move(bytes), std::move(done)});
    if (queue.size() == 1) Launch(imei);
  }

  Outcome GetConfig(const QString& imei, int version, QByteArray* bytes, QString* why) override {
    const QString path = ConfigPath(imei);
    if (version != 1 || !QFileInfo::exists(path)) return Outcome::kMissing;
    auto file = OpenRegular(path, why);
    if (!file) return Outcome::kMissing;
    if (file->size() <= 0 || static_cast<quint64>(file->size()) > net::kMaxStoreFile) {
      *why = "size " + QString::number(file->size());
      return Outcome::kMissing;
    }
    *bytes = file->read(static_cast<qint64>(net::kMaxStoreFile));
    if (bytes->isEmpty()) {
      *why = file->errorString();
      return Outcome::kFailed;
    }
    return Outcome::kFound;
  }

  bool ListConfigs(const QString& imei, std::vector<StoredConfig>* out, QString*) override {
    const QDir configs(dir_.filePath("configs"));
    for (const QFileInfo& info : configs.entryInfoList({"*.fcg"}, QDir::Files, QDir::Name)) {
      const QString name = info.completeBaseName();
      if (!monitor::IsValidImei(name.toStdString()) || (!imei.isEmpty() && name != imei)) continue;
      StoredConfig entry;
      entry.imei = name;
      entry.time = info.lastModified();
      entry.size = info.size();
      out->push_back(entry);
    }
    return true;
  }

  Outcome BuildNames(int device_type, QStringList* names, QString*) override {
    *names = Builds(QDir(dir_.filePath(Folder(device_type))));
    return names->isEmpty() ? Outcome::kMissing : Outcome::kFound;
  }

  Outcome OpenBuild(const QString& name, Build* build, QString* why) override {
    const auto relative = Served(name);
    if (!relative) return Outcome::kMissing;
    auto file = OpenRegular(dir_.filePath(*relative), why);
    if (!file) return Outcome::kMissing;
    const qint64 size = file->size();
    if (size <= 0 || static_cast<quint64>(size) > net::kMaxUpdateFile) return Outcome::kMissing;
    build->path = *relative;
    build->size = size;
    build->reader = std::make_unique<FileReader>(std::move(file));
    return Outcome::kFound;
  }

  Outcome News(QByteArray* text, QString* why) override {
    const QString path = dir_.filePath("news.txt");
    if (!QFileInfo::exists(path)) return Outcome::kMissing;
    auto file = OpenRegular(path, why);
    if (!file) return Outcome::kMissing;
    *text = file->read(kMaxNews).trimmed();
    return text->isEmpty() ? Outcome::kMissing : Outcome::kFound;
  }

  bool PublishBuild(int device_type, const QString& name, QIODevice& source, qint64 size,
                    QString* why) override {
    const QString folder = Folder(device_type);
    if (!dir_.mkpath(folder)) {
      *why = "cannot create " + dir_.filePath(folder);
      return false;
    }
    platform::OutputFile out;
    if (!out.Open(dir_.filePath(folder + "/" + name).toStdString())) {
      *why = QString::fromStdString(out.Error());
      return false;
    }
    for (qint64 left = size; left > 0;) {
      const QByteArray piece = source.read(std::min(left, kBuildPiece));
      if (piece.isEmpty()) {
        *why = "the file ended early";
        return false;
      }
      if (!out.Write(reinterpret_cast<const uint8_t*>(piece.constData()),
                     static_cast<size_t>(piece.size()))) {
        *why = QString::fromStdString(out.Error());
        return false;
      }
      left -= piece.size();
    }
    if (!out.Commit()) {
      *why = QString::fromStdString(out.Error());
      return false;
    }
    return true;
  }

  bool SetNews(const QByteArray& text, QString* why) override {
    std::string reason;
    if (!platform::DefaultFiles().Replace(dir_.filePath("news.txt").toStdString(),
                                          std::vector<uint8_t>(text.begin(), text.end()), &reason)) {
      *why = QString::fromStdString(reason);
      return false;
    }
    return true;
  }

 private:
  static constexpr int kWriters = 8;
  struct Write {
    QPointer<QObject> context;
    std::vector<uint8_t> bytes;
    StoredCallback done;
  };

  void Launch(const QString& imei) {
    dir_.mkpath("configs");
    const std::string path = ConfigPath(imei).toStdString();
    const std::vector<uint8_t>* bytes = &writes_[imei].front().bytes;  // stays until Finished()
    QObject* relay = &relay_;
    pool_.start([this, relay, imei, path, bytes] {
      std::string reason;
      const bool stored = platform::DefaultFiles().Replace(path, *bytes, &reason);
      QMetaObject::invokeMethod(
          relay, [this, imei, stored, reason] { Finished(imei, stored, QString::fromStdString(reason)); },
          Qt::QueuedConnection);
    });
  }

  void Finished(const QString& imei, bool stored, const QString& why) {
    const auto it = writes_.find(imei);
    if (it == writes_.end() || it->empty()) return;
    Write write = std::move(it->front());
    it->pop_front();
    if (it->empty()) {
      writes_.erase(it);
    } else {
      Launch(imei);
    }
    if (write.context) write.done(stored, why);
  }

  QString ConfigPath(const QString& imei) const { return dir_.filePath("configs/" + imei + ".fcg"); }

  static QString Folder(int device_type) {
    return device_type == kConfiguratorBuild ? QString("configurator")
                                             : "firmware/type-" + QString::number(device_type);
  }

  // The path, relative to the folder, of the build a client may ask for by
  // `name`: only the builds the service lists are served.
  std::optional<QString> Served(const QString& name) const {
    if (Builds(QDir(dir_.filePath("configurator"))).contains(name)) return "configurator/" + name;
    const QDir firmware(dir_.filePath("firmware"));
    for (const QString& folder : firmware.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
      if (!folder.startsWith("type-")) continue;
      if (Builds(QDir(firmware.filePath(folder))).contains(name)) return "firmware/" + folder + "/" + name;
    }
    return std::nullopt;
  }

  QDir dir_;
  QHash<QString, std::deque<Write>> writes_;  // per IMEI: the one being written first
  QObject relay_;                             // brings the outcomes back to this thread
  QThreadPool pool_;
};

}  // namespace

bool IsServableBuild(const QString& name, qint64 size) {
  const std::string text = name.toStdString();
  const auto safe = net::SafeFileName(text);
  if (!safe || *safe != text || !net::IsSafeField(text)) return false;
  return size > 0 && static_cast<quint64>(size) <= net::kMaxUpdateFile;
}

QString NewestFirmware(const QStringList& names) {
  QString best;
  net::FirmwareBuild best_build;
  for (const QString& name : names) {
    const auto build = net::ParseFirmwareName(name.toStdString());
    if (!build) continue;
    if (best.isEmpty() || net::FirmwareBuildLess(best_build, *build)) {
      best = name;
      best_build = *build;
    }
  }
  return best;
}

QString NewestConfigurator(const QStringList& names) {
  QString best;
  std::vector<uint32_t> best_version;
  for (const QString& name : names) {
    const auto version = net::ConfiguratorNameVersion(name.toStdString());
    if (!version || !name.contains("RL")) continue;
    if (best.isEmpty() || net::CompareVersions(best_version, *version) < 0) {
      best = name;
      best_version = *version;
    }
  }
  return best;
}

std::unique_ptr<Store> OpenFolderStore(const QString& dir, QString* why) {
  if (dir.isEmpty() || !QDir(dir).exists()) {
    *why = "no data folder " + dir;
    return nullptr;
  }
  return std::make_unique<FolderStore>(dir);
}

bool IsDatabase(const QString& where) {
  return where == "pg" || where.startsWith("postgresql:") || where.startsWith("postgres:");
}

std::unique_ptr<Store> OpenStore(const QString& where, int keep, QString* why) {
  if (!IsDatabase(where)) return OpenFolderStore(where, why);
  // "pg" and a bare "postgresql:" leave everything to libpq's variables.
  const bool bare = where == "pg" || where == "postgresql:" || where == "postgres:";
  return OpenPgStore(bare ? QString() : where, keep, why);
}

}  // namespace rlv::services

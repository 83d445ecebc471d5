#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace rlv::services {

// What the server keeps, behind one interface: the configurations by IMEI,
// the firmware builds by device type, the configurator builds and the news
// text. Two kinds: a data folder on this host, and a PostgreSQL database that
// any number of servers share. Every call is short and synchronous; a call
// that fails says why and leaves what was stored as it was.

enum class Outcome {
  kFound,    // the answer is there
  kMissing,  // nothing is stored under that name
  kFailed,   // the store could not be asked (the reason is given)
};

// A build on its way to a client, read a piece at a time so that it is never
// held whole.
class BuildReader {
 public:
  virtual ~BuildReader() = default;
  // The next piece of at most `max` bytes; empty, with the reason in `why`,
  // when it cannot be had.
  virtual QByteArray Read(qint64 max, QString* why) = 0;
};

// A build found for a client.
struct Build {
  QString path;  // announced to the client: "firmware/type-8/<name>" or "configurator/<name>"
  qint64 size = 0;
  std::unique_ptr<BuildReader> reader;
};

// One kept version of a configuration.
struct StoredConfig {
  QString imei;
  int version = 1;   // 1 = the newest, 2 the one before, ...
  int versions = 1;  // how many are kept for this IMEI
  QDateTime time;
  QString peer;  // the address it came from (empty where not kept)
  qint64 size = 0;
};

// A device type for PublishBuild that means a configurator build.
constexpr int kConfiguratorBuild = -1;

class Store {
 public:
  virtual ~Store() = default;
  // What the store is, for the log ("folder /srv/rlvexa", "PostgreSQL ...").
  virtual QString Describe() const = 0;

  // Keeps `bytes` as the newest configuration of `imei`, uploaded by `peer`.
  // True only once it is stored for good.
  virtual bool PutConfig(const QString& imei, const std::vector<uint8_t>& bytes, const QString& peer,
                         QString* why) = 0;
  // PutConfig for a server: `done` gets the outcome later from the event
  // loop of the calling thread (or at once), and is dropped when `context`
  // is gone by then. Uploads of one IMEI are stored in the order they came.
  using StoredCallback = std::function<void(bool stored, const QString& why)>;
  virtual void PutConfigThen(QObject* context, const QString& imei, std::vector<uint8_t> bytes,
                             const QString& peer, StoredCallback done) {
    (void)context;
    QString why;
    const bool stored = PutConfig(imei, bytes, peer, &why);
    done(stored, why);
  }
  // The configuration of `imei`: `version` 1 is the newest.
  virtual Outcome GetConfig(const QString& imei, int version, QByteArray* bytes, QString* why) = 0;
  // With an empty `imei` the newest version of every IMEI, else every kept
  // version of that one, newest first.
  virtual bool ListConfigs(const QString& imei, std::vector<StoredConfig>* out, QString* why) = 0;

  // The names of the builds offered: firmware for a device type, or the
  // configurator builds.
  virtual Outcome BuildNames(int device_type, QStringList* names, QString* why) = 0;
  // The build a client asks for by its bare name.
  virtual Outcome OpenBuild(const QString& name, Build* build, QString* why) = 0;
  // The news text (at most kMaxNews bytes, trimmed).
  virtual Outcome News(QByteArray* text, QString* why) = 0;

  // Adds (or replaces) the build `name` of `size` bytes read from `source`;
  // `device_type` kConfiguratorBuild for a configurator build.
  virtual bool PublishBuild(int device_type, const QString& name, QIODevice& source, qint64 size,
                            QString* why) = 0;
  virtual bool SetNews(const QByteArray& text, QString* why) = 0;
};

// The news answer fits the client's 2048-byte read after "#News#".
constexpr qint64 kMaxNews = 2048 - 6;
// Builds are read and kept in pieces of this size.
constexpr qint64 kBuildPiece = 32 * 1024;

// A bare build name the protocol can carry (no path, no "#", no control
// characters) and a size it may announce.
bool IsServableBuild(const QString& name, qint64 size);
// The newest of `names`: firmware by its version and build numbers,
// configurator builds by their dotted version (only names with "RL").
// Empty when none qualifies.
QString NewestFirmware(const QStringList& names);
QString NewestConfigurator(const QStringList& names);

// The data folder `dir` (which must exist).
std::unique_ptr<Store> OpenFolderStore(const QString& dir, QString* why);
// A PostgreSQL database: `conninfo` is a "postgresql://" URL or empty for the
// libpq environment variables (PGHOST, PGPORT, PGDATABASE, PGUSER, ...). The
// schema is created or brought up to date; a database whose schema is newer
// than this program knows is refused. `keep` versions are kept per IMEI.
std::unique_ptr<Store> OpenPgStore(const QString& conninfo, int keep, QString* why);

// The store `where` names: "pg", or a URL starting "postgresql:" or
// "postgres:", is a database; anything else a data folder.
bool IsDatabase(const QString& where);
std::unique_ptr<Store> OpenStore(const QString& where, int keep, QString* why);

}  // namespace rlv::services

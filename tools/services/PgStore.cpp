// The store in a PostgreSQL database, through libpq. Any number of servers
// may share one database: each request is one short statement or one
// transaction, and nothing outlives it in the server. The calls block the
// event loop for as long as the database takes to answer, which is short on a
// near database; a database that cannot be reached gives up after the
// connection timeout, one that stops answering after the answer timeout, and
// the request fails.

#include <libpq-fe.h>
#include <poll.h>

#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "Store.h"

namespace rlv::services {

namespace {

// The schema this program knows; each step brings the schema from the
// version before it to its own.
constexpr int kSchemaVersion = 1;
const char* const kMigrations[kSchemaVersion] = {
    // 1: configurations with their history, builds in pieces, the news.
    "CREATE TABLE rlvexa_configs ("
    "  id bigserial PRIMARY KEY,"
    "  imei text NOT NULL,"
    "  stored timestamptz NOT NULL DEFAULT now(),"
    "  peer text NOT NULL,"
    "  data bytea NOT NULL);"
    "CREATE INDEX rlvexa_configs_imei ON rlvexa_configs (imei, id DESC);"
    "CREATE TABLE rlvexa_builds ("
    "  id bigserial PRIMARY KEY,"
    "  device_type integer NOT NULL,"  // -1: a configurator build
    "  name text NOT NULL UNIQUE,"
    "  size bigint NOT NULL,"
    "  published timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX rlvexa_builds_type ON rlvexa_builds (device_type);"
    "CREATE TABLE rlvexa_build_pieces ("
    "  build_id bigint NOT NULL REFERENCES rlvexa_builds (id) ON DELETE CASCADE,"
    "  seq integer NOT NULL,"
    "  data bytea NOT NULL,"
    "  PRIMARY KEY (build_id, seq));"
    "CREATE TABLE rlvexa_news ("
    "  id integer PRIMARY KEY CHECK (id = 1),"
    "  text bytea NOT NULL,"
    "  changed timestamptz NOT NULL DEFAULT now());",
};
// Advisory lock keys: the schema while it is checked, and one IMEI while a
// configuration is stored (so that versions are numbered in the order they
// were confirmed).
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7265, 0)";
constexpr const char* kImeiLock = "SELECT pg_advisory_xact_lock(7266, hashtext($1))";

class Result {
 public:
  explicit Result(PGresult* result = nullptr) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&& other) noexcept {
    std::swap(result_, other.result_);
    return *this;
  }
  bool Ok() const {
    const ExecStatusType status = result_ ? PQresultStatus(result_) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  int Rows() const { return result_ ? PQntuples(result_) : 0; }
  QByteArray Bytes(int row, int column) const {
    return QByteArray(PQgetvalue(result_, row, column), PQgetlength(result_, row, column));
  }
  QString Text(int row, int column) const { return QString::fromUtf8(Bytes(row, column)); }
  qint64 Number(int row, int column) const { return Bytes(row, column).toLongLong(); }
  PGresult* get() const { return result_; }

 private:
  PGresult* result_;
};

// One parameter of a statement: text, or binary for bytea.
struct Param {
  QByteArray value;
  bool binary = false;
};

QString Trimmed(const char* message) {
  return QString::fromUtf8(message).trimmed().replace('\n', "; ");
}

class PgStore;

class PieceReader : public BuildReader {
 public:
  PieceReader(PgStore& store, qint64 id) : store_(store), id_(id) {}
  QByteArray Read(qint64 max, QString* why) override;

 private:
  PgStore& store_;
  qint64 id_;
  int seq_ = 0;
  QByteArray left_;  // the part of the last piece not yet taken
};

class PgStore : public Store {
 public:
  PgStore(QString conninfo, int keep) : conninfo_(std::move(conninfo)), keep_(keep) {}
  ~PgStore() override { Disconnect(); }

  QString Describe() const override {
    if (conn_ == nullptr) return "PostgreSQL";
    return QString("PostgreSQL database %1 on %2:%3")
        .arg(QString::fromUtf8(PQdb(conn_)), QString::fromUtf8(PQhost(conn_)),
             QString::fromUtf8(PQport(conn_)));
  }

  // Connects and brings the schema up to date.
  bool Open(QString* why) {
    return Transaction(why, [&](QString* reason) {
      if (!Run(kSchemaLock, {}, reason)) return false;
      if (!Run("CREATE TABLE IF NOT EXISTS rlvexa_schema (version integer NOT NULL)", {}, reason))
        return false;
      Result version = Exec("SELECT coalesce(max(version), 0) FROM rlvexa_schema", {}, false, reason);
      if (!version.Ok() || version.Rows() != 1) return false;
      const qint64 have = version.Number(0, 0);
      if (have > kSchemaVersion) {
        *reason = QString(
                      "the database's schema is version %1, newer than this program knows (%2): "
                      "run a newer rlvexa-services")
                      .arg(have)
                      .arg(kSchemaVersion);
        return false;
      }
      for (qint64 step = have; step < kSchemaVersion; ++step) {
        if (!Run(kMigrations[step], {}, reason)) return false;
      }
      if (have < kSchemaVersion && !Run("INSERT INTO rlvexa_schema (version) VALUES ($1)",
                                        {{QByteArray::number(kSchemaVersion)}}, reason)) {
        return false;
      }
      return true;
    });
  }

  bool PutConfig(const QString& imei, const std::vector<uint8_t>& bytes, const QString& peer,
                 QString* why) override {
    const QByteArray key = imei.toUtf8();
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return Transaction(why, [&](QString* reason) {
      return Run(kImeiLock, {{key}}, reason) &&
             Run("INSERT INTO rlvexa_configs (imei, peer, data) VALUES ($1, $2, $3)",
                 {{key}, {peer.toUtf8()}, {data, true}}, reason) &&
             Run("DELETE FROM rlvexa_configs WHERE imei = $1 AND id NOT IN "
                 "(SELECT id FROM rlvexa_configs WHERE imei = $1 ORDER BY id DESC LIMIT $2)",
                 {{key}, {QByteArray::number(keep_)}}, reason);
    });
  }

  Outcome GetConfig(const QString& imei, int version, QByteArray* bytes, QString* why) override {
    if (version < 1) return Outcome::kMissing;
    Result result =
        Query("SELECT data FROM rlvexa_configs WHERE imei = $1 ORDER BY id DESC OFFSET $2 LIMIT 1",
              {{imei.toUtf8()}, {QByteArray::number(version - 1)}}, true, why);
    if (!result.Ok()) return Outcome::kFailed;
    if (result.Rows() == 0) return Outcome::kMissing;
    *bytes = result.Bytes(0, 0);
    return Outcome::kFound;
  }

  bool ListConfigs(const QString& imei, std::vector<StoredConfig>* out, QString* why) override {
    static const char* kAll =
        "SELECT DISTINCT ON (imei) imei, 1, (SELECT count(*) FROM rlvexa_configs d WHERE d.imei = c.imei), "
        "(extract(epoch FROM stored) * 1000)::bigint, peer, length(data) FROM rlvexa_configs c "
        "ORDER BY imei, id DESC";
    static const char* kOne =
        "SELECT imei, row_number() OVER (ORDER BY id DESC), count(*) OVER (), "
        "(extract(epoch FROM stored) * 1000)::bigint, peer, length(data) FROM rlvexa_configs "
        "WHERE imei = $1 ORDER BY id DESC";
    Result result = imei.isEmpty() ? Query(kAll, {}, false, why) : Query(kOne, {{imei.toUtf8()}}, false, why);
    if (!result.Ok()) return false;
    for (int row = 0; row < result.Rows(); ++row) {
      StoredConfig entry;
      entry.imei = result.Text(row, 0);
      entry.version = static_cast<int>(result.Number(row, 1));
      entry.versions = static_cast<int>(result.Number(row, 2));
      entry.time = QDateTime::fromMSecsSinceEpoch(result.Number(row, 3));
      entry.peer = result.Text(row, 4);
      entry.size = result.Number(row, 5);
      out->push_back(entry);
    }
    return true;
  }

  Outcome BuildNames(int device_type, QStringList* names, QString* why) override {
    Result result = Query("SELECT name, size FROM rlvexa_builds WHERE device_type = $1",
                          {{QByteArray::number(device_type)}}, false, why);
    if (!result.Ok()) return Outcome::kFailed;
    for (int row = 0; row < result.Rows(); ++row) {
      if (IsServableBuild(result.Text(row, 0), result.Number(row, 1))) names->append(result.Text(row, 0));
    }
    return names->isEmpty() ? Outcome::kMissing : Outcome::kFound;
  }

  Outcome OpenBuild(const QString& name, Build* build, QString* why) override {
    Result result = Query("SELECT id, device_type, size FROM rlvexa_builds WHERE name = $1",
                          {{name.toUtf8()}}, false, why);
    if (!result.Ok()) return Outcome::kFailed;
    if (result.Rows() == 0 || !IsServableBuild(name, result.Number(0, 2))) return Outcome::kMissing;
    const qint64 type = result.Number(0, 1);
    build->path = type == kConfiguratorBuild ? "configurator/" + name
                                             : "firmware/type-" + QString::number(type) + "/" + name;
    build->size = result.Number(0, 2);
    build->reader = std::make_unique<PieceReader>(*this, result.Number(0, 0));
    return Outcome::kFound;
  }

  Outcome News(QByteArray* text, QString* why) override {
    Result result = Query("SELECT text FROM rlvexa_news WHERE id = 1", {}, true, why);
    if (!result.Ok()) return Outcome::kFailed;
    if (result.Rows() == 0) return Outcome::kMissing;
    *text = result.Bytes(0, 0).left(kMaxNews).trimmed();
    return text->isEmpty() ? Outcome::kMissing : Outcome::kFound;
  }

  bool PublishBuild(int device_type, const QString& name, QIODevice& source, qint64 size,
                    QString* why) override {
    return Transaction(why, [&](QString* reason) {
      if (!Run("DELETE FROM rlvexa_builds WHERE name = $1", {{name.toUtf8()}}, reason)) return false;
      Result id = Exec("INSERT INTO rlvexa_builds (device_type, name, size) VALUES ($1, $2, $3) RETURNING id",
                       {{QByteArray::number(device_type)}, {name.toUtf8()}, {QByteArray::number(size)}},
                       false, reason);
      if (!id.Ok() || id.Rows() != 1) return false;
      const QByteArray build = id.Bytes(0, 0);
      int seq = 0;
      for (qint64 left = size; left > 0; ++seq) {
        const QByteArray piece = source.read(std::min(left, kBuildPiece));
        if (piece.isEmpty()) {
          *reason = "the file ended early";
          return false;
        }
        if (!Run("INSERT INTO rlvexa_build_pieces (build_id, seq, data) VALUES ($1, $2, $3)",
                 {{build}, {QByteArray::number(seq)}, {piece, true}}, reason)) {
          return false;
        }
        left -= piece.size();
      }
      return true;
    });
  }

  bool SetNews(const QByteArray& text, QString* why) override {
    return Transaction(why, [&](QString* reason) {
      return Run(
          "INSERT INTO rlvexa_news (id, text) VALUES (1, $1) "
          "ON CONFLICT (id) DO UPDATE SET text = excluded.text, changed = now()",
          {{text, true}}, reason);
    });
  }

  // The piece `seq` of the build `id`; empty with the reason when it is gone.
  QByteArray Piece(qint64 id, int seq, QString* why) {
    Result result = Query("SELECT data FROM rlvexa_build_pieces WHERE build_id = $1 AND seq = $2",
                          {{QByteArray::number(id)}, {QByteArray::number(seq)}}, true, why);
    if (!result.Ok()) return {};
    if (result.Rows() == 0) {
      *why = "the build was replaced while it was sent";
      return {};
    }
    return result.Bytes(0, 0);
  }

 private:
  bool Connect(QString* why) {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return true;
    Disconnect();
    // A database that could not be reached is tried again only a little
    // later: meanwhile requests fail at once instead of each waiting for
    // the connection timeout.
    if (failed_.isValid() && failed_.elapsed() < kRetryAfterMs) {
      *why = last_failure_;
      return false;
    }
    // A host that does not answer must not hold the server for long: a
    // connection timeout, and a timeout on unacknowledged data, unless the
    // operator gave them.
    std::vector<const char*> keys, values;
    const QByteArray url = conninfo_.toUtf8();
    if (!url.isEmpty()) {
      keys.push_back("dbname");
      values.push_back(url.constData());
    }
    if (!url.contains("connect_timeout") && std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
      keys.push_back("connect_timeout");
      values.push_back("5");
    }
    if (!url.contains("tcp_user_timeout")) {
      keys.push_back("tcp_user_timeout");
      values.push_back("10000");
    }
    keys.push_back("fallback_application_name");
    values.push_back("rlvexa-services");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
      *why = "cannot connect to the database: " +
             (conn_ ? Trimmed(PQerrorMessage(conn_)) : QString("out of memory"));
      last_failure_ = *why;
      failed_.start();
      Disconnect();
      return false;
    }
    failed_.invalidate();
    Exec("SET client_min_messages = warning", {}, false, why);
    return true;
  }

  void Disconnect() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
  }

  // One statement on the open connection. On failure the reason is in `why`;
  // a connection found broken is dropped, to be made again next time.
  Result Exec(const char* sql, const std::vector<Param>& params, bool binary_result, QString* why) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
      values.push_back(p.value.constData());
      lengths.push_back(static_cast<int>(p.value.size()));
      formats.push_back(p.binary ? 1 : 0);
    }
    // Without parameters a text may hold several statements (the schema's).
    const int sent =
        params.empty() && !binary_result
            ? PQsendQuery(conn_, sql)
            : PQsendQueryParams(conn_, sql, static_cast<int>(params.size()), nullptr, values.data(),
                                lengths.data(), formats.data(), binary_result ? 1 : 0);
    Result result(sent != 0 ? Await(why) : nullptr);
    if (conn_ == nullptr) return result;  // no answer in time: `why` says so
    if (!result.Ok()) {
      *why =
          "database: " + Trimmed(result.get() ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn_));
      if (why->endsWith(": ")) *why += "no answer";
      if (PQstatus(conn_) != CONNECTION_OK) Disconnect();
    }
    return result;
  }
  // The last result of the statement sent, as PQexec gives it; null with the
  // connection dropped when the database does not answer within kAnswerMs
  // (a host gone without a word, a server that stopped): it must not hold the
  // event loop, and so every other connection of this server, for longer.
  PGresult* Await(QString* why) {
    QElapsedTimer clock;
    clock.start();
    PGresult* last = nullptr;
    for (;;) {
      while (PQisBusy(conn_) == 0) {
        PGresult* next = PQgetResult(conn_);
        if (next == nullptr) return last;
        if (last != nullptr) PQclear(last);
        last = next;
      }
      const qint64 left = kAnswerMs - clock.elapsed();
      pollfd wait{PQsocket(conn_), POLLIN, 0};
      const int ready = left > 0 ? ::poll(&wait, 1, static_cast<int>(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || PQconsumeInput(conn_) == 0) {
        *why = ready == 0 ? QString("database: no answer within %1 s").arg(kAnswerMs / 1000)
                          : "database: " + Trimmed(PQerrorMessage(conn_));
        if (last != nullptr) PQclear(last);
        Disconnect();
        if (ready == 0) {
          // Not tried again at once: the requests of the next second fail
          // without waiting as long again.
          last_failure_ = *why;
          failed_.start();
        }
        return nullptr;
      }
    }
  }

  bool Run(const char* sql, const std::vector<Param>& params, QString* why) {
    return Exec(sql, params, false, why).Ok();
  }

  // A statement that only reads: on a connection that was found broken (the
  // database restarted since the last request) it is tried once more on a
  // new one.
  Result Query(const char* sql, const std::vector<Param>& params, bool binary_result, QString* why) {
    for (int attempt = 0;; ++attempt) {
      const bool had_connection = conn_ != nullptr;
      if (!Connect(why)) return Result();
      Result result = Exec(sql, params, binary_result, why);
      if (result.Ok() || conn_ != nullptr || !had_connection || attempt > 0) return result;
    }
  }

  // `body` in one transaction: all of it is stored, or nothing. A broken
  // connection found at its start (nothing sent yet) is made again once.
  template <typename Body>
  bool Transaction(QString* why, Body body) {
    for (int attempt = 0;; ++attempt) {
      const bool had_connection = conn_ != nullptr;
      if (!Connect(why)) return false;
      if (Run("BEGIN", {}, why)) break;
      if (conn_ != nullptr || !had_connection || attempt > 0) return false;
    }
    if (body(why) && Run("COMMIT", {}, why)) return true;
    if (conn_ != nullptr) {
      QString ignored;
      Run("ROLLBACK", {}, &ignored);
    }
    return false;
  }

  static constexpr qint64 kRetryAfterMs = 1000;
  static constexpr qint64 kAnswerMs = 10000;

  QString conninfo_;
  int keep_;
  PGconn* conn_ = nullptr;
  QElapsedTimer failed_;  // since the last connection that failed
  QString last_failure_;
};

QByteArray PieceReader::Read(qint64 max, QString* why) {
  if (left_.isEmpty()) left_ = store_.Piece(id_, seq_++, why);
  const QByteArray piece = left_.left(max);
  left_.remove(0, piece.size());
  return piece;
}

}  // namespace

std::unique_ptr<Store> OpenPgStore(const QString& conninfo, int keep, QString* why) {
  auto store = std::make_unique<PgStore>(conninfo, keep);
  if (!store->Open(why)) return nullptr;
  return store;
}

}  // namespace rlv::services

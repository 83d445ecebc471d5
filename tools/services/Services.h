#pragma once

#include <QDir>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <memory>
#include <optional>

namespace rlv::services {

// The configuration store and the update and news service in one process,
// each on its own port, both serving one data folder:
//   configs/<IMEI>.fcg            the stored configurations, one file per IMEI
//   firmware/type-<N>/<file>      tracker firmware builds for device type N
//   configurator/<file>           configurator builds
//   news.txt                      the news text
struct ServiceOptions {
  QString data_dir;
  QHostAddress address = QHostAddress::Any;
  uint16_t store_port = 10890;
  uint16_t update_port = 10500;
  // Pause between a header and the file after it: older clients read the
  // header alone only when the file comes later.
  int pause_ms = 200;
  // Seconds a connection may stay silent (sending nothing and taking none of
  // what is sent to it) before it is dropped.
  int idle_seconds = 30;
  // Connections served at once, in all and from one peer address; any more
  // are closed as soon as they are accepted.
  int max_connections = 512;
  int max_per_peer = 64;
};

class Services : public QObject {
 public:
  explicit Services(ServiceOptions options);
  ~Services() override;
  // Listens on both ports; false with `error` when either cannot be had.
  bool Start(QString* error);
  uint16_t StorePort() const;
  uint16_t UpdatePort() const;

  const ServiceOptions& Options() const { return options_; }
  QDir Data() const { return QDir(options_.data_dir); }
  // Writes one line to the log (standard error) with the time and the peer.
  static void Log(const QString& peer, const QString& text);
  // A connection from `address` has ended.
  void Release(const QString& address);

 private:
  void Accept(QTcpServer& server, bool store);
  void Listen(QTcpServer& server);

  ServiceOptions options_;
  QTcpServer store_;
  QTcpServer update_;
  int connections_ = 0;
  QHash<QString, int> per_peer_;
};

// The newest build the folder `dir` holds for a firmware question or a
// configurator question; empty when there is none.
QString NewestFirmware(const QDir& data, int device_type);
QString NewestConfigurator(const QDir& data);
// The path, relative to the data folder, of the file a client may ask for by
// `name`: only the builds the service lists are served.
std::optional<QString> ServedFile(const QDir& data, const QString& name);

}  // namespace rlv::services

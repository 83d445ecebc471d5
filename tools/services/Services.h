#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "Store.h"

namespace rlv::services {

// The configuration store and the update and news service in one process,
// each on its own port, both serving one store (a data folder or a database).
struct ServiceOptions {
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
  Services(ServiceOptions options, std::unique_ptr<Store> store);
  ~Services() override;
  // Listens on both ports; false with `error` when either cannot be had.
  bool Start(QString* error);
  // Stops accepting, ends the connections that are between requests at once
  // and lets those in the middle of a transfer finish it, for at most
  // `grace_ms`; then `done` runs (the rest are cut off).
  void Stop(int grace_ms, std::function<void()> done);
  bool Stopping() const { return stopping_; }
  uint16_t StorePort() const;
  uint16_t UpdatePort() const;

  const ServiceOptions& Options() const { return options_; }
  class Store& Storage() {
    return *store_;
  }
  // Writes one line to the log (standard error) with the time and the peer.
  static void Log(const QString& peer, const QString& text);
  // A connection from `address` has ended.
  void Release(const QString& address);

 private:
  void Accept(QTcpServer& server, bool store);
  void Listen(QTcpServer& server);

  void CheckStopped();

  ServiceOptions options_;
  std::unique_ptr<Store> store_;
  QTcpServer store_server_;
  QTcpServer update_server_;
  int connections_ = 0;
  QHash<QString, int> per_peer_;
  bool stopping_ = false;
  std::function<void()> stopped_;
  QTimer stop_deadline_;
};

}  // namespace rlv::services

#pragma once

#include <cstdint>

namespace rlv::app {
class MainWindow;
}

namespace rlv::net {

// Remote configuration through the tracker's GPRS link. Not built yet.
class RemoteConfig {
 public:
  explicit RemoteConfig(app::MainWindow& w) : w_(w) {}

  // Sends bytes into the tunnel; -1 while there is no tunnel connection.
  int Send_gprs_data(const uint8_t* data, int count) {
    (void)data;
    (void)count;
    return -1;
  }
  void StopConfigServer() {}

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::net

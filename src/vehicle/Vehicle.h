#pragma once

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::vehicle {

// J1939 catalogue and CAN patterns, tachograph, accelerometer calibration. Not built yet.
class Vehicle {
 public:
  explicit Vehicle(app::MainWindow& w) : w_(w) {}

  void OnTachographAnswer(const link::Payload& p) { (void)p; }

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::vehicle

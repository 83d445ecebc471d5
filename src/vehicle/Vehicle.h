#pragma once

#include <array>
#include <cstdint>

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::vehicle {

// J1939 catalogue and CAN patterns, tachograph, accelerometer calibration.
// The CAN patterns, the tachograph exchange and the calibration steps are not
// built yet; the operations below are the places the rest of the program calls.
class Vehicle {
 public:
  explicit Vehicle(app::MainWindow& w) : w_(w) {}

  // The accelerometer calibration in whole degrees: the two horizon angles and
  // the direction angle. Carried in the main configuration record.
  std::array<int16_t, 3> Calibration{};

  void OnTachographAnswer(const link::Payload& p) { (void)p; }
  // Shows the tachograph login for the chosen model.
  void TACHOMODELChange();
  // Loads CAN pattern `number` into the pattern grid.
  void ReadPattern(int number) { (void)number; }
  // The current CAN pattern into the record's CAN parameters and register masks.
  void LoadDataToCANBUSStruct() {}
  // The record's CAN parameters back into pattern `number`.
  void StructCANIDFromDeviceToPattern(int number) { (void)number; }

 private:
  app::MainWindow& w_;
};

}  // namespace rlv::vehicle

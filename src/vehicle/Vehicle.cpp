#include "vehicle/Vehicle.h"

#include "app/MainWindow.h"

namespace rlv::vehicle {

void Vehicle::TACHOMODELChange() {
  const int model = w_.controls["TACHOMODEL"].Index();
  w_.controls["Panel51"].SetVisible(model != 0 && model != 3);
  w_.controls["TACHOUSER"].SetEnabled(model == 1);
}

}  // namespace rlv::vehicle

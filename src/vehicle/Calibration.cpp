// The accelerometer calibration: the horizon angles from a level stand, the
// direction angle by one of three methods, each step written to the tracker.
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/MainWindow.h"
#include "config/Editor.h"
#include "vehicle/Vehicle.h"

namespace rlv::vehicle {

namespace {

constexpr double kPi = 3.1416;  // the tracker's own value
constexpr double kDegreesPerRadian = 57.2958;
constexpr size_t kNavAccel = 61;

float Radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * kPi / 180.0);
}

int16_t AccelAxis(const app::MainWindow& w, size_t axis) {
  return static_cast<int16_t>(link::GetU16(w.monitoring.NavigationRecord.data() + kNavAccel + 2 * axis));
}

int16_t ToInt16(int32_t v) {
  return static_cast<int16_t>(
      std::clamp<int32_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

}  // namespace

float Sweep(float p, float q, int sense) {
  float best = std::fabs(p);
  float result = 0.0f;
  // Single precision throughout: the step accumulates its rounding.
  for (float h = -180.0f; h <= 180.0f; h = static_cast<float>(static_cast<double>(h) + 0.1)) {
    const float r = Radians(h);
    const auto c = static_cast<float>(std::cos(static_cast<double>(r)));
    const auto s = static_cast<float>(std::sin(static_cast<double>(r)));
    float u;
    float v;
    if (sense >= 0) {
      u = static_cast<float>(static_cast<double>(p) * c + static_cast<double>(q) * s);
      v = static_cast<float>(static_cast<double>(q) * c - static_cast<double>(p) * s);
    } else {
      u = static_cast<float>(static_cast<double>(p) * c - static_cast<double>(q) * s);
      v = static_cast<float>(static_cast<double>(p) * s + static_cast<double>(q) * c);
    }
    if (std::fabs(u) < best && v > 0.0f) {
      best = std::fabs(u);
      result = h;
    }
  }
  return result;
}

int16_t TruncAngle(float degrees) {
  return ToInt16(static_cast<int32_t>(std::trunc(degrees)));
}

int16_t MovementAngle(int16_t x, int16_t y) {
  const auto m = static_cast<float>(std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y));
  if (m == 0.0f) return 0;
  // Rounding can carry the cosine a hair past 1: the arccosine never sees that.
  const double cosine = std::clamp((0.0 * x + 100.0 * y) / (100.0 * static_cast<double>(m)), -1.0, 1.0);
  const auto angle = static_cast<float>(std::acos(cosine) * kDegreesPerRadian);
  const int16_t whole = TruncAngle(angle);
  return x < 0 ? static_cast<int16_t>(-whole) : whole;
}

void Vehicle::Button9Click() {
  w_.controls["DopPanel"].SetVisible(true);
  w_.controls["DopControl"].SetIndex(0);
}

void Vehicle::WriteCalibration() {
  // A password asked for by this write repeats this write.
  w_.shell.LastOperation = ui::Shell::kOpWriteConfig;
  // The step is the engineer's confirmation: no review of the write.
  w_.transfer.LoadToDevice(false);
}

void Vehicle::CalibrateStep0Click() {
  Calibration = {0, 0, 0};
  WriteCalibration();
}

void Vehicle::CalibrateStep1Click() {
  const float x = AccelAxis(w_, 0);
  const float y = AccelAxis(w_, 1);
  const float z = AccelAxis(w_, 2);
  const float h1 = Sweep(y, z, +1);
  const float r = Radians(h1);
  const auto c = static_cast<float>(std::cos(static_cast<double>(r)));
  const auto s = static_cast<float>(std::sin(static_cast<double>(r)));
  const auto z1 = static_cast<float>(static_cast<double>(z) * c - static_cast<double>(y) * s);
  const float h2 = Sweep(x, z1, +1);
  Calibration[0] = TruncAngle(h1);
  Calibration[1] = TruncAngle(h2);
  WriteCalibration();
}

void Vehicle::CalibrateStep3TypeClick() {
  const int method = w_.controls["CalibrateStep3Type"].Index();
  w_.controls["CalibrateTypePanel"].SetIndex(method);
  if (method == 1) {
    w_.discovery.SetFastNavPoll(true);
    MoveMaxX = 0;
    MoveMaxY = 0;
  } else {
    w_.discovery.SetFastNavPoll(false);
  }
}

void Vehicle::TrackMovement(int16_t x, int16_t y) {
  const auto m = static_cast<float>(std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y));
  const auto big = static_cast<float>(
      std::sqrt(static_cast<double>(MoveMaxX) * MoveMaxX + static_cast<double>(MoveMaxY) * MoveMaxY));
  if (!(m > big)) return;
  MoveMaxX = x;
  MoveMaxY = y;
  w_.controls["Step3AngleValueByMove"].SetText(std::to_string(MovementAngle(x, y)));
}

void Vehicle::CalibrateStep3Click() {
  w_.discovery.SetFastNavPoll(false);
  const int method = w_.controls["CalibrateStep3Type"].Index();
  int16_t angle = 0;
  if (method == 1 || method == 2) {
    const char* edit = method == 1 ? "Step3AngleValueByMove" : "CalibrateHandAngle";
    try {
      angle = ToInt16(config::UserStrToInt(w_.controls[edit].Text()));
    } catch (const config::ConversionError& e) {
      w_.config.ShowConversionError(e);
      return;
    }
  } else {
    angle = TruncAngle(Sweep(AccelAxis(w_, 0), AccelAxis(w_, 1), -1));
  }
  Calibration[2] = angle;
  WriteCalibration();
}

void Vehicle::A0Click(const std::string& caption) {
  w_.controls["CalibrateHandAngle"].SetText(caption);
}

}  // namespace rlv::vehicle

#pragma once

#include <string>

namespace rlv::ui {
class ControlModel;
}

namespace rlv::config {

// A bounded edit: its name and upper limit while typing.
struct BoundedEdit {
  const char* name;
  int bound;
};

// The 29 edits whose typing is bounded.
extern const BoundedEdit kBoundedEdits[29];

// The documentation-only defaults for the tracker's servers.
inline constexpr const char* kDefaultTelematicsServer = "telematics.example.com";
inline constexpr const char* kDefaultUpdateServer = "192.0.2.10";
// The one-digit default tachograph password.
inline constexpr const char* kDefaultTachoPassword = "0";

// Declares the settings pages and their pop-up panels.
void DeclareConfigControls(ui::ControlModel& model);

}  // namespace rlv::config

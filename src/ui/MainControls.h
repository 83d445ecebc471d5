#pragma once

#include "ui/Controls.h"

namespace rlv::ui {

constexpr uint32_t kFrameColor = Rgb(62, 98, 170);

// Declares the main window's areas, menu, pages and message panel.
void DeclareMainControls(ControlModel& model);

}  // namespace rlv::ui

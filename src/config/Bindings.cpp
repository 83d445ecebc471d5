// The settings pages' reactions to the user: change rules, bounded edits,
// pop-up panels and the Modbus row editor.
#include "app/MainWindow.h"
#include "config/ConfigControls.h"
#include "config/Configuration.h"
#include "config/Editor.h"

namespace rlv::config {

namespace {
constexpr const char* kHexDigits = "0123456789ABCDEFabcdef";
}

void Configuration::BindControls() {
  ui::ControlModel& c = w_.controls;
  auto on = [&c](const char* name, ui::Event event, std::function<void()> action) {
    c.On(name, event, [action = std::move(action)](const ui::EventArgs&) { action(); });
  };

  on("OPERATOR", ui::Event::Change, [this] { OPERATORChange(); });
  on("OUTTYPE", ui::Event::Change, [this] { OUTTYPEChange(); });
  on("RS485DEVICE", ui::Event::Change, [this] { RS485DEVICEChange(); });
  on("CANBUSMODE", ui::Event::Change, [this] { CANBUSMODEChange(); });
  on("CANBAUD", ui::Event::Change, [this] { CANBUSMODEChange(); });
  on("TRACKTYPE", ui::Event::Change, [this] { TRACKTYPEChange(); });
  on("PresetAB", ui::Event::Change, [this] { PresetABChange(); });
  on("TACHOMODEL", ui::Event::Change, [this] { w_.vehicle.TACHOMODELChange(); });

  on("Button8", ui::Event::Click, [this] {
    w_.controls["DopPanel"].SetVisible(true);
    w_.controls["DopControl"].SetIndex(1);
    w_.controls["PresetAB"].SetIndex(-1);
  });
  on("Image5", ui::Event::Click, [this] { w_.controls["DopPanel"].SetVisible(false); });
  on("Image3", ui::Event::Click, [this] { w_.controls["StructPanel"].SetVisible(false); });
  on("Button10", ui::Event::Click, [this] { w_.controls["Panel23"].SetVisible(true); });
  on("Button11", ui::Event::Click, [this] { w_.controls["Panel23"].SetVisible(false); });
  on("Button19", ui::Event::Click, [this] {
    ui::Control& panel = w_.controls["Panel28"];
    panel.SetVisible(!panel.Visible());
  });
  on("Button20", ui::Event::Click, [this] { w_.controls["Panel28"].SetVisible(false); });

  for (const BoundedEdit& edit : kBoundedEdits) {
    const std::string name = edit.name;
    const int bound = edit.bound;
    c.On(name, ui::Event::KeyUp, [this, name, bound](const ui::EventArgs&) {
      try {
        ApplyBound(w_.controls[name], bound, Separator());
      } catch (const ConversionError& e) {
        ShowConversionError(e);
      }
    });
  }
  for (int i = 1; i <= 5; ++i) c["KEY" + std::to_string(i)].SetCharset(kHexDigits);
  for (int row = 1; row <= 5; ++row) {
    c["MCCMNCGRID"].SetCell(0, row, "");
    c["MCCMNCGRID"].SetCell(1, row, "");
  }

  // The Modbus row editor.
  on("ModBusStr", ui::Event::DblClick, [this] {
    ui::Control& grid = w_.controls["ModBusStr"];
    const int row = grid.SelectedRow();
    if (row < 1 || row >= grid.Rows()) return;
    w_.controls["MODID"].SetText(grid.Cell(0, row));
    w_.controls["MODREG"].SetText(grid.Cell(2, row));
    SetIndexComboByText(w_.controls["MODFUN"], grid.Cell(1, row));
    SetIndexComboByText(w_.controls["MODLEN"], grid.Cell(3, row));
    w_.controls["Panel19"].SetVisible(true);
  });
  on("MODADD", ui::Event::Click, [this] {
    ui::ControlModel& m = w_.controls;
    try {
      if (UserStrToInt(m["MODID"].Text()) <= 0) return w_.messages.MessageShow(w_.messages.GetMessageA(140));
      if (UserStrToInt(m["MODREG"].Text()) <= 0) return w_.messages.MessageShow(w_.messages.GetMessageA(141));
    } catch (const ConversionError& e) {
      return w_.messages.MessageShow("\"" + e.Text() + "\"");
    }
    if (m["MODFUN"].Index() < 0) return w_.messages.MessageShow(w_.messages.GetMessageA(142));
    if (m["MODLEN"].Index() < 0) return w_.messages.MessageShow(w_.messages.GetMessageA(143));
    ui::Control& grid = m["ModBusStr"];
    const int row = grid.SelectedRow();
    if (row < 1 || row >= grid.Rows()) return;
    grid.SetCell(0, row, m["MODID"].Text());
    grid.SetCell(1, row, m["MODFUN"].Text());
    grid.SetCell(2, row, m["MODREG"].Text());
    grid.SetCell(3, row, m["MODLEN"].Text());
  });
  on("MODGET", ui::Event::Click, [this] {
    ui::ControlModel& m = w_.controls;
    if (m["MODFUN"].Index() < 0) return w_.messages.MessageShow(w_.messages.GetMessageA(142));
    if (m["MODLEN"].Index() < 0) return w_.messages.MessageShow(w_.messages.GetMessageA(143));
    try {
      const auto reg = static_cast<uint16_t>(UserStrToInt(m["MODREG"].Text()));
      const uint8_t request[5] = {static_cast<uint8_t>(UserStrToInt(m["MODID"].Text())),
                                  static_cast<uint8_t>(reg), static_cast<uint8_t>(reg >> 8),
                                  static_cast<uint8_t>(UserStrToInt(m["MODLEN"].Text())),
                                  static_cast<uint8_t>(UserStrToInt(m["MODFUN"].Text()))};
      w_.codec.SendPacket(57, request, sizeof request);
    } catch (const ConversionError& e) {
      w_.messages.MessageShow("\"" + e.Text() + "\"");
    }
  });
  on("MODDELETE", ui::Event::Click, [this] {
    ui::ControlModel& m = w_.controls;
    m["MODID"].SetText("0");
    m["MODREG"].SetText("0");
    m["MODFUN"].SetIndex(0);
    m["MODLEN"].SetIndex(0);
    ui::Control& grid = m["ModBusStr"];
    const int row = grid.SelectedRow();
    if (row >= 1 && row < grid.Rows()) {
      for (int col = 0; col < grid.Cols(); ++col) grid.SetCell(col, row, "");
    }
    m["Panel19"].SetVisible(false);
  });
  on("MODCLEAR", ui::Event::Click, [this] { ModBusStrClear(); });
  on("Label70", ui::Event::Click, [this] { w_.controls["Panel19"].SetVisible(false); });
}

}  // namespace rlv::config

#include "protocol/FaultLog.h"

#include <cstring>

#include "app/MainWindow.h"
#include "link/Crc.h"
#include "monitor/Monitoring.h"
#include "protocol/Dispatcher.h"

namespace rlv::protocol {

namespace {
constexpr int kColumns = 6;
constexpr size_t kBlockDataOffset = 3;
const char* const kHeadings[kColumns] = {"", "Time", "CFSR", "HFSR", "MMFAR", "BFAR"};
}  // namespace

void FaultLog::DeclareControls(ui::ControlModel& m) {
  m.Add("Button23", ui::Kind::Button, "TabSheet4").SetText("Считать записи лога");
  m.Add("Button24", ui::Kind::Button, "TabSheet4").SetText("Удалить из памяти");
  ui::Control& grid = m.Add("FLOGGRID", ui::Kind::Grid, "TabSheet4");
  grid.SetGridSize(kColumns, 2);
  for (int col = 0; col < kColumns; ++col) grid.SetCell(col, 0, kHeadings[col]);
}

void FaultLog::BindHandlers() {
  ui::ControlModel& c = w_.controls;
  c.On("Button23", ui::Event::Click, [this](const ui::EventArgs&) { Button23Click(); });
  c.On("Button24", ui::Event::Click, [this](const ui::EventArgs&) { Button24Click(); });
  c.On("Label22", ui::Event::DblClick, [this](const ui::EventArgs&) { Label22DblClick(); });
}

void FaultLog::Button23Click() {
  const uint8_t request = kRead;
  w_.codec.SendPacket(kFaultLog, &request, 1);
}

void FaultLog::Button24Click() {
  const uint8_t request = kErase;
  w_.codec.SendPacket(kFaultLog, &request, 1);
}

void FaultLog::TabSheet4Show() {
  ui::Control& grid = w_.controls["FLOGGRID"];
  for (int col = 0; col < kColumns; ++col) grid.SetCell(col, 0, kHeadings[col]);
}

void FaultLog::Label22DblClick() {
  w_.shell.SelectPage(kTestingPage);
  TabSheet4Show();
}

void FaultLog::OnAnswer(const link::Payload& p) {
  if (p.size() == 0) return;
  const uint8_t index = p[0];
  if (index == kEndMarker) {
    ListRecords();
    return;
  }
  if (index >= kBlockCount) return;
  // A block is taken only whole: a short answer leaves the buffer as it was.
  if (p.Available(kBlockDataOffset) < kBlockSize) return;
  std::memcpy(buffer_.data() + index * kBlockSize, p.data() + kBlockDataOffset, kBlockSize);
}

void FaultLog::ListRecords() {
  ui::Control& grid = w_.controls["FLOGGRID"];
  grid.SetGridSize(kColumns, 2);
  for (int col = 0; col < kColumns; ++col) grid.SetCell(col, 1, "");
  int row = 1;
  for (size_t i = 0; i < kRecordCount; ++i) {
    const uint8_t* record = buffer_.data() + i * kRecordSize;
    if (link::Crc8(record, kRecordSize - 1) != record[kRecordSize - 1]) {
      if (row == 1) grid.SetCell(1, 1, w_.messages.GetStringOr("Window", "NoRecords", kNoRecords));
      return;
    }
    grid.SetCell(0, row, std::to_string(row));
    grid.SetCell(1, row, monitor::UtcDateTimeText(link::GetU32(record)));
    for (int f = 0; f < 4; ++f) {
      grid.SetCell(2 + f, row, std::to_string(link::GetU32(record + 4 + 4 * static_cast<size_t>(f))));
    }
    grid.SetGridSize(kColumns, row + 2);
    ++row;
  }
}

}  // namespace rlv::protocol

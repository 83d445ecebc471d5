// The tachograph behind the tracker: its state and vehicle records, the DDD
// file download chunk by chunk, and the transparent port.
#include <algorithm>
#include <cstdio>

#include "app/MainWindow.h"
#include "config/Editor.h"
#include "link/Codepage.h"
#include "vehicle/Vehicle.h"

namespace rlv::vehicle {

namespace {

constexpr uint8_t kAskState = 0x00;
constexpr uint8_t kAskVehicle = 0x01;
constexpr uint8_t kNextChunk = 0x02;
constexpr uint8_t kAskFile = 0x03;
constexpr uint8_t kEndTransfer = 0xFF;
constexpr uint16_t kBusyCode = 2;
constexpr int kWaitLimit = 30;
constexpr size_t kRegistrationSize = 15;
constexpr uint32_t kMinTransBaud = 9600;
constexpr uint32_t kMaxTransBaud = 115200;

const char* const kCreateFailed = "Неудается создать файл в указанном месте";
const char* const kDownloaded = "Файл выгружен";
const char* const kReading = "Чтение DDD файла";
const char* const kDddFilter = "Файлы DDD (*.ddd)|*.ddd";

uint32_t U32(const link::Payload& r, size_t at) {
  return static_cast<uint32_t>(r[at]) | (static_cast<uint32_t>(r[at + 1]) << 8) |
         (static_cast<uint32_t>(r[at + 2]) << 16) | (static_cast<uint32_t>(r[at + 3]) << 24);
}

std::string S32(const link::Payload& r, size_t at) {
  return std::to_string(static_cast<int32_t>(U32(r, at)));
}

// The zero-terminated text at `at`, at most `limit` bytes and never past the payload.
std::string BoundedText(const link::Payload& r, size_t at, size_t limit) {
  std::string out;
  for (size_t i = at; i < at + limit && i < r.size() && r[i] != 0; ++i)
    out.push_back(static_cast<char>(r[i]));
  return link::Cp1251ToUtf8(out);
}

}  // namespace

std::string TachoStateText(const link::Payload& r) {
  auto pair = [](const std::string& v) { return v + "/" + v; };
  std::string card;
  for (size_t i = 10; i < 26; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%.2X", r[i]);
    card += hex;
  }
  const std::string lines[] = {
      "Текущий режим:" + std::to_string(r[0]),
      "Вид деят. в1/в2:" + std::to_string(r[1]) + "/" + std::to_string(r[2]),
      "Тип карты в1/в2:" + pair(std::to_string(r[3])),
      "Время в текущем режиме в1/в2:" + pair(std::to_string(r.U16(4))),
      "Общ.время управления за сутки в1/в2:" + pair(std::to_string(r.U16(6))),
      "Непрерывное время управления в1/в2:" + pair(std::to_string(r.U16(8))),
      "Номер карты в1/в2:" + pair(card),
      "Время:" + S32(r, 193),
      "Скорость:" + std::to_string(r[197]),
      "Дистанция:" + S32(r, 198),
      "Дистанция TRIP:" + S32(r, 202),
      "Флаги:" + S32(r, 206),
  };
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  return text;
}

std::string TachoVehicleText(const link::Payload& r) {
  return "Регистрационный номер:" + BoundedText(r, 0, kRegistrationSize) +
         "\r\nНомер VIN:" + BoundedText(r, kRegistrationSize, r.size());
}

std::string TachoProposedName(const std::string& imei) {
  std::string digits;
  for (char c : imei) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return "Object_" + digits + ".ddd";
}

void Vehicle::TACHOMODELChange() {
  const int model = w_.controls["TACHOMODEL"].Index();
  w_.controls["Panel51"].SetVisible(model != 0 && model != 3);
  w_.controls["TACHOUSER"].SetEnabled(model == 1);
}

void Vehicle::SendTacho(const std::vector<uint8_t>& payload) {
  w_.codec.SendPacket(kCmdTachograph, payload.data(), static_cast<uint16_t>(payload.size()));
}

void Vehicle::Button5Click() {
  SendTacho({kAskState});
}

void Vehicle::Button6Click() {
  SendTacho({kAskVehicle});
}

void Vehicle::Button7Click() {
  SendTacho({kAskFile, static_cast<uint8_t>(std::max(0, w_.controls["THSlot"].Index())), 0, 0, 0, 0});
}

void Vehicle::SendTachoStart() {
  TachoReceived = 0;
  SendTacho({kNextChunk, static_cast<uint8_t>(std::max(0, w_.controls["THSlot"].Index())), 0, 0, 0, 0});
}

void Vehicle::EndTachoTransfer() {
  SendTacho({kEndTransfer});
  SendTacho({kEndTransfer});
}

void Vehicle::OnTachographAnswer(const link::Payload& p) {
  if (p[0] == 2) {
    TachoStepResult(p);
    return;
  }
  if (p[0] != 0) return;
  const link::Payload record(p.data() + (p.size() > 5 ? 5 : p.size()), p.Available(5));
  switch (p[2]) {
    case 0:
      if (p[1] == 2) w_.plat.dialogs->ShowMessage(TachoStateText(record));
      return;
    case 1:
      if (p[1] == 2) w_.plat.dialogs->ShowMessage(TachoVehicleText(record));
      return;
    case 2:
      TachoChunk(p);
      return;
    case 3:
      TachoFileReady();
      return;
    default:
      return;
  }
}

void Vehicle::TachoFileReady() {
  const std::string proposed = w_.DataPath(TachoProposedName(w_.monitoring.Imei()));
  const std::optional<std::string> path =
      w_.plat.dialogs->SaveFile(w_.messages.GetStringOr("Window", "DddFilter", kDddFilter), "ddd", proposed);
  if (!path) return;
  TachoRetryTimer->Stop();
  TachoDownloading = true;
  TachoFileName = *path;
  SendTachoStart();
  w_.transfer.StartWait(kWaitLimit, 0, kReading);
}

void Vehicle::TachoChunk(const link::Payload& p) {
  if (!TachoDownloading) return;
  // Only what arrived counts, whatever the length field announces.
  const size_t announced = p.U16(3);
  const size_t n = std::min(announced, p.Available(5));
  auto fail = [this](const std::string& text) {
    TachoFile.reset();  // an unfinished download leaves nothing behind
    TachoDownloading = false;
    w_.transfer.StopWait(text);
    EndTachoTransfer();
  };
  if (TachoReceived == 0) {
    TachoFile = std::make_unique<platform::OutputFile>();
    if (!TachoFile->Open(TachoFileName)) {
      fail(std::string(kCreateFailed) + ": " + TachoFileName + " (" + TachoFile->Error() + ")");
      return;
    }
  }
  if (announced == 0) {
    const bool complete = TachoFile && TachoFile->Commit();
    const std::string why = TachoFile ? TachoFile->Error() : std::string("not open");
    TachoFile.reset();
    TachoDownloading = false;
    EndTachoTransfer();
    w_.transfer.StopWait(complete ? std::string(kDownloaded)
                                  : "Файл " + TachoFileName + " не удалось записать полностью (" + why + ")");
    return;
  }
  if (!TachoFile || !TachoFile->IsOpen()) {
    fail("Файл " + TachoFileName + " не открыт: загрузка прервана");
    return;
  }
  if (n > 0 && !TachoFile->Write(p.data() + 5, n)) {
    fail("Не удалось записать в файл " + TachoFileName + " (" + TachoFile->Error() + "): загрузка прервана");
    return;
  }
  TachoReceived += static_cast<uint32_t>(n);
  w_.controls["Label54"].SetText(w_.messages.GetStringOr("Window", "TachoReceived", "Считано:") + " " +
                                 std::to_string(TachoReceived));
  w_.transfer.ResumeWait();
  std::vector<uint8_t> next(5);
  next[0] = kNextChunk;
  link::PutU32(next.data() + 1, TachoReceived);
  SendTacho(next);
}

void Vehicle::TachoStepResult(const link::Payload& p) {
  const uint16_t code = p.U16(5);
  if (p[1] == 2 && code == kBusyCode) {
    // The start again after a pause, on a one-shot timer: the loop keeps running.
    TachoRetryTimer->Stop();
    TachoRetryTimer->Start();
    w_.transfer.ResumeWait();
    return;
  }
  w_.transfer.StopWait("Код ошибки выполнения команды тахографом " + std::to_string(code));
  w_.controls["Label54"].SetText("");
}

void Vehicle::OpenTransPortClick() {
  ui::Control& baud_box = w_.controls["TransBaud"];
  int64_t baud = 0;
  try {
    baud = config::UserStrToInt(baud_box.Text());
  } catch (const config::ConversionError& e) {
    w_.config.ShowConversionError(e);
    return;
  }
  baud = std::clamp<int64_t>(baud, kMinTransBaud, kMaxTransBaud);
  baud_box.SetText(std::to_string(baud));
  uint8_t request[5];
  request[0] = static_cast<uint8_t>(std::max(0, w_.controls["TransPort"].Index()));
  if (w_.controls["TRANSTORS485"].Checked()) request[0] |= 0x80;
  link::PutU32(request + 1, static_cast<uint32_t>(baud));
  w_.codec.SendPacket(kCmdTransparentPort, request, sizeof request);
}

}  // namespace rlv::vehicle

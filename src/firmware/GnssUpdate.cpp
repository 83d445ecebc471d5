// The GNSS receiver update: the tracker bridges the USB port to its receiver,
// and the receiver's ROM loader takes a download agent, which then takes the
// receiver firmware in checksummed chunks.

#include <algorithm>
#include <cstring>

#include "app/MainWindow.h"
#include "firmware/Firmware.h"
#include "link/Bytes.h"

namespace rlv::firmware {

namespace {
constexpr int kReceiverPage = 2;
constexpr int kSlowBaud = 9600;
constexpr int kFastBaud = 115200;
// Every reply is awaited at most this long; the clock counts timer periods.
constexpr int kReplyTimeoutMs = 15000;
constexpr size_t kMaxReceiverFile = 16u << 20;

constexpr const char* kPortFailed = "Не удается открыть порт!";
constexpr const char* kNoAgent = "Файл загрузчика не доступен. Проверьте путь!";
constexpr const char* kNoFirmware = "Файл прошивки не доступен. Проверьте путь!";
constexpr const char* kPmtkLine = "$PMTK180*3B\r\n";
constexpr const char* kExitTransparent = ";;++x+y=z;";

constexpr uint8_t kAgentAddress[4] = {0x00, 0x00, 0x0C, 0x00};
constexpr uint8_t kAgentChecksum[2] = {0x67, 0x8D};

void PutU32Msb(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void Firmware::GnssLabel(const char* key, const std::string& fallback) {
  w_.controls["Label28"].SetText(w_.messages.GetStringOr("Window", key, fallback));
}

void Firmware::GnssCloseFile() {
  gnss_file_.clear();
  gnss_file_.shrink_to_fit();
  gnss_file_open_ = false;
}

// Both receiver files, whole; nullopt when missing, unreadable or empty.
static std::optional<std::vector<uint8_t>> ReadReceiverFile(app::MainWindow& w, const char* name) {
  auto bytes = w.Files().Read(w.DataPath(name), kMaxReceiverFile);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

void Firmware::GNSSUPDClick() {
  MTK3333UPDStart();
}

void Firmware::MTK3333UPDStart() {
  link::LinkState& s = w_.link;
  if (GnssStep != 0 || s.GnssUpdateMode) return;
  // Both files are checked before the tracker is bridged to its receiver.
  auto agent = ReadReceiverFile(w_, kAgentFile);
  if (!agent) {
    w_.messages.MessageShow(kNoAgent);
    return;
  }
  if (!ReadReceiverFile(w_, kFirmwareFile)) {
    w_.messages.MessageShow(kNoFirmware);
    return;
  }
  const uint8_t bridge[5] = {0x01, 0x80, 0x25, 0x00, 0x00};  // port 1 at 9600
  w_.codec.SendPacket(protocol::kTransparentPort, bridge, sizeof bridge);
  w_.discovery.SetSearching(false);
  w_.shell.SelectPage(kReceiverPage);
  w_.controls["ProgressBar"].SetPosition(0);
  if (!w_.discovery.OpenPort(s.PortName) || !w_.plat.serial->SetBaudRate(kSlowBaud)) {
    GnssStopTail(kPortFailed);
    return;
  }
  gnss_file_ = std::move(*agent);
  gnss_file_open_ = true;
  gnss_agent_size_ = static_cast<uint32_t>(gnss_file_.size());
  GnssSent = 0;
  s.GnssUpdateMode = true;
  w_.plat.clock->Sleep(1000);
  GnssLabel("GnssSearch", "Поиск...Инициализация...");
  for (int i = 0; i < 5; ++i) {
    w_.plat.clock->Sleep(100);
    w_.codec.SendStrToPort(kPmtkLine);
  }
  if (!w_.discovery.OpenPort(s.PortName) || !w_.plat.serial->SetBaudRate(kFastBaud)) {
    GnssStopTail(kPortFailed);
    return;
  }
  GnssStep = 1;
  GnssTimeout = kReplyTimeoutMs;
  GnssReceived = 0;
  GnssExpected = 0;
  gnss_rx_.assign(kGnssMaxReply, 0);
  if (Timer2) {
    Timer2->SetInterval(kGnssIdleInterval);
    Timer2->Start();
  }
}

// Stops and then tells why, so the reason is the last thing on the panel.
bool Firmware::GnssStopTail(const std::string& text) {
  MTK3333UPDStop();
  w_.messages.MessageShow(text);
  return false;
}

void Firmware::MTK3333UPDStop() {
  // The tracker must not stay bridged to its receiver: a port that was closed
  // is tried once more so the exit string and the restart reach it.
  if (!w_.link.PortOpen) w_.discovery.OpenPort(w_.link.PortName);
  w_.codec.SendStrToPort(kExitTransparent);
  w_.discovery.ResetDevice(0);
  if (Timer2) {
    Timer2->SetInterval(kGnssIdleInterval);
    Timer2->Stop();
  }
  GnssStep = 0;
  GnssTimeout = 0;
  GnssExpected = 0;
  GnssCloseFile();
  w_.link.GnssUpdateMode = false;
}

void Firmware::GnssSend(const uint8_t* data, size_t count, int expected) {
  w_.codec.SendToPort(data, static_cast<int>(count));
  GnssExpected = expected;
}

void Firmware::GnssSendExpectSame(const uint8_t* data, size_t count) {
  GnssSend(data, count, static_cast<int>(count));
  std::memcpy(GnssBuffer.data(), data, count);
}

void Firmware::MTK3333UPDRxChar(int count) {
  platform::ISerialPort& port = *w_.plat.serial;
  if (gnss_rx_.size() != kGnssMaxReply) gnss_rx_.assign(kGnssMaxReply, 0);
  if (count < 0) count = 0;
  if (static_cast<size_t>(GnssReceived) + static_cast<size_t>(count) > kGnssMaxReply) {
    GnssReceived = 0;
    port.ClearInput();
    return;
  }
  const int room = static_cast<int>(kGnssMaxReply - GnssReceived);
  const int n = port.Read(gnss_rx_.data() + GnssReceived, std::min(count, room));
  if (n <= 0) return;
  ui::Control* trace = w_.controls.Find("LogMemo");
  if (trace != nullptr && trace->Visible()) {
    trace->AddLine("Receive<<<");
    trace->AddLine(link::BytesToHex(gnss_rx_.data() + GnssReceived, static_cast<size_t>(n)));
  }
  GnssReceived = static_cast<uint16_t>(GnssReceived + n);
  if (GnssStep == 0 || GnssExpected == 0 || GnssReceived != GnssExpected) return;
  if (std::memcmp(gnss_rx_.data(), GnssBuffer.data(), static_cast<size_t>(GnssExpected)) == 0) {
    // Every answer the receiver gives in time earns the next step its own time.
    GnssTimeout = kReplyTimeoutMs;
    if (GnssStep != 8 && GnssStep != 19) ++GnssStep;
    GnssExpected = 0;
    GnssReceived = 0;
  }
  port.ClearInput();
}

void Firmware::GnssAgentChunk() {
  const uint32_t size = gnss_agent_size_;
  w_.controls["ProgressBar"].SetPosition(
      static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(GnssSent) * 100 / size, 100)));
  if (GnssExpected != 0) return;
  if (static_cast<uint32_t>(GnssSent) < size) {
    Timer2->SetInterval(kGnssChunkInterval);
    uint8_t chunk[kGnssAgentChunk] = {};
    const size_t from = static_cast<size_t>(GnssSent);
    const size_t n = std::min(kGnssAgentChunk, gnss_file_.size() - from);
    std::memcpy(chunk, gnss_file_.data() + from, n);
    for (size_t i = 0; i < kGnssAgentChunk; i += 2) std::swap(chunk[i], chunk[i + 1]);
    GnssSendExpectSame(chunk, sizeof chunk);
    GnssSent += static_cast<int32_t>(kGnssAgentChunk);
    return;
  }
  GnssStep = 9;
  Timer2->SetInterval(kGnssIdleInterval);
  GnssCloseFile();
}

bool Firmware::GnssOpenFirmware() {
  auto firmware = ReadReceiverFile(w_, kFirmwareFile);
  if (!firmware) return false;
  gnss_file_ = std::move(*firmware);
  gnss_file_open_ = true;
  return true;
}

void Firmware::GnssFirmwareChunk() {
  const uint64_t size = gnss_file_.size();
  w_.controls["ProgressBar"].SetPosition(static_cast<int>(
      size == 0 ? 100 : std::min<uint64_t>(static_cast<uint64_t>(GnssSent) * 100 / size, 100)));
  if (GnssExpected != 0) return;
  if (static_cast<uint64_t>(GnssSent) < size) {
    Timer2->SetInterval(kGnssChunkInterval);
    const size_t from = static_cast<size_t>(GnssSent);
    const size_t n = std::min<size_t>(kGnssFirmwareChunk, gnss_file_.size() - from);
    uint8_t chunk[kGnssFirmwareChunk + 2];
    std::memcpy(chunk, gnss_file_.data() + from, n);
    uint16_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(sum + chunk[i]);
    chunk[n] = static_cast<uint8_t>(sum >> 8);
    chunk[n + 1] = static_cast<uint8_t>(sum);
    GnssSent += static_cast<int32_t>(n);
    w_.codec.SendToPort(chunk, static_cast<int>(n + 2));
    const bool last = static_cast<uint64_t>(GnssSent) >= size;
    const uint8_t ack[3] = {0x69, 0x5A, 0x5A};
    std::memcpy(GnssBuffer.data(), ack, sizeof ack);
    GnssExpected = last ? 3 : 1;
    return;
  }
  GnssStep = 20;
  Timer2->SetInterval(kGnssIdleInterval);
  GnssCloseFile();
}

void Firmware::Timer2Timer() {
  if (GnssStep == 0) return;
  const int period = Timer2 ? Timer2->Interval() : kGnssIdleInterval;
  const int step = GnssStep;
  switch (step) {
    case 1:
    case 2:
    case 3:
    case 4: {
      constexpr uint8_t kSend[4] = {0xA0, 0x0A, 0x50, 0x05};
      const uint8_t out = kSend[step - 1];
      GnssSend(&out, 1, 1);
      GnssBuffer[0] = static_cast<uint8_t>(~out);
      break;
    }
    case 5: {
      const uint8_t out = 0xA1;
      GnssSendExpectSame(&out, 1);
      break;
    }
    case 6:
    case 10:
      GnssSendExpectSame(kAgentAddress, sizeof kAgentAddress);
      break;
    case 7:
    case 11: {
      uint8_t words[6];
      PutU32Msb(words, gnss_agent_size_ / 2);
      if (step == 7) {
        GnssSendExpectSame(words, 4);
        GnssSent = 0;
        GnssLabel("GnssLoader", "Запись загрузчика...");
      } else {
        std::memcpy(words + 4, kAgentChecksum, 2);
        w_.codec.SendToPort(words, 4);
        std::memcpy(GnssBuffer.data(), words, sizeof words);
        GnssExpected = sizeof words;
      }
      break;
    }
    case 8:
      GnssAgentChunk();
      break;
    case 9: {
      const uint8_t out = 0xA4;
      Timer2->SetInterval(kGnssIdleInterval);
      GnssSendExpectSame(&out, 1);
      break;
    }
    case 12: {
      const uint8_t out = 0xA8;
      GnssSendExpectSame(&out, 1);
      GnssLabel("GnssStartLoader", "Запуск загрузчика...");
      break;
    }
    case 13:
      GnssSend(kAgentAddress, sizeof kAgentAddress, 0);
      Timer2->SetInterval(2000);
      GnssStep = 14;
      GnssTimeout = kReplyTimeoutMs;
      break;
    case 14: {
      if (!GnssOpenFirmware()) {
        GnssStopTail(kNoFirmware);
        return;
      }
      GnssSent = 0;
      Timer2->SetInterval(500);
      const uint8_t out = 0xD3;
      GnssSend(&out, 1, 0);
      GnssStep = 15;
      GnssTimeout = kReplyTimeoutMs;
      break;
    }
    case 15: {
      const uint8_t out = 0x01;
      GnssSend(&out, 1, 0);
      GnssStep = 16;
      GnssTimeout = kReplyTimeoutMs;
      break;
    }
    case 16: {
      const uint8_t out[4] = {0, 0, 0, 0};
      GnssSend(out, sizeof out, 0);
      GnssStep = 17;
      GnssTimeout = kReplyTimeoutMs;
      break;
    }
    case 17: {
      const uint8_t out[4] = {0x00, 0x0A, 0x17, 0x13};
      GnssSend(out, sizeof out, 2);
      GnssBuffer[0] = 0x5A;
      GnssBuffer[1] = 0x00;
      break;
    }
    case 18: {
      const uint8_t first = 0xD5;
      const uint8_t second[4] = {0x00, 0x00, 0x04, 0x00};
      w_.codec.SendToPort(&first, 1);
      GnssSend(second, sizeof second, 2);
      GnssBuffer[0] = 0x5A;
      GnssBuffer[1] = 0x5A;
      GnssLabel("GnssWriting", "Запись прошивки...");
      break;
    }
    case 19:
      GnssFirmwareChunk();
      break;
    case 20:
    case 21: {
      const uint8_t out = 0xD9;
      GnssSend(&out, 1, 0);
      if (step == 20) {
        Timer2->SetInterval(kGnssIdleInterval);
      } else {
        GnssLabel("GnssDone", "Программирование завершено!");
      }
      GnssStep = step + 1;
      GnssTimeout = kReplyTimeoutMs;
      break;
    }
    default:
      MTK3333UPDStop();
      return;
  }
  if (GnssStep == 0) return;
  if (GnssTimeout > 0) {
    GnssTimeout -= period;
    if (GnssTimeout <= 0) GnssStopTail("TimeOut!");
  }
}

}  // namespace rlv::firmware

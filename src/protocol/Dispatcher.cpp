#include "protocol/Dispatcher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/MainWindow.h"
#include "link/Crc.h"

namespace rlv::protocol {

using link::Payload;

void Dispatcher::Read_Data(const uint8_t* frame, size_t available) {
  if (frame == nullptr || available < 2) return;
  const size_t length = link::GetU16(frame);
  // Direction and command are part of the length; a shorter frame carries neither.
  if (length < 2) return;
  if (2 + length + 2 > available) return;
  const uint16_t crc = link::GetU16(frame + 2 + length);
  if (link::Crc16(frame + 2, length) != crc) return;
  if (frame[2] != link::PacketCodec::kFromTracker) return;
  Dispatch(frame[3], Payload(frame + 4, length - 2));
}

std::string Dispatcher::StatusText(uint8_t status) const {
  int number = -1;
  switch (status) {
    case 0:
      number = 38;
      break;
    case 1:
      number = 68;
      break;
    case 2:
      number = 81;
      break;
    case 3:
      number = 82;
      break;
    case 4:
      number = 83;
      break;
    case 5:
      number = 84;
      break;
    case 6:
      number = 85;
      break;
    case 7:
      number = 46;
      break;
    case 8:
      number = 45;
      break;
    case 9:
      number = 94;
      break;
    case 10:
      number = 95;
      break;
    case 11:
      number = 110;
      break;
    case 254:
      number = 130;
      break;
    case 255:
      number = 91;
      break;
    default:
      break;
  }
  if (number < 0) return "Error: " + std::to_string(status);
  return w_.messages.GetMessageA(number);
}

void Dispatcher::Show(const std::string& text) {
  w_.messages.MessageShow(text);
}

void Dispatcher::ShowMessage(int number) {
  Show(w_.messages.GetMessageA(number));
}

void Dispatcher::Dispatch(uint8_t command, const Payload& p) {
  switch (command) {
    case kIdentify:
      if (p[0] == 1) {
        w_.discovery.OnApplicationIdentify(p[4], p[5]);
      } else if (p[0] == 0) {
        w_.discovery.OnBootloaderIdentify(p[1], p[4]);
      }
      return;
    case 1:
    case 2:
    case 3:
    case 5:
    case 35:
    case 36:
    case 42:
    case 43:
    case 44:
    case 45:
    case 208:
      return;  // never requested
    case kRestart:
      if (p[0] == 0) ShowMessage(79);
      return;
    case kFlashStart:
    case kFlashSize:
    case kFlashHeader:
    case kFlashBlock:
    case kFlashEnd:
      w_.firmware.OnFlashAnswer(command, p[0]);
      return;
    case kConfigRead:
      OnConfigRead(p);
      return;
    case kConfigWrite:
      OnConfigWrite(p);
      return;
    case kStatusRecord:
      OnStatusRecord(p);
      return;
    case kPassword:
      w_.shell.GetPassword(p[0] == 0 ? '1' : '0');
      return;
    case kDeleteTrack:
      if (p[0] == 4) {
        w_.shell.GetPassword('?');
      } else {
        ShowMessage(9);
      }
      return;
    case kEventLog: {
      const size_t n = p[0];
      for (size_t i = 1; i <= n && i < p.size(); ++i) w_.monitoring.Log_decode(p[i]);
      return;
    }
    case kTransparentPort:
      ShowMessage(p[0] == 0 ? 88 : 81);
      return;
    case kModbusRead:
      OnModbusRead(p);
      return;
    case kTestPacket:
      Show(StatusText(p[0]));
      return;
    case kTachograph:
      OnTachograph(p);
      return;
    case kBluetoothScan:
    case kBluetoothPair:
    case kBluetoothList:
      OnBluetooth(command, p);
      return;
    case kFaultLog:
      w_.faultlog.OnAnswer(p);
      return;
    case kRemoteFlashBlock:
      w_.firmware.OnRemoteFlashAnswer(p[0]);
      return;
    case kGeneric:
      if (p[0] != 0xFE) Show(StatusText(p[0]));
      return;
    default:
      Unrecognised(command);
      return;
  }
}

void Dispatcher::OnConfigRead(const Payload& p) {
  switch (p[0]) {
    case 0: {
      ShowMessage(6);
      const uint8_t block = p[1];
      if (block == 0 || block == 1) {
        size_t n = p.U16(2);
        if (n > config::kRecordSize) {
          ShowMessage(5);
          n = config::kRecordSize;
        }
        // Only bytes that actually arrived are copied.
        n = std::min(n, p.Available(4));
        auto& record = block == 0 ? w_.config.ConfigBlock1 : w_.config.ConfigBlock2;
        if (n > 0) std::memcpy(record.data(), p.data() + 4, n);
        if (block == 0) {
          w_.config.Read_config();
          const uint8_t next = 1;
          w_.codec.SendPacket(kConfigRead, &next, 1);
        } else {
          w_.config.Read_config2();
          w_.transfer.ExchangeEnded();
          w_.transfer.StopWait(6);
          w_.transfer.SetConfigPath("device");
        }
      } else {
        w_.transfer.ExchangeEnded();
        ShowMessage(26);
      }
      w_.shell.SelectPage(0);
      return;
    }
    case 4:
      w_.transfer.ExchangeEnded();
      w_.shell.GetPassword('?');
      return;
    case 5:
      w_.transfer.ExchangeEnded();
      ShowMessage(6);
      return;
    default:
      w_.transfer.ExchangeEnded();
      Show(StatusText(p[0]));
      return;
  }
}

void Dispatcher::OnConfigWrite(const Payload& p) {
  switch (p[0]) {
    case 0:
      if (p[1] == 0) {
        uint8_t request[3 + config::kRecordSize];
        request[0] = 1;
        link::PutU16(request + 1, static_cast<uint16_t>(config::kRecordSize));
        std::memcpy(request + 3, w_.config.ConfigBlock2.data(), config::kRecordSize);
        w_.codec.SendPacket(kConfigWrite, request, sizeof request);
        w_.transfer.ResumeWait();
        ShowMessage(7);
      } else {
        w_.transfer.ExchangeEnded();  // the second half is in: message 7 stays
      }
      return;
    case 4:
      w_.transfer.ExchangeEnded();
      w_.shell.GetPassword('?');
      return;
    case 5:
      w_.transfer.ExchangeEnded();
      ShowMessage(7);
      return;
    default:
      w_.transfer.ExchangeEnded();
      Show(StatusText(p[0]));
      return;
  }
}

void Dispatcher::OnStatusRecord(const Payload& p) {
  // Kind and length first: an answer too short for them is ignored.
  if (p.size() < 3) return;
  const uint8_t kind = p[0];
  if (kind != 0 && kind != 1) return;
  monitor::Monitoring& m = w_.monitoring;
  // Only the bytes that arrived are copied, whatever the length field says.
  const size_t n = std::min<size_t>(p.U16(1), p.Available(3));
  if (kind == 0) {
    m.StoreNavigationRecord(p.data() + 3, n);
    m.Refresh_GPS();
    return;
  }
  m.StoreDeviceRecord(p.data() + 3, n);
  m.Refresh_DEVICE();
  if (w_.link.AutoReadConfig) {
    w_.link.AutoReadConfig = false;
    w_.shell.LastOperation = 10;
    w_.transfer.ReadFromDevice();
  }
}

void Dispatcher::OnModbusRead(const Payload& p) {
  // An answer without every value byte its size byte announces is ignored:
  // the field keeps what it showed rather than a value made up of zeros.
  const size_t value_size = p[0] <= 2 ? 2 : 4;
  if (p.size() < 1 + value_size) return;
  uint32_t value;
  if (p[0] <= 2) {
    value = static_cast<uint32_t>(p[1]) * 256u + p[2];
  } else {
    value = (static_cast<uint32_t>(p[1]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
            (static_cast<uint32_t>(p[3]) << 8) | p[4];
  }
  if (ui::Control* field = w_.controls.Find("MODVALUE")) {
    field->SetText(std::to_string(static_cast<int32_t>(value)));
  }
}

void Dispatcher::OnTachograph(const Payload& p) {
  switch (p[0]) {
    case 0:
    case 2:
      w_.vehicle.OnTachographAnswer(p);
      return;
    case 12:
      Show("Тахограф не настроен. Сохраните настройки в прибор");
      return;
    case 18:
      Show("Тахограф не готов, не подключен");
      return;
    case 20:
      w_.transfer.ResumeWait();
      return;
    default:
      Show(StatusText(p[0]));
      return;
  }
}

void Dispatcher::OnBluetooth(uint8_t command, const Payload& p) {
  // Every answer starts with its sub-code or device number; an empty one says nothing.
  if (p.size() == 0) return;
  if (command == kBluetoothScan) {
    if (p[0] != 0) {
      w_.bluetooth.AddToBlueList(p[0], config::Bluetooth::TextFromTracker(p.CString(1)));
    } else {
      Show("Bluetooth: cканирование завершено");
    }
    return;
  }
  if (command == kBluetoothPair) {
    if (p[0] != 0) {
      Show(p[1] != 0 ? "Bluetooth: cопряжение успешно" : "Bluetooth: cопряжение провалено");
    } else {
      Show("Bluetooth: удален из списка");
    }
    return;
  }
  if (p[0] == 0) {
    Show(p[1] != 0 ? "Bluetooth: настройка произведена" : "Bluetooth: ошибка настройки");
  } else if (p[0] == 1) {
    Show(p[1] != 0
             ? "Bluetooth: подключение установлено - " + config::Bluetooth::TextFromTracker(p.CString(2))
             : "Bluetooth: подключение провалено");
  } else if (p[0] == 2 && p[1] == 0 && p.size() >= 3) {
    w_.bluetooth.AddToBlueList(p[2], config::Bluetooth::TextFromTracker(p.CString(3)));
  }
}

void Dispatcher::Unrecognised(uint8_t command) {
  const std::string format = w_.messages.GetMessageA(36);
  Show(ui::FormatInt(format, command));
}

}  // namespace rlv::protocol

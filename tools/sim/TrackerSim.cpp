#include "TrackerSim.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "DefaultRecords.h"
#include "link/Bytes.h"
#include "link/Crc.h"
#include "platform/Clock.h"

namespace rlv::sim {
namespace {

constexpr uint8_t kMagic[4] = {'S', 'L', 'R', 'L'};
constexpr size_t kMinLength = 2;                       // direction and command
constexpr size_t kMaxLength = kMaxRequestPayload + 2;  // longest request the configurator can build
constexpr size_t kRecordCrcOffset = kConfigRecordSize - 2;
constexpr size_t kMaxEventsPerAnswer = 255;  // the count is one byte

bool RecordCrcValid(const uint8_t* record) {
  return link::GetU16(record + kRecordCrcOffset) == link::Crc16(record, kRecordCrcOffset);
}

}  // namespace

std::vector<uint8_t> BuildFrame(uint8_t direction, uint8_t command, const std::vector<uint8_t>& payload) {
  const size_t length = payload.size() + 2;
  std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
  std::copy(std::begin(kMagic), std::end(kMagic), frame.begin());
  link::PutU16(frame.data() + 4, static_cast<uint16_t>(length));
  frame[6] = direction;
  frame[7] = command;
  std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
  link::PutU16(frame.data() + 6 + length, link::Crc16(frame.data() + 6, length));
  return frame;
}

std::vector<uint8_t> BuildResponseFrame(uint8_t command, const std::vector<uint8_t>& payload) {
  return BuildFrame(kFromTracker, command, payload);
}

std::vector<uint8_t> BuildRequestFrame(uint8_t command, const std::vector<uint8_t>& payload, uint8_t filler) {
  std::vector<uint8_t> frame = BuildFrame(kToTracker, command, payload);
  if (frame.size() % 8 == 0) frame.push_back(filler);
  return frame;
}

TrackerSim::TrackerSim(SimConfig config) : config_(std::move(config)), bootloader_(config_.bootloader) {
  records_[0] = DefaultRecord1();
  {
    // Stamped with the moment the tracker was "configured": now, as local wall-clock seconds.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    const platform::DateTime t{
        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0};
    const auto seconds = static_cast<uint32_t>(platform::SecondsSince1970(t));
    link::PutU32(records_[0].data() + 349, seconds);
    link::PutU16(records_[0].data() + kRecordCrcOffset, link::Crc16(records_[0].data(), kRecordCrcOffset));
  }
  records_[1] = DefaultRecord2();
  fault_memory_.fill(0xFF);  // erased memory
  events_ = config_.events;
  BuildDeviceRecord();
  if (config_.living) UpdateLivingState();
}

void TrackerSim::BuildDeviceRecord() {
  uint8_t* d = device_.data();
  link::PutU16(d + 0, config_.device_id);
  std::fill(d + 2, d + 18, 0);
  const size_t imei_size = std::min<size_t>(config_.imei.size(), 16);
  std::copy(config_.imei.begin(), config_.imei.begin() + static_cast<std::ptrdiff_t>(imei_size), d + 2);
  d[18] = config_.firmware_version;
  d[19] = config_.device_type;
  link::PutU16(d + 20, config_.build[0]);
  link::PutU16(d + 22, config_.build[1]);
  d[24] = static_cast<uint8_t>(config_.build[2]);
  d[25] = 0x31;  // GSM registered (1), GPRS state 3
  link::PutU16(d + 51, 30);
  link::PutU16(d + 90, 120);
  d[97] = config_.input_types[0];
  d[98] = config_.input_types[1];
  d[214] = config_.operator_index;
  link::PutU16(d + 233, config_.gnss_version);
}

void TrackerSim::AddFaultRecord(const FaultRecord& record) {
  constexpr size_t kRecord = 21;
  if ((fault_records_ + 1) * kRecord > fault_memory_.size()) return;
  uint8_t* r = fault_memory_.data() + fault_records_ * kRecord;
  link::PutU32(r, record.time);
  link::PutU32(r + 4, record.cfsr);
  link::PutU32(r + 8, record.hfsr);
  link::PutU32(r + 12, record.mmfar);
  link::PutU32(r + 16, record.bfar);
  r[20] = link::Crc8(r, 20);
  ++fault_records_;
}

void TrackerSim::Advance(uint32_t ms) {
  elapsed_ms_ += ms;
  while (!paced_.empty() && elapsed_ms_ >= pace_due_ms_) {
    const std::vector<uint8_t> frame = paced_.front();
    paced_.erase(paced_.begin());
    pace_due_ms_ += config_.fault_block_pace_ms;
    if (output_) output_(frame);
  }
  for (const BluetoothSim::Answer& answer : bluetooth_.Advance(elapsed_ms_)) {
    Answer(answer.command, answer.payload);
  }
  if (!config_.living) return;
  while (living_second_ < elapsed_ms_ / 1000) {
    ++living_second_;
    UpdateLivingState();
  }
}

// The living tracker's state at second `living_second_`: a drive round a
// closed path with stops, a key presented every half minute, an event now and then.
void TrackerSim::UpdateLivingState() {
  const uint64_t t = living_second_;
  uint8_t* n = navigation_.data();
  constexpr uint32_t kStart = 1767225600;  // 01.01.2026 00:00:00 UTC
  link::PutU32(n + 0, kStart + static_cast<uint32_t>(t));
  // A square of about 1.1 km a side, 1000 millionths of a degree per 10 s.
  const uint64_t leg = (t / 100) % 4;
  const auto along = static_cast<int32_t>((t % 100) * 100);
  int32_t dlat = 0;
  int32_t dlon = 0;
  int16_t course = 0;
  switch (leg) {
    case 0:
      dlat = along;
      course = 0;
      break;
    case 1:
      dlat = 10000;
      dlon = along;
      course = 900;
      break;
    case 2:
      dlat = 10000 - along;
      dlon = 10000;
      course = 1800;
      break;
    default:
      dlon = 10000 - along;
      course = 2700;
      break;
  }
  const bool moving = (t / 50) % 5 != 4;  // a stop of 50 s every 250 s
  link::PutU32(n + 4, static_cast<uint32_t>(55750000 + dlat));
  link::PutU32(n + 8, static_cast<uint32_t>(37620000 + dlon));
  n[12] = static_cast<uint8_t>(8 + (t / 7) % 7);
  n[14] = static_cast<uint8_t>(7 + (t / 11) % 9);
  link::PutU16(n + 15, static_cast<uint16_t>(150 + (t / 13) % 5));
  link::PutU16(n + 17, static_cast<uint16_t>(moving ? 400 + (t % 9) * 5 : 0));
  link::PutU16(n + 19, static_cast<uint16_t>(course));
  link::PutU32(n + 21, static_cast<uint32_t>(t * 11));
  const uint16_t inputs[2] = {static_cast<uint16_t>(12000 + (t % 20) * 50), static_cast<uint16_t>(t % 300)};
  link::PutU16(n + 29, inputs[0]);
  link::PutU16(n + 31, inputs[1]);
  link::PutU16(n + 33, static_cast<uint16_t>(2000 - (t / 30) % 1000));
  link::PutU16(n + 35, 0);
  n[37] = 21;
  n[38] = static_cast<uint8_t>(-128);  // no second fuel sensor
  const bool key = t % 30 < 3;
  const uint8_t key_code[6] = {0x01, 0xA2, 0xB3, 0xC4, 0xD5, 0x00};
  for (size_t i = 0; i < 6; ++i) n[40 + i] = key ? key_code[i] : 0;
  n[46] = static_cast<uint8_t>(18 + (t / 60) % 3);
  n[47] = static_cast<uint8_t>(-128);
  n[48] = 1;
  n[50] = moving ? 1 : 0;
  n[55] = key ? 1 : 0;
  n[58] = static_cast<uint8_t>((moving ? 0x01 : 0) | 0x40);
  n[59] = 2 << 1;  // receiver fine
  n[60] = 34;
  link::PutU16(n + 61, static_cast<uint16_t>(static_cast<int16_t>(-12 + static_cast<int>(t % 5))));
  link::PutU16(n + 63, static_cast<uint16_t>(static_cast<int16_t>(8 - static_cast<int>(t % 3))));
  link::PutU16(n + 65, 1000);
  link::PutU32(n + 67, static_cast<uint32_t>(86400 + t));
  n[71] = static_cast<uint8_t>(12 + (t / 5) % 15);
  for (size_t i = 155; i <= 160; ++i) n[i] = static_cast<uint8_t>(-128);
  n[155] = 5;
  // Device record: the backlog grows while the server is away.
  link::PutU32(device_.data() + 74, static_cast<uint32_t>((t / 3) % 40));
  if (t > 0 && t % 20 == 0) {
    static constexpr uint8_t kCodes[] = {1, 2, 3, 5, 8, 13, 17, 21};
    events_.push_back(kCodes[(t / 20) % sizeof kCodes]);
  }
}

void TrackerSim::SetOutput(Output out) {
  output_ = std::move(out);
}

void TrackerSim::SetRequestHook(RequestHook hook) {
  request_hook_ = std::move(hook);
}

void TrackerSim::QueueEvents(const std::vector<uint8_t>& codes) {
  events_.insert(events_.end(), codes.begin(), codes.end());
}

const std::array<uint8_t, kConfigRecordSize>& TrackerSim::Record(int index) const {
  return records_.at(static_cast<size_t>(index));
}

void TrackerSim::SetRecord(int index, const std::array<uint8_t, kConfigRecordSize>& record) {
  records_.at(static_cast<size_t>(index)) = record;
}

// ---------------------------------------------------------------------------
// Receiving

void TrackerSim::Feed(const uint8_t* data, size_t n) {
  if (data == nullptr || n == 0) return;
  if (transparent_ && !scanning_) {
    size_t used = 0;
    FeedTransparent(data, n, &used);
    data += used;
    n -= used;
    if (n == 0) return;
  }
  rx_.insert(rx_.end(), data, data + n);
  // An answer handler that feeds bytes back (a loopback in a test) only
  // appends them; the running scan picks them up.
  if (!scanning_) ScanInput();
}

TrackerSim::Candidate TrackerSim::CheckCandidate(size_t at, size_t* frame_size) const {
  if (rx_.size() - at < 6) return Candidate::kIncomplete;
  const size_t length = link::GetU16(rx_.data() + at + 4);
  if (length < kMinLength || length > kMaxLength) return Candidate::kInvalid;
  const size_t size = length + 8;
  if (rx_.size() - at < size) return Candidate::kIncomplete;
  const uint16_t crc = link::Crc16(rx_.data() + at + 6, length);
  if (link::GetU16(rx_.data() + at + 6 + length) != crc) return Candidate::kInvalid;
  *frame_size = size;
  return Candidate::kValid;
}

// Walks the buffered bytes for magics. A complete frame with a good CRC is
// taken as a whole; anything else moves on by one byte, so a magic right after
// stray bytes, or a real frame behind a false magic, is still found. The first
// incomplete candidate keeps its bytes for the next Feed, unless a complete
// valid frame turns up behind it, which proves the candidate was noise.
void TrackerSim::ScanInput() {
  scanning_ = true;
  size_t i = 0;
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t pending = kNone;
  while (rx_.size() >= 4 && i <= rx_.size() - 4) {
    if (!std::equal(std::begin(kMagic), std::end(kMagic), rx_.begin() + static_cast<std::ptrdiff_t>(i))) {
      ++i;
      continue;
    }
    size_t frame_size = 0;
    const Candidate candidate = CheckCandidate(i, &frame_size);
    if (candidate == Candidate::kIncomplete) {
      if (pending == kNone) pending = i;
      ++i;
      continue;
    }
    if (candidate == Candidate::kInvalid) {
      ++i;
      continue;
    }
    const size_t start = i;
    i += frame_size;
    pending = kNone;
    // The direction is checked only after the CRC; our own answers echoed
    // back are dropped whole.
    if (rx_[start + 6] == kToTracker) {
      // Copy the payload out: handlers may feed more bytes into rx_.
      const std::vector<uint8_t> payload(rx_.begin() + static_cast<std::ptrdiff_t>(start + kFrameHeaderSize),
                                         rx_.begin() + static_cast<std::ptrdiff_t>(start + frame_size - 2));
      Dispatch(rx_[start + 7], payload.data(), payload.size());
    }
  }
  // Keep the pending candidate, or else the last bytes that may begin a magic.
  const size_t keep_from = std::min(pending != kNone ? pending : i, rx_.size());
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(keep_from));
  scanning_ = false;
}

// ---------------------------------------------------------------------------
// Commands

const std::array<TrackerSim::CommandEntry, 256>& TrackerSim::Commands() {
  static const std::array<CommandEntry, 256> table = [] {
    std::array<CommandEntry, 256> t{};
    t[cmd::kIdentify] = {&TrackerSim::OnIdentify, kBoth, false};
    t[cmd::kRestart] = {&TrackerSim::OnRestart, kBoth, false};
    for (uint8_t code : {cmd::kFirmwareStart, cmd::kFirmwareSize, cmd::kFirmwareHeader, cmd::kFirmwareBlock,
                         cmd::kFirmwareFinish}) {
      t[code] = {&TrackerSim::OnFirmwareStep, kBootloaderMode, false};
    }
    t[cmd::kConfigRead] = {&TrackerSim::OnConfigRead, kApplication, true};
    t[cmd::kConfigWrite] = {&TrackerSim::OnConfigWrite, kApplication, true};
    t[cmd::kStatusRecord] = {&TrackerSim::OnStatusRecord, kApplication, false};
    t[cmd::kPassword] = {&TrackerSim::OnPassword, kApplication, false};
    t[cmd::kDeleteTrack] = {&TrackerSim::OnDeleteTrack, kApplication, true};
    t[cmd::kEventLog] = {&TrackerSim::OnEventLog, kApplication, false};
    t[cmd::kTransparentPort] = {&TrackerSim::OnTransparentPort, kApplication, false};
    t[cmd::kRemoteFirmwareBlock] = {&TrackerSim::OnRemoteFirmwareBlock, kApplication, false};
    t[cmd::kTestPacket] = {&TrackerSim::OnTestPacket, kApplication, false};
    t[cmd::kTestSms] = {&TrackerSim::OnTestSms, kApplication, false};
    t[cmd::kFaultLog] = {&TrackerSim::OnFaultLog, kApplication, false};
    t[kTachographCommand] = {&TrackerSim::OnTachograph, kApplication, false};
    for (uint8_t code : {kBluetoothScanCommand, kBluetoothPairCommand, kBluetoothListCommand}) {
      t[code] = {&TrackerSim::OnBluetooth, kApplication, false};
    }
    return t;
  }();
  return table;
}

void TrackerSim::Dispatch(uint8_t command, const uint8_t* p, size_t n) {
  received_.push_back(command);
  if (request_hook_) request_hook_(command, n);
  if (config_.silent) return;

  const CommandEntry& entry = Commands()[command];
  if (entry.handler == nullptr) return;
  if ((entry.modes & (bootloader_ ? kBootloaderMode : kApplication)) == 0) return;

  if (auto forced = config_.forced_status.find(command); forced != config_.forced_status.end()) {
    std::vector<uint8_t> answer{forced->second};
    if (command == cmd::kConfigRead || command == cmd::kConfigWrite) answer.push_back(n > 0 ? p[0] : 0);
    Answer(command, answer);
    return;
  }
  if (auto forced = config_.forced_payload.find(command); forced != config_.forced_payload.end()) {
    Answer(command, forced->second);
    return;
  }
  if (entry.needs_unlock && Locked()) {
    Answer(command, {status::kPasswordRequired});
    return;
  }
  (this->*entry.handler)(command, p, n);
}

void TrackerSim::Answer(uint8_t command, const std::vector<uint8_t>& payload) {
  if (output_) output_(BuildResponseFrame(command, payload));
}

void TrackerSim::OnIdentify(uint8_t command, const uint8_t*, size_t) {
  if (bootloader_) {
    Answer(command, {0, config_.bootloader_version, 0, 0, config_.device_type, 0});
  } else {
    Answer(command, {1, 0, 0, 0, config_.device_type, config_.device_options});
  }
}

// Mode 1 restarts into the bootloader, mode 0 into the application. The
// answer goes out before the restart; a restart forgets the password.
void TrackerSim::OnRestart(uint8_t command, const uint8_t* p, size_t n) {
  if (n < 1 || p[0] > 1) {
    Answer(command, {status::kError});
    return;
  }
  Answer(command, {status::kOk});
  // An image taken whole by the bootloader is what the application now runs.
  if (bootloader_ && p[0] == 0 && bootloader_part_.Complete()) InstallFlashedBuild();
  if (p[0] == 0 && receiver_.Finished() && config_.gnss_version_after_update != 0) {
    config_.gnss_version = config_.gnss_version_after_update;
    link::PutU16(device_.data() + 233, config_.gnss_version);
  }
  bootloader_ = p[0] == 1;
  bootloader_part_.Restart();
  receiver_.Reset();
  transparent_ = false;
  unlocked_ = false;
  ++restart_count_;
}

// The new firmware's version and build go into the device record (18, 20, 22, 24).
void TrackerSim::InstallFlashedBuild() {
  const std::vector<uint8_t>& h = bootloader_part_.Header();
  if (h.size() < 25) return;
  config_.firmware_version = h[5];
  config_.build[0] = link::GetU16(h.data() + 20);
  config_.build[1] = link::GetU16(h.data() + 22);
  config_.build[2] = h[24];
  device_[18] = h[5];
  std::copy(h.begin() + 20, h.begin() + 25, device_.begin() + 20);
}

void TrackerSim::OnFirmwareStep(uint8_t command, const uint8_t* p, size_t n) {
  int delay = 0;
  const std::optional<uint8_t> status = bootloader_part_.Handle(command, p, n, &delay);
  if (!status) return;
  answer_delay_ms_ = delay;
  Answer(command, {*status});
}

// Request: port (1 = the GNSS receiver), u32 baud rate. From the answer on,
// the port's bytes go to the receiver until ";;++x+y=z;" comes.
void TrackerSim::OnTransparentPort(uint8_t command, const uint8_t* p, size_t n) {
  if (n >= 1 && p[0] != 1) {
    // The other ports: recorded by the vehicle side.
    Answer(command, {vehicle_.OnTransparentPort(p, n)});
    return;
  }
  if (n < 5 || p[0] != 1) {
    Answer(command, {status::kError});
    return;
  }
  Answer(command, {status::kOk});
  transparent_ = true;
  exit_match_ = 0;
  receiver_.Reset();
}

void TrackerSim::FeedTransparent(const uint8_t* data, size_t n, size_t* used) {
  static constexpr char kExit[] = ";;++x+y=z;";
  constexpr size_t kExitSize = sizeof kExit - 1;
  size_t i = 0;
  for (; i < n; ++i) {
    const char c = static_cast<char>(data[i]);
    exit_match_ = c == kExit[exit_match_] ? exit_match_ + 1 : (c == kExit[0] ? 1 : 0);
    if (exit_match_ == kExitSize) {
      ++i;
      transparent_ = false;
      exit_match_ = 0;
      break;
    }
  }
  const std::vector<uint8_t> reply = receiver_.Feed(data, i, line_speed_);
  if (!reply.empty() && output_) output_(reply);
  *used = i;
}

// Request: u32 file offset, u16 n, n bytes (n <= 512). The file grows in
// order; a transfer starts at 0 or resumes where the last one stopped.
void TrackerSim::OnRemoteFirmwareBlock(uint8_t command, const uint8_t* p, size_t n) {
  if (n < 6) {
    Answer(command, {status::kError});
    return;
  }
  const uint32_t offset = link::GetU32(p);
  const size_t count = link::GetU16(p + 4);
  if (count == 0 || count > 512 || count != n - 6 || offset > remote_file_.size()) {
    Answer(command, {status::kError});
    return;
  }
  remote_file_.resize(offset);
  remote_file_.insert(remote_file_.end(), p + 6, p + 6 + count);
  device_[110] = static_cast<uint8_t>(device_[110] & ~0x40);
  Answer(command, {status::kOk});
}

void TrackerSim::InterruptRemoteTransfer(uint8_t number) {
  device_[110] = static_cast<uint8_t>(device_[110] | 0x40);
  link::PutU32(device_.data() + 206, static_cast<uint32_t>(remote_file_.size()));
  device_[210] = number;
}

void TrackerSim::OnConfigRead(uint8_t command, const uint8_t* p, size_t n) {
  if (n < 1 || p[0] > 1) {
    Answer(command, {status::kError, static_cast<uint8_t>(n > 0 ? p[0] : 0)});
    return;
  }
  const auto& record = records_[p[0]];
  std::vector<uint8_t> answer(4 + kConfigRecordSize);
  answer[0] = status::kOk;
  answer[1] = p[0];
  link::PutU16(answer.data() + 2, static_cast<uint16_t>(kConfigRecordSize));
  std::copy(record.begin(), record.end(), answer.begin() + 4);
  Answer(command, answer);
}

// Request: P[0] block index, P[1..2] length (512), P[3..514] the record.
void TrackerSim::OnConfigWrite(uint8_t command, const uint8_t* p, size_t n) {
  const uint8_t index = n > 0 ? p[0] : 0;
  const bool well_formed =
      n >= 3 + kConfigRecordSize && index <= 1 && link::GetU16(p + 1) == kConfigRecordSize;
  if (!well_formed || (config_.check_record_crc && !RecordCrcValid(p + 3))) {
    Answer(command, {status::kError, index});
    return;
  }
  std::copy(p + 3, p + 3 + kConfigRecordSize, records_[index].begin());
  Answer(command, {status::kOk, index});
}

// Request: P[0] kind (0 navigation, 1 device). Answer: kind, u16 n, n bytes.
void TrackerSim::OnStatusRecord(uint8_t command, const uint8_t* p, size_t n) {
  if (n < 1 || p[0] > 1) return;
  if (p[0] == 0) vehicle_.FillNavigation(navigation_.data(), navigation_.size());
  const uint8_t* record = p[0] == 0 ? navigation_.data() : device_.data();
  const size_t size = p[0] == 0 ? navigation_.size() : device_.size();
  std::vector<uint8_t> answer(3 + size);
  answer[0] = p[0];
  link::PutU16(answer.data() + 1, static_cast<uint16_t>(size));
  std::copy(record, record + size, answer.begin() + 3);
  Answer(command, answer);
}

void TrackerSim::OnPassword(uint8_t command, const uint8_t* p, size_t n) {
  if (n >= 2 && link::GetU16(p) == config_.password) {
    unlocked_ = true;
    Answer(command, {status::kOk});
  } else {
    Answer(command, {status::kError});
  }
}

void TrackerSim::OnDeleteTrack(uint8_t command, const uint8_t*, size_t) {
  ++track_delete_count_;
  link::PutU32(device_.data() + 74, 0);  // nothing left to send
  Answer(command, {status::kOk});
}

// Request: 00. The tracker sends a test packet to its server and says so.
void TrackerSim::OnTestPacket(uint8_t command, const uint8_t*, size_t) {
  ++test_packet_count_;
  Answer(command, {status::kOk});
}

// Request: the dispatcher's number, NUL-terminated. The tracker sends a test SMS to it.
void TrackerSim::OnTestSms(uint8_t command, const uint8_t* p, size_t n) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  if (end == nullptr || end == p) {
    Answer(command, {status::kError});
    return;
  }
  test_sms_number_.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
  Answer(command, {status::kOk});
}

// Request: 01. Answer: count, then that many event codes, oldest first.
void TrackerSim::OnEventLog(uint8_t command, const uint8_t* p, size_t n) {
  if (n < 1 || p[0] != 1) return;
  const size_t count = std::min(events_.size(), kMaxEventsPerAnswer);
  std::vector<uint8_t> answer;
  answer.reserve(1 + count);
  answer.push_back(static_cast<uint8_t>(count));
  answer.insert(answer.end(), events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(count));
  events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(count));
  Answer(command, answer);
}

}  // namespace rlv::sim

namespace rlv::sim {

// Request 00: the eight 512-byte blocks (index, two unused bytes, data) and
// the end marker FF. Request 01: the log is erased, acknowledged with a
// one-byte status that carries no block.
void TrackerSim::OnFaultLog(uint8_t command, const uint8_t* p, size_t n) {
  constexpr size_t kBlock = 512;
  std::vector<std::vector<uint8_t>> frames;
  if (n >= 1 && p[0] == 1) {
    fault_memory_.fill(0xFF);
    fault_records_ = 0;
    Answer(command, {status::kOk});
    return;
  }
  if (n >= 1 && p[0] == 0) {
    for (uint8_t block = 0; block < 8; ++block) {
      std::vector<uint8_t> answer(3 + kBlock);
      answer[0] = block;
      std::copy(fault_memory_.begin() + block * kBlock, fault_memory_.begin() + (block + 1) * kBlock,
                answer.begin() + 3);
      frames.push_back(BuildResponseFrame(command, answer));
    }
  } else {
    return;
  }
  frames.push_back(BuildResponseFrame(command, {0xFF}));
  if (config_.fault_block_pace_ms == 0) {
    for (const auto& frame : frames) {
      if (output_) output_(frame);
    }
    return;
  }
  if (paced_.empty()) pace_due_ms_ = elapsed_ms_ + config_.fault_block_pace_ms;
  paced_.insert(paced_.end(), frames.begin(), frames.end());
}

void TrackerSim::OnTachograph(uint8_t command, const uint8_t* p, size_t n) {
  for (const std::vector<uint8_t>& answer : vehicle_.OnTachograph(p, n)) Answer(command, answer);
}

}  // namespace rlv::sim

namespace rlv::sim {

void TrackerSim::OnBluetooth(uint8_t command, const uint8_t* p, size_t n) {
  for (const BluetoothSim::Answer& answer : bluetooth_.OnRequest(command, p, n, elapsed_ms_)) {
    Answer(answer.command, answer.payload);
  }
}

}  // namespace rlv::sim

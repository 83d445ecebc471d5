#pragma once

// Software stand-in for the tracker: takes the configurator's request frames
// byte by byte and produces the tracker's answer frames. Used by the tests,
// by the demo mode and by the rlvexa-tracker-sim tool.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BluetoothSim.h"
#include "Bootloader.h"
#include "GnssReceiver.h"
#include "VehicleSim.h"

namespace rlv::sim {

// Frame layout: "SLRL", u16 L = payload + 2, direction, command, payload,
// Crc16 over direction..payload (low byte first).
inline constexpr size_t kFrameHeaderSize = 8;       // magic, length, direction, command
inline constexpr size_t kFrameOverhead = 10;        // header and CRC
inline constexpr uint8_t kToTracker = 0xAA;         // direction of requests
inline constexpr uint8_t kFromTracker = 0x55;       // direction of answers
inline constexpr size_t kMaxRequestPayload = 4085;  // what the configurator's send buffer allows

// Command codes the simulated tracker knows.
namespace cmd {
inline constexpr uint8_t kIdentify = 0;
inline constexpr uint8_t kRestart = 4;
inline constexpr uint8_t kFirmwareStart = 16;
inline constexpr uint8_t kFirmwareSize = 18;
inline constexpr uint8_t kFirmwareHeader = 19;
inline constexpr uint8_t kFirmwareBlock = 20;
inline constexpr uint8_t kFirmwareFinish = 21;
inline constexpr uint8_t kConfigRead = 32;
inline constexpr uint8_t kConfigWrite = 33;
inline constexpr uint8_t kStatusRecord = 34;
inline constexpr uint8_t kPassword = 37;
inline constexpr uint8_t kDeleteTrack = 38;
inline constexpr uint8_t kEventLog = 41;
inline constexpr uint8_t kTransparentPort = 52;
inline constexpr uint8_t kTestPacket = 61;
inline constexpr uint8_t kTestSms = 176;
inline constexpr uint8_t kRemoteFirmwareBlock = 209;
inline constexpr uint8_t kFaultLog = 177;
}  // namespace cmd

// Status bytes (P[0]) the simulated tracker answers with.
namespace status {
inline constexpr uint8_t kOk = 0;
inline constexpr uint8_t kError = 1;  // malformed request, wrong password
inline constexpr uint8_t kPasswordRequired = 4;
}  // namespace status

inline constexpr size_t kConfigRecordSize = 512;
inline constexpr size_t kNavigationRecordSize = 256;
inline constexpr size_t kDeviceRecordSize = 512;

struct SimConfig {
  uint8_t device_type = 8;         // identify P[4] (application)
  uint8_t device_options = 0;      // identify P[5]
  bool bootloader = false;         // start in bootloader mode (read at construction)
  uint8_t bootloader_version = 1;  // identify P[1] in bootloader mode
  uint16_t password = 0;           // configuration password; 0 = none
  bool silent = false;             // answer nothing at all
  // Command code -> status byte P[0] to answer instead of success. A forced
  // status means the command failed: it changes no state.
  std::map<uint8_t, uint8_t> forced_status{};
  // Reject (status 1) written configuration records whose trailing Crc16 of
  // bytes 0..509 is wrong.
  bool check_record_crc = false;
  // Receiver firmware version (device record byte 233) after a receiver update; 0 keeps it.
  uint16_t gnss_version_after_update = 0;
  // Command code -> payload answered instead of the real one, as it stands
  // (short, lying about its length, of an unknown kind...).
  std::map<uint8_t, std::vector<uint8_t>> forced_payload{};

  // The device record's identity.
  std::string imei = "866000000000001";  // at most 16 characters
  uint16_t device_id = 1;
  uint8_t firmware_version = 5;
  uint16_t build[3] = {2018, 612, 3};
  uint16_t gnss_version = 118;      // version x 100 + revision; 0 = not reported
  uint8_t input_types[2] = {0, 1};  // analogue, frequency
  uint8_t operator_index = 1;
  // A living tracker: Advance() moves the fix along a path, advances its time
  // and changes the readings; otherwise the records stay as they are set.
  bool living = false;
  // Event codes reported by the first event-log answers; a living tracker adds more over time.
  std::vector<uint8_t> events{};
  // Fault-log blocks are answered this many milliseconds apart (released by
  // Advance); 0 sends all blocks and the end marker at once.
  uint32_t fault_block_pace_ms = 0;
};

// One processor fault record of the tracker's fault log.
struct FaultRecord {
  uint32_t time = 0;  // seconds since 1970 UTC
  uint32_t cfsr = 0;
  uint32_t hfsr = 0;
  uint32_t mmfar = 0;
  uint32_t bfar = 0;
};

class TrackerSim {
 public:
  using Output = std::function<void(const std::vector<uint8_t>& bytes)>;
  // Called for every accepted request frame, before it is answered.
  using RequestHook = std::function<void(uint8_t command, size_t payload_size)>;

  explicit TrackerSim(SimConfig config = {});

  void SetOutput(Output out);  // where answer frames go (one call per answer frame)
  void SetRequestHook(RequestHook hook);

  // Bytes written by the configurator. A frame split across calls is
  // reassembled; bytes that belong to no valid request are skipped.
  void Feed(const uint8_t* data, size_t n);
  void Feed(const std::vector<uint8_t>& bytes) { Feed(bytes.data(), bytes.size()); }
  // Forgets a partly received frame (for example when a connection drops).
  void DiscardPartialInput() { rx_.clear(); }

  SimConfig& Config() { return config_; }

  // The status records answered by command 34 (kind 0 and kind 1).
  std::array<uint8_t, kNavigationRecordSize>& NavigationRecord() { return navigation_; }
  std::array<uint8_t, kDeviceRecordSize>& DeviceRecord() { return device_; }

  // Reported (and then removed) by the next event-log answer.
  void QueueEvents(const std::vector<uint8_t>& codes);
  size_t PendingEvents() const { return events_.size(); }

  // The device record rebuilt from the configuration's identity fields.
  void BuildDeviceRecord();
  // Moves a living tracker's clock on: position, time, satellites, inputs,
  // key, sensors, work time, signal, backlog and new events; releases paced
  // fault-log blocks that are due.
  void Advance(uint32_t ms);
  uint64_t ElapsedMs() const { return elapsed_ms_; }

  // The fault log: records kept in the tracker's 4096-byte log memory, each
  // ending in its Crc8; erased by command 177 with 01.
  void AddFaultRecord(const FaultRecord& record);
  // Raw access to the log memory (to corrupt a record in a test).
  std::array<uint8_t, 4096>& FaultMemory() { return fault_memory_; }
  size_t FaultRecordCount() const { return fault_records_; }

  // The two stored configuration records (index 0 and 1; other indexes throw
  // std::out_of_range). They start as a freshly reset configurator builds them.
  const std::array<uint8_t, kConfigRecordSize>& Record(int index) const;
  void SetRecord(int index, const std::array<uint8_t, kConfigRecordSize>& record);

  bool InBootloader() const { return bootloader_; }
  // The bootloader personality and the GNSS receiver behind the transparent mode.
  Bootloader& BootloaderPart() { return bootloader_part_; }
  GnssReceiver& Receiver() { return receiver_; }
  // The tachograph, the transparent ports and the accelerometer.
  VehicleSim& Vehicle() { return vehicle_; }
  // The Bluetooth module: scan, pairing, removal and the paired list.
  BluetoothSim& Bluetooth() { return bluetooth_; }
  bool Transparent() const { return transparent_; }
  // The line speed the next bytes are fed at (the receiver hears only its own).
  void SetLineSpeed(int baud) { line_speed_ = baud; }
  // How long the answer just given is to be held back (read once).
  int TakeAnswerDelay() {
    const int delay = answer_delay_ms_;
    answer_delay_ms_ = 0;
    return delay;
  }
  // The file received with command 209, and where a new transfer would resume.
  const std::vector<uint8_t>& RemoteFile() const { return remote_file_; }
  // Marks the transfer received so far as interrupted (device record 110 bit 6,
  // 206 = its length, 210 = `number`), as the tracker does when the link drops.
  void InterruptRemoteTransfer(uint8_t number);
  bool Unlocked() const { return unlocked_; }
  int RestartCount() const { return restart_count_; }
  int TrackDeleteCount() const { return track_delete_count_; }
  int TestPacketCount() const { return test_packet_count_; }
  // The number of the last test SMS asked for.
  const std::string& TestSmsNumber() const { return test_sms_number_; }
  // Command codes of accepted request frames, in order.
  const std::vector<uint8_t>& ReceivedCommands() const { return received_; }

 private:
  using Handler = void (TrackerSim::*)(uint8_t command, const uint8_t* p, size_t n);
  // Where a command is served; a command outside its modes gets no answer.
  enum Modes : uint8_t { kApplication = 1, kBootloaderMode = 2, kBoth = 3 };
  struct CommandEntry {
    Handler handler = nullptr;
    uint8_t modes = 0;
    bool needs_unlock = false;  // refused with status 4 while the password is not given
  };
  static const std::array<CommandEntry, 256>& Commands();

  enum class Candidate { kIncomplete, kInvalid, kValid };
  Candidate CheckCandidate(size_t at, size_t* frame_size) const;
  void ScanInput();
  void Dispatch(uint8_t command, const uint8_t* p, size_t n);
  void Answer(uint8_t command, const std::vector<uint8_t>& payload);
  bool Locked() const { return config_.password != 0 && !unlocked_; }

  void OnIdentify(uint8_t command, const uint8_t* p, size_t n);
  void OnRestart(uint8_t command, const uint8_t* p, size_t n);
  void OnFirmwareStep(uint8_t command, const uint8_t* p, size_t n);
  void OnConfigRead(uint8_t command, const uint8_t* p, size_t n);
  void OnConfigWrite(uint8_t command, const uint8_t* p, size_t n);
  void OnStatusRecord(uint8_t command, const uint8_t* p, size_t n);
  void OnPassword(uint8_t command, const uint8_t* p, size_t n);
  void OnDeleteTrack(uint8_t command, const uint8_t* p, size_t n);
  void OnTestPacket(uint8_t command, const uint8_t* p, size_t n);
  void OnTestSms(uint8_t command, const uint8_t* p, size_t n);
  void OnEventLog(uint8_t command, const uint8_t* p, size_t n);
  void OnTransparentPort(uint8_t command, const uint8_t* p, size_t n);
  void OnRemoteFirmwareBlock(uint8_t command, const uint8_t* p, size_t n);
  void FeedTransparent(const uint8_t* data, size_t n, size_t* used);
  void InstallFlashedBuild();
  void OnFaultLog(uint8_t command, const uint8_t* p, size_t n);
  void OnTachograph(uint8_t command, const uint8_t* p, size_t n);
  void UpdateLivingState();
  void OnBluetooth(uint8_t command, const uint8_t* p, size_t n);

  SimConfig config_;
  Output output_;
  RequestHook request_hook_;
  std::vector<uint8_t> rx_;
  bool scanning_ = false;

  bool bootloader_ = false;
  Bootloader bootloader_part_;
  GnssReceiver receiver_;
  VehicleSim vehicle_;
  bool transparent_ = false;
  size_t exit_match_ = 0;
  int line_speed_ = 9600;
  int answer_delay_ms_ = 0;
  std::vector<uint8_t> remote_file_;
  bool unlocked_ = false;
  int restart_count_ = 0;
  int track_delete_count_ = 0;
  int test_packet_count_ = 0;
  std::string test_sms_number_;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> events_;
  std::array<uint8_t, kNavigationRecordSize> navigation_{};
  std::array<uint8_t, kDeviceRecordSize> device_{};
  std::array<std::array<uint8_t, kConfigRecordSize>, 2> records_{};
  std::array<uint8_t, 4096> fault_memory_{};
  size_t fault_records_ = 0;
  std::vector<std::vector<uint8_t>> paced_;  // fault-log answers not yet sent
  uint64_t pace_due_ms_ = 0;
  uint64_t elapsed_ms_ = 0;
  uint64_t living_second_ = 0;
  BluetoothSim bluetooth_;
};

// One frame with the given direction: magic, length, direction, command,
// payload, CRC. No filler byte.
std::vector<uint8_t> BuildFrame(uint8_t direction, uint8_t command, const std::vector<uint8_t>& payload);
// One tracker->configurator frame (direction 0x55).
std::vector<uint8_t> BuildResponseFrame(uint8_t command, const std::vector<uint8_t>& payload);
// A request as the configurator writes it (direction 0xAA), with the filler
// byte it appends when the frame size is a multiple of 8.
std::vector<uint8_t> BuildRequestFrame(uint8_t command, const std::vector<uint8_t>& payload,
                                       uint8_t filler = 0);

}  // namespace rlv::sim

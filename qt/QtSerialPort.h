#pragma once

// Serial ports for the Qt platform: the real one on QSerialPort, the demo port
// whose other end is an in-process simulated tracker, and the router that
// opens one or the other by name.

#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace rlv::sim {
class TrackerSim;
}

namespace rlv::qtp {

// The port name of the demo tracker.
inline constexpr const char* kDemoPortName = "DEMO";

// A serial port on QSerialPort. A read or resource error (the other end of a
// pseudo-terminal went away, the device was unplugged) stops reading and marks
// the port failed: IsOpen() stays true until Close(), but every Write() fails,
// so the link notices and closes the port.
//
// Opening does not pulse the modem lines when probing a port once a second
// (which resets many boards); how is the platform's (SerialLine.h). A failed
// open is told on standard error once for each port and reason.
class QtSerialPort : public platform::ISerialPort {
 public:
  QtSerialPort();
  ~QtSerialPort() override;

  bool Open(const std::string& name) override;
  bool IsOpen() const override { return open_; }
  std::string Name() const override { return name_; }
  platform::OpenError LastOpenError() const override { return open_error_; }
  // Whether a failed open is told on standard error (once per port and
  // reason); off where the caller reports it in its own words.
  void TellOpenFailures(bool on) { tell_ = on; }
  bool SetBaudRate(int baud) override;
  int Read(uint8_t* buffer, int max) override;
  bool ClearInput() override;
  int Write(const uint8_t* data, int count) override;
  void Close() override;
  void SetReceivedHandler(std::function<void(int count)> handler) override { handler_ = std::move(handler); }

  bool Failed() const { return failed_; }

  // Bytes QSerialPort keeps before it leaves the rest in the driver.
  static constexpr qint64 kReadBufferSize = 64 * 1024;
  // Close() waits this long, plus 2 ms a byte up to the maximum, for
  // unwritten bytes to leave.
  static constexpr qint64 kDrainBaseMs = 50;
  static constexpr qint64 kDrainMaxMs = 3000;

 private:
  void Drain();
  void OnReadyRead();
  void OnError(QSerialPort::SerialPortError error);
  void Fail(QSerialPort::SerialPortError error);
  bool OpenDevice(const std::string& name);
  void TellOpenFailure();

  QSerialPort port_;
  platform::OpenError open_error_;
  std::set<std::string> told_;  // "reason|port" of failures already on standard error
  bool tell_ = true;
  QObject context_;  // context of deferred work; dropped with the port
  std::string name_;
  bool open_ = false;
  bool failed_ = false;
  bool opening_ = false;
  qint64 reported_ = 0;  // bytes already announced to the handler and not yet read
  std::function<void(int count)> handler_;
};

// A port whose other end is an in-process simulated tracker. Bytes written are
// fed to the simulator; its answers arrive through the event loop a few
// milliseconds later, as they would over a cable.
class DemoSerialPort : public platform::ISerialPort {
 public:
  DemoSerialPort();
  ~DemoSerialPort() override;

  bool Open(const std::string& name) override;
  bool IsOpen() const override { return open_; }
  std::string Name() const override { return name_; }
  platform::OpenError LastOpenError() const override;
  bool SetBaudRate(int baud) override;
  int Read(uint8_t* buffer, int max) override;
  bool ClearInput() override;
  int Write(const uint8_t* data, int count) override;
  void Close() override;
  void SetReceivedHandler(std::function<void(int count)> handler) override { handler_ = std::move(handler); }

  // Delay between the simulator's answer and its arrival on the port.
  static constexpr int kAnswerDelayMs = 5;
  // The simulated tracker's life moves on in steps of this many milliseconds.
  static constexpr int kLifeTickMs = 100;

 private:
  void OnSimOutput(const std::vector<uint8_t>& bytes);
  void Deliver();

  std::unique_ptr<sim::TrackerSim> sim_;
  QObject context_;
  QTimer clock_;
  std::string name_;
  bool open_ = false;
  uint64_t generation_ = 0;         // bumped on every open and close
  std::vector<uint8_t> in_flight_;  // answered, not yet arrived
  bool delivery_scheduled_ = false;
  std::deque<uint8_t> input_;  // arrived, not yet read
  std::function<void(int count)> handler_;
};

// Opens "DEMO" on the demo port (when there is one) and every other name on
// the real serial port. Only one of the two is open at a time.
class SerialPortRouter : public platform::ISerialPort {
 public:
  explicit SerialPortRouter(bool with_demo);
  ~SerialPortRouter() override;

  bool Open(const std::string& name) override;
  bool IsOpen() const override { return active_->IsOpen(); }
  std::string Name() const override { return active_->Name(); }
  platform::OpenError LastOpenError() const override { return active_->LastOpenError(); }
  void TellOpenFailures(bool on) { real_.TellOpenFailures(on); }
  bool SetBaudRate(int baud) override { return active_->SetBaudRate(baud); }
  int Read(uint8_t* buffer, int max) override { return active_->Read(buffer, max); }
  bool ClearInput() override { return active_->ClearInput(); }
  int Write(const uint8_t* data, int count) override { return active_->Write(data, count); }
  void Close() override { active_->Close(); }
  void SetReceivedHandler(std::function<void(int count)> handler) override;

 private:
  QtSerialPort real_;
  std::unique_ptr<DemoSerialPort> demo_;
  platform::ISerialPort* active_;
};

}  // namespace rlv::qtp

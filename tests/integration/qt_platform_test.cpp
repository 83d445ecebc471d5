// The Qt platform against real pseudo-terminals, real timers and a fake sysfs.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QtDevices.h"
#include "QtPlatform.h"
#include "QtSerialPort.h"
#include "TrackerSim.h"
#include "app/MainWindow.h"
#include "ui/Automation.h"

namespace {

using rlv::qtp::DemoSerialPort;
using rlv::qtp::QtDevices;
using rlv::qtp::QtEventLoop;
using rlv::qtp::QtSerialPort;
using rlv::qtp::QtTimer;
using rlv::qtp::SerialPortRouter;
namespace qtp = rlv::qtp;
namespace platform = rlv::platform;

// "SLRL", length 2, to the tracker, command 0 (identify), Crc16.
const std::vector<uint8_t> kIdentify = {'S', 'L', 'R', 'L', 0x02, 0x00, 0xAA, 0x00, 0x7F, 0x10};

// The master side of a pseudo-terminal; the slave's path opens it as a port.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name != nullptr) slave_path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  void Send(const std::string& text) const {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // What the port wrote, waiting up to `timeout_ms` for `want` bytes.
  std::string Receive(size_t want, int timeout_ms) const {
    std::string got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < want && clock.elapsed() < timeout_ms) {
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 10) > 0) {
        char buffer[256];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
      }
    }
    return got;
  }
  int MasterFd() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(QtSerialPort, OpensAPseudoTerminalAndExchangesBytes) {
  Pty pty;
  ASSERT_FALSE(pty.SlavePath().empty());
  QtEventLoop loop;
  QtSerialPort port;
  int announced = 0;
  port.SetReceivedHandler([&](int count) { announced += count; });

  // The pseudo-terminal refuses the modem lines; the port opens all the same.
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Name(), pty.SlavePath());
  EXPECT_FALSE(port.Failed());

  const uint8_t hello[] = {'a', 'b', 'c'};
  EXPECT_EQ(port.Write(hello, 3), 3);
  loop.RunFor(20);  // QSerialPort writes from the event loop
  EXPECT_EQ(pty.Receive(3, 1000), "abc");

  pty.Send("xyz");
  ASSERT_TRUE(loop.RunUntil([&] { return announced >= 3; }, 2000));
  EXPECT_EQ(announced, 3);
  uint8_t buffer[16] = {};
  ASSERT_EQ(port.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "xyz");
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);

  pty.Send("12345");
  ASSERT_TRUE(loop.RunUntil([&] { return announced >= 8; }, 2000));
  ASSERT_EQ(port.Read(buffer, 2), 2);
  EXPECT_TRUE(port.ClearInput());
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);

  EXPECT_TRUE(port.SetBaudRate(115200));
  EXPECT_TRUE(port.SetBaudRate(9600));
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Write(hello, 3), -1);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
}

TEST(QtSerialPort, OtherEndGoneFailsWritesWithoutSpinning) {
  Pty pty;
  QtEventLoop loop;
  QtSerialPort port;
  port.SetReceivedHandler([](int) {});
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  pty.CloseMaster();

  ASSERT_TRUE(loop.RunUntil([&] { return port.Failed(); }, 2000));
  const double cpu_before = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  loop.RunFor(500);
  const double cpu = CpuSeconds() - cpu_before;
  EXPECT_LT(cpu, 0.1 * static_cast<double>(wall.elapsed()) / 1000.0) << "the event loop spins";

  // Still open for the link until it closes the port, but every write fails.
  EXPECT_TRUE(port.IsOpen());
  const uint8_t byte = 0;
  EXPECT_EQ(port.Write(&byte, 1), -1);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Failed());
}

TEST(QtSerialPort, AFrameWrittenJustBeforeTheCloseArrives) {
  Pty pty;
  QtEventLoop loop;
  QtSerialPort port;
  port.SetReceivedHandler([](int) {});
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  // The restart frame, then the close at once, with no pass of the event loop.
  const std::vector<uint8_t> restart = {'S', 'L', 'R', 'L', 0x03, 0x00, 0xAA, 0x04, 0x00, 0x00, 0x00};
  ASSERT_EQ(port.Write(restart.data(), static_cast<int>(restart.size())), static_cast<int>(restart.size()));
  port.Close();
  EXPECT_EQ(pty.Receive(restart.size(), 1000), std::string(restart.begin(), restart.end()));

  // A larger write too: 2 KiB, more than one piece of the driver's buffer.
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  std::vector<uint8_t> block(2048);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(port.Write(block.data(), static_cast<int>(block.size())), 2048);
  port.Close();
  EXPECT_EQ(pty.Receive(block.size(), 2000), std::string(block.begin(), block.end()));
}

TEST(QtSerialPort, AFailingWriteFailsThatWrite) {
  Pty pty;
  QtEventLoop loop;
  QtSerialPort port;
  port.SetReceivedHandler([](int) {});
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  pty.CloseMaster();
  // No pass of the event loop between the loss and the write: the write itself reports it.
  const uint8_t byte = 0;
  EXPECT_EQ(port.Write(&byte, 1), -1);
  port.Close();
}

TEST(QtSerialPort, AFloodIsHeldInTheDriverNotInMemory) {
  Pty pty;
  QtEventLoop loop;
  QtSerialPort port;
  long long announced = 0;
  port.SetReceivedHandler([&](int count) { announced += count; });
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  const std::string chunk(4096, 'x');
  QElapsedTimer clock;
  clock.start();
  size_t sent = 0;
  // The link reads nothing meanwhile; 8 MiB offered in at most two seconds.
  while (sent < (8u << 20) && clock.elapsed() < 2000) {
    const ssize_t n = write(pty.MasterFd(), chunk.data(), chunk.size());
    if (n > 0) sent += static_cast<size_t>(n);
    loop.RunFor(1);
  }
  EXPECT_GT(announced, 0);
  EXPECT_LE(announced, QtSerialPort::kReadBufferSize);
  uint8_t buffer[4096];
  long long read = 0;
  for (int n; (n = port.Read(buffer, sizeof buffer)) > 0;) read += n;
  EXPECT_LE(read, QtSerialPort::kReadBufferSize);
  // What the link drops is dropped in the driver too, and reading goes on.
  EXPECT_TRUE(port.ClearInput());
  pty.Send("after");
  const long long before = announced;
  ASSERT_TRUE(loop.RunUntil([&] { return announced > before; }, 2000));
  port.Close();
}

TEST(QtSerialPort, MissingPortDoesNotOpen) {
  QtSerialPort port;
  EXPECT_FALSE(port.Open("/dev/rlvexa-no-such-port"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Open(""));
  const uint8_t byte = 0;
  EXPECT_EQ(port.Write(&byte, 1), -1);
  uint8_t buffer[4];
  EXPECT_EQ(port.Read(buffer, 4), 0);
}

TEST(DemoSerialPort, AnswersThroughTheEventLoop) {
  QtEventLoop loop;
  DemoSerialPort port;
  int announced = 0;
  port.SetReceivedHandler([&](int count) { announced += count; });
  EXPECT_FALSE(port.Open("COM1"));
  ASSERT_TRUE(port.Open(rlv::qtp::kDemoPortName));
  EXPECT_EQ(port.Name(), "DEMO");

  ASSERT_EQ(port.Write(kIdentify.data(), static_cast<int>(kIdentify.size())), 10);
  EXPECT_EQ(announced, 0) << "the answer arrives later, not inside Write";
  ASSERT_TRUE(loop.RunUntil([&] { return announced > 0; }, 1000));
  std::vector<uint8_t> answer(64);
  const int n = port.Read(answer.data(), static_cast<int>(answer.size()));
  ASSERT_EQ(n, announced);
  ASSERT_GE(n, 10);
  EXPECT_EQ(std::string(answer.begin(), answer.begin() + 4), "SLRL");
  EXPECT_EQ(answer[6], 0x55);
  EXPECT_EQ(answer[7], 0x00);

  // An answer still travelling when the port closes is lost.
  ASSERT_EQ(port.Write(kIdentify.data(), static_cast<int>(kIdentify.size())), 10);
  port.Close();
  ASSERT_TRUE(port.Open("DEMO"));
  loop.RunFor(50);
  EXPECT_EQ(announced, n);
  EXPECT_EQ(port.Read(answer.data(), static_cast<int>(answer.size())), 0);
  port.Close();
  EXPECT_EQ(port.Write(kIdentify.data(), 10), -1);
}

TEST(SerialPortRouter, RoutesTheDemoName) {
  QtEventLoop loop;
  {
    SerialPortRouter router(true);
    int announced = 0;
    router.SetReceivedHandler([&](int count) { announced += count; });
    ASSERT_TRUE(router.Open("DEMO"));
    EXPECT_TRUE(router.IsOpen());
    ASSERT_EQ(router.Write(kIdentify.data(), 10), 10);
    EXPECT_TRUE(loop.RunUntil([&] { return announced > 0; }, 1000));
    EXPECT_FALSE(router.Open("/dev/rlvexa-no-such-port"));
    EXPECT_FALSE(router.IsOpen());
  }
  SerialPortRouter without_demo(false);
  EXPECT_FALSE(without_demo.Open("DEMO"));
}

TEST(QtEventLoop, PostRunForAndRunUntil) {
  QtEventLoop loop;
  std::vector<int> order;
  loop.Post(30, [&] { order.push_back(2); });
  loop.Post(0, [&] { order.push_back(1); });
  QElapsedTimer wall;
  wall.start();
  loop.RunFor(100);
  EXPECT_GE(wall.elapsed(), 95);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  bool flag = false;
  loop.Post(40, [&] { flag = true; });
  wall.restart();
  EXPECT_TRUE(loop.RunUntil([&] { return flag; }, 2000));
  EXPECT_LT(wall.elapsed(), 500);

  wall.restart();
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 150));
  EXPECT_GE(wall.elapsed(), 145);
  EXPECT_TRUE(loop.RunUntil([] { return true; }, 0));
}

TEST(QtTimer, PeriodicAndIntervalChangeWhileRunning) {
  QtEventLoop loop;
  QtTimer timer;
  int ticks = 0;
  timer.SetHandler([&] { ++ticks; });
  timer.SetInterval(10);
  EXPECT_EQ(timer.Interval(), 10);
  EXPECT_FALSE(timer.IsActive());
  timer.Start();
  EXPECT_TRUE(timer.IsActive());
  loop.RunFor(205);
  EXPECT_GE(ticks, 15);
  EXPECT_LE(ticks, 21);

  timer.SetInterval(100);
  ticks = 0;
  loop.RunFor(350);
  EXPECT_GE(ticks, 2);
  EXPECT_LE(ticks, 4);

  timer.Stop();
  EXPECT_FALSE(timer.IsActive());
  ticks = 0;
  loop.RunFor(150);
  EXPECT_EQ(ticks, 0);
}

TEST(QtClock, DateTimeAndSleep) {
  rlv::qtp::QtClock clock;
  const auto now = clock.LocalNow();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
  const auto utc = clock.UtcNow();
  EXPECT_GE(utc.year, 2020);
  QElapsedTimer wall;
  wall.start();
  clock.Sleep(50);
  EXPECT_GE(wall.elapsed(), 49);
}

TEST(QtHotKeys, RecordsRegistrations) {
  rlv::qtp::QtHotKeys keys;
  std::vector<int> pressed;
  keys.SetHandler([&](int id) { pressed.push_back(id); });
  EXPECT_TRUE(keys.Register(126, rlv::platform::kModAlt, 'H'));
  keys.Trigger(126);
  keys.Trigger(125);
  keys.Unregister(126);
  keys.Trigger(126);
  EXPECT_EQ(pressed, std::vector<int>{126});
}

#if RLVEXA_WITH_UDEV
// The exact reasons and the hang-up setting come from our own open (termios).
TEST(QtSerialPort, SaysWhyAnOpenFailed) {
  using rlv::platform::OpenErrorKind;
  QtSerialPort port;
  EXPECT_EQ(port.LastOpenError().kind, OpenErrorKind::None);
  EXPECT_FALSE(port.Open("/dev/rlvexa-no-such-port"));
  EXPECT_EQ(port.LastOpenError().kind, OpenErrorKind::NotFound);
  EXPECT_FALSE(port.LastOpenError().text.empty());

  // A regular file and a character device that is no terminal.
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const std::string file = temp.filePath("plain").toStdString();
  std::ofstream(file) << "x";
  EXPECT_FALSE(port.Open(file));
  EXPECT_EQ(port.LastOpenError().kind, OpenErrorKind::NotATerminal);
  EXPECT_FALSE(port.Open("/dev/null"));
  EXPECT_EQ(port.LastOpenError().kind, OpenErrorKind::NotATerminal);

  // A terminal opens, and the reason is cleared.
  Pty pty;
  ASSERT_FALSE(pty.SlavePath().empty());
  ASSERT_TRUE(port.Open(pty.SlavePath()));
  EXPECT_EQ(port.LastOpenError().kind, OpenErrorKind::None);
  port.Close();
}

TEST(QtSerialPort, OpeningTurnsOffTheHangUpOnClose) {
  // With the hang-up on close, every probe of a port would drop DTR and RTS
  // when it closes and raise them again on the next open.
  Pty pty;
  ASSERT_FALSE(pty.SlavePath().empty());
  const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios settings{};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  settings.c_cflag |= HUPCL;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
  {
    QtSerialPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    port.Close();
  }
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  EXPECT_EQ(settings.c_cflag & HUPCL, 0u);
  close(fd);
}

#endif

TEST(QtDevices, LegacyPortsAreListedOnlyWhenNamed) {
  QtDevices devices({});
  std::vector<std::string> legacy;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    if (info.portName().startsWith("ttyS")) legacy.push_back(info.systemLocation().toStdString());
  }
  const auto names = devices.PortNames();
  for (const auto& name : names) EXPECT_EQ(name.find("/dev/ttyS"), std::string::npos) << name;
  if (legacy.empty()) GTEST_SKIP() << "the system lists no ttyS port";
  devices.NamePort(legacy.front());
  const auto named = devices.PortNames();
  EXPECT_NE(std::find(named.begin(), named.end(), legacy.front()), named.end());
  EXPECT_EQ(named.size(), names.size() + 1);
}

#if RLVEXA_WITH_UDEV
TEST(QtDevices, ModemManagerFoundInTheProcessTable) {
  namespace fs = std::filesystem;
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const fs::path root = temp.path().toStdString();
  fs::create_directories(root / "1");
  fs::create_directories(root / "self");
  std::ofstream(root / "1" / "comm") << "systemd\n";
  EXPECT_FALSE(rlv::qtp::ModemManagerInProcessTable(root.string()));
  fs::create_directories(root / "812");
  std::ofstream(root / "812" / "comm") << "ModemManager\n";
  EXPECT_TRUE(rlv::qtp::ModemManagerInProcessTable(root.string()));
  EXPECT_FALSE(rlv::qtp::ModemManagerInProcessTable((root / "missing").string()));
}

#endif

TEST(QtDevices, DeclaredPortsAreTrackerDevicesWhileTheirPathExists) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const std::string port = temp.path().toStdString() + "/tracker";
  QtDevices devices({{QtDevices::TrackerFriendlyName("tracker-port"), port}});
  const auto listed = [&] {
    const auto names = devices.PortNames();
    return std::find(names.begin(), names.end(), port) != names.end();
  };
  EXPECT_FALSE(listed());
  int arrivals = 0;
  int removals = 0;
  devices.SetChangeHandler([&](rlv::platform::DeviceEvent event) {
    if (event == rlv::platform::DeviceEvent::Arrival) ++arrivals;
    if (event == rlv::platform::DeviceEvent::RemoveComplete) ++removals;
  });
  devices.StartNotifications();
  // The port appears (a link to a terminal, as a by-id link would be): told at once.
  std::filesystem::create_symlink("/dev/null", port);
  QtEventLoop loop;
  ASSERT_TRUE(loop.RunUntil([&] { return arrivals > 0; }, 2000));
  const auto list = devices.EnumerateSerialDevices();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.back().port_name, port);
  EXPECT_NE(list.back().friendly_name.find("STMicro"), std::string::npos);
  EXPECT_TRUE(listed());
  const auto names = devices.PortNames();
  for (const auto& device : list)
    EXPECT_NE(std::find(names.begin(), names.end(), device.port_name), names.end()) << device.port_name;
  std::filesystem::remove(port);
  ASSERT_TRUE(loop.RunUntil([&] { return removals > 0; }, 2000));
  EXPECT_FALSE(listed());
  devices.StopNotifications();
}

#if RLVEXA_WITH_UDEV
TEST(QtDevices, UsbStringsFromSysfs) {
  namespace fs = std::filesystem;
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const fs::path root = temp.path().toStdString();
  const fs::path usb = root / "devices/pci0000:00/usb1/1-2";
  const fs::path interface = usb / "1-2:1.0";
  fs::create_directories(interface / "tty/ttyACM0");
  fs::create_directories(root / "class/tty");
  fs::create_directory_symlink(interface / "tty/ttyACM0", root / "class/tty/ttyACM0");
  fs::create_directory_symlink(interface, interface / "tty/ttyACM0/device");
  std::ofstream(usb / "idVendor") << "0483\n";
  std::ofstream(usb / "manufacturer") << "STMicroelectronics\n";
  std::ofstream(usb / "product") << "STM32 Virtual ComPort\n";
  std::ofstream(usb.parent_path() / "idVendor") << "1d6b\n";

  EXPECT_EQ(rlv::qtp::UsbFriendlyNameFromSysfs("ttyACM0", root.string()),
            "STMicroelectronics STM32 Virtual ComPort");
  fs::remove(usb / "manufacturer");
  EXPECT_EQ(rlv::qtp::UsbFriendlyNameFromSysfs("ttyACM0", root.string()), "STM32 Virtual ComPort");
  EXPECT_EQ(rlv::qtp::UsbFriendlyNameFromSysfs("ttyACM1", root.string()), "");
  EXPECT_EQ(rlv::qtp::UsbFriendlyNameFromSysfs("../../etc", root.string()), "");
  EXPECT_EQ(rlv::qtp::UsbFriendlyNameFromSysfs("", root.string()), "");
}
#endif

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

namespace {

// A loopback server and a client connected to it, with every event recorded.
struct Loopback {
  qtp::QtEventLoop loop;
  qtp::QtNetwork net;
  std::unique_ptr<platform::ITcpServer> server = net.CreateServer();
  std::unique_ptr<platform::ITcpSocket> accepted;
  std::unique_ptr<platform::ITcpSocket> client = net.CreateSocket();
  std::string got_by_server, got_by_client;
  bool client_connected = false, server_side_closed = false, client_closed = false;

  void Connect() {
    server->SetNewConnectionHandler([this](std::unique_ptr<platform::ITcpSocket> s) {
      accepted = std::move(s);
      accepted->SetReadyReadHandler([this] { got_by_server += Drain(*accepted); });
      accepted->SetDisconnectedHandler([this] { server_side_closed = true; });
    });
    ASSERT_TRUE(server->Listen("127.0.0.1", 0)) << server->LastError();
    client->SetConnectedHandler([this] { client_connected = true; });
    client->SetReadyReadHandler([this] { got_by_client += Drain(*client); });
    client->SetDisconnectedHandler([this] { client_closed = true; });
    client->ConnectToHost("127.0.0.1", server->Port());
    ASSERT_TRUE(loop.RunUntil([this] { return client_connected && accepted != nullptr; }, 5000));
  }
  static std::string Drain(platform::ITcpSocket& s) {
    std::string out;
    uint8_t buffer[512];
    for (int n; (n = s.Read(buffer, sizeof buffer)) > 0;) out.append(reinterpret_cast<char*>(buffer), n);
    return out;
  }
};

int WriteText(platform::ITcpSocket& s, const std::string& text) {
  return s.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

}  // namespace

TEST(QtNetwork, LoopbackExchangeAddressesAndOrderlyClose) {
  Loopback l;
  l.Connect();
  // An IPv4 peer is named in dotted form even on a dual-stack socket.
  EXPECT_EQ(l.accepted->PeerAddress(), "127.0.0.1");
  EXPECT_EQ(l.client->PeerPort(), l.server->Port());

  EXPECT_EQ(WriteText(*l.client, "file#123#4#"), 11);
  EXPECT_EQ(WriteText(*l.accepted, "EndTransfer"), 11);
  ASSERT_TRUE(
      l.loop.RunUntil([&] { return l.got_by_server.size() == 11 && l.got_by_client.size() == 11; }, 5000));
  EXPECT_EQ(l.got_by_server, "file#123#4#");
  EXPECT_EQ(l.got_by_client, "EndTransfer");

  // What is written just before the close still arrives, then the close.
  EXPECT_EQ(WriteText(*l.accepted, "bye"), 3);
  l.accepted->Close();
  ASSERT_TRUE(l.loop.RunUntil([&] { return l.client_closed; }, 5000));
  EXPECT_EQ(l.got_by_client, "EndTransferbye");
  EXPECT_FALSE(l.client->IsConnected());
  EXPECT_EQ(WriteText(*l.client, "x"), -1);
}

TEST(QtNetwork, RefusedConnectionAndBusyPort) {
  qtp::QtEventLoop loop;
  qtp::QtNetwork net;
  auto server = net.CreateServer();
  ASSERT_TRUE(server->Listen("", 0));
  const uint16_t port = server->Port();
  auto second = net.CreateServer();
  EXPECT_FALSE(second->Listen("", port));
  EXPECT_FALSE(second->LastError().empty());
  EXPECT_FALSE(second->Listen("not-an-address", 0));
  server->Close();

  auto client = net.CreateSocket();
  platform::SocketError error = platform::SocketError::None;
  client->SetErrorHandler([&](platform::SocketError e, const std::string&) { error = e; });
  client->ConnectToHost("127.0.0.1", port);
  // The error is never reported from inside the call.
  EXPECT_EQ(error, platform::SocketError::None);
  ASSERT_TRUE(loop.RunUntil([&] { return error != platform::SocketError::None; }, 5000));
  EXPECT_EQ(error, platform::SocketError::ConnectionRefused);
}

TEST(QtNetwork, APeerThatResetsIsReportedAsAResetOneThatClosesAsAClose) {
  for (const bool client : {false, true}) {
    for (const bool reset : {false, true}) {
      SCOPED_TRACE(std::string(client ? "client " : "accepted ") + (reset ? "reset" : "close"));
      qtp::QtEventLoop loop;
      qtp::QtNetwork net;
      std::unique_ptr<platform::ITcpSocket> ours;
      std::vector<std::string> events;
      auto record = [&](platform::ITcpSocket& s) {
        s.SetErrorHandler([&](platform::SocketError e, const std::string&) {
          events.push_back("error " + std::to_string(static_cast<int>(e)));
        });
        s.SetDisconnectedHandler([&] { events.push_back("disconnected"); });
      };
      // The peer is a plain socket of the system, which can reset.
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      int peer = -1;
      auto server = net.CreateServer();
      int listener = -1;
      if (client) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
        ours = net.CreateSocket();
        record(*ours);
        bool connected = false;
        ours->SetConnectedHandler([&] { connected = true; });
        ours->ConnectToHost("127.0.0.1", ntohs(address.sin_port));
        ASSERT_TRUE(loop.RunUntil([&] { return connected; }, 5000));
        peer = ::accept(listener, nullptr, nullptr);
      } else {
        server->SetNewConnectionHandler([&](std::unique_ptr<platform::ITcpSocket> s) {
          ours = std::move(s);
          record(*ours);
        });
        ASSERT_TRUE(server->Listen("127.0.0.1", 0));
        address.sin_port = htons(server->Port());
        peer = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_TRUE(loop.RunUntil([&] { return ours != nullptr; }, 5000));
      }
      ASSERT_GE(peer, 0);
      if (reset) {
        const linger abortive{1, 0};
        ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      }
      ::close(peer);
      if (listener >= 0) ::close(listener);
      ASSERT_TRUE(loop.RunUntil([&] { return !events.empty() && events.back() == "disconnected"; }, 5000));
      const std::vector<std::string> expected = reset
                                                    ? std::vector<std::string>{"error 10054", "disconnected"}
                                                    : std::vector<std::string>{"disconnected"};
      EXPECT_EQ(events, expected);
    }
  }
}

TEST(QtNetwork, AbortSendsNoEventAndTheOtherSideSeesTheEnd) {
  Loopback l;
  l.Connect();
  l.client->Abort();
  ASSERT_TRUE(l.loop.RunUntil([&] { return l.server_side_closed; }, 5000));
  l.loop.RunFor(20);
  EXPECT_FALSE(l.client_closed);
}

namespace {

// Message boxes that stay open for `hold_ms` of real time, running the Qt
// event loop meanwhile as a modal box does.
class HeldBoxes : public rlv::ui::ScriptedDialogs {
 public:
  HeldBoxes(qtp::QtEventLoop& loop, int hold_ms) : loop_(loop), hold_ms_(hold_ms) {}
  void ShowMessage(const std::string& text) override {
    texts.push_back(text);
    if (open_ > 0) ++nested;
    ++open_;
    if (texts.size() == 1) loop_.RunFor(hold_ms_);
    --open_;
  }
  std::vector<std::string> texts;
  int nested = 0;

 private:
  qtp::QtEventLoop& loop_;
  int hold_ms_;
  int open_ = 0;
};

// A tachograph answer that shows the vehicle's registration in a box.
std::string VehicleBox(const std::string& plate) {
  // Sized once and filled in place (GCC 12 reports a false out-of-bounds copy
  // for a range insert after a short list at -O2).
  std::vector<uint8_t> p(5 + 32, 0);
  p[1] = 2;
  p[2] = 1;
  std::copy_n(plate.begin(), std::min<size_t>(plate.size(), 32), p.begin() + 5);
  const std::vector<uint8_t> frame = rlv::sim::BuildResponseFrame(69, p);
  return std::string(frame.begin(), frame.end());
}

}  // namespace

TEST(QtTunnel, AFrameThatOpensABoxIsHandledOnceWhileMoreArrive) {
  QTemporaryDir dir;
  qtp::QtPlatform qt(false, "");
  platform::Platform services = qt.Services();
  // Longer than the 3 s after which an unfinished frame is given up.
  HeldBoxes boxes(qt.loop, 3500);
  services.dialogs = &boxes;
  services.clipboard = &boxes;
  rlv::app::Options options;
  options.data_dir = dir.path().toStdString();
  rlv::app::MainWindow w(services, options);
  w.FormCreate();
  w.FormShow();
  w.AfterFirstPaint();
  w.controls["RconfPort"].SetText("");
  w.controls.UserClick("Button1");
  ASSERT_TRUE(w.remote.Listening());

  QTcpSocket tracker;
  tracker.connectToHost(QHostAddress::LocalHost, w.remote.ListeningPort());
  ASSERT_TRUE(qt.loop.RunUntil([&] { return w.link.RemoteTunnelOpen; }, 5000));
  const std::string second = VehicleBox("B2");
  auto send = [&](const std::string& bytes) {
    tracker.write(bytes.data(), static_cast<qint64>(bytes.size()));
  };
  // The frame that opens the box arrives with half of the next one.
  send(VehicleBox("A1") + second.substr(0, 9));
  qt.loop.Post(500, [&] { send(second.substr(9)); });
  qt.loop.Post(1000, [&] { send(VehicleBox("C3")); });
  ASSERT_TRUE(qt.loop.RunUntil([&] { return boxes.texts.size() >= 3; }, 10000));
  qt.loop.RunFor(300);

  ASSERT_EQ(boxes.texts.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string plate = std::string(1, static_cast<char>('A' + i)) + std::to_string(i + 1);
    EXPECT_NE(boxes.texts[i].find(":" + plate), std::string::npos) << boxes.texts[i];
  }
  EXPECT_EQ(boxes.nested, 0);
  EXPECT_TRUE(w.link.RemoteTunnelOpen);
  EXPECT_EQ(tracker.state(), QAbstractSocket::ConnectedState);
  w.FormClose();
}

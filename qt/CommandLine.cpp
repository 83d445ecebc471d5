// The command line of the configurator: one command, run to completion without
// a window and without reading standard input.
#include "CommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "QtPlatform.h"
#include "QtSerialPort.h"
#include "app/MainWindow.h"
#include "bundle/Bundle.h"
#include "cli/CommandLine.h"
#include "cli/DeviceSession.h"
#include "cli/StatusJson.h"
#include "cli/Texts.h"
#include "config/ConfigText.h"
#include "link/PortDiscovery.h"
#include "platform/Locale.h"
#include "ui/Automation.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace rlv::qtp {

namespace {

// The numbers of the command line's output in one form, whatever the system's
// number format and the language: the readouts write a decimal comma, the
// inputs the system's separator.
class PointLocale : public platform::ILocale {
 public:
  char DecimalSeparator() const override { return '.'; }
};

// A readout with each decimal comma (between two digits) made a point.
std::string OneDecimalSeparator(std::string text) {
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text[i] == ',' && digit(text[i - 1]) && digit(text[i + 1])) text[i] = '.';
  }
  return text;
}

// The readouts of the monitoring page, as it shows them.
constexpr const char* kDeviceReadouts[] = {"LType",   "LVer",     "LIMEI",    "LNumber",
                                           "LGSMreg", "LGPRSreg", "LPerPack", "LDataToSend"};
constexpr const char* kNavigationReadouts[] = {
    "LDateTime", "LLat",     "LLon",     "LSat",     "LHDOP",    "LHeight", "LSpeed", "LCourse",
    "LOdo",      "LIN1",     "LIN2",     "LiBut",    "LTemp1",   "LTemp2",  "LValid", "LOUT1",
    "LTemp",     "LAccel_X", "LAccel_Y", "LAccel_Z", "WorkTime", "LCsq"};

// The folder of the settings and the history: --dir, else the executable's
// folder when the program runs from its build folder, else the user's data folder.
QString DataFolder(const cli::Invocation& inv) {
  if (inv.dir) return QString::fromStdString(*inv.dir);
  const QString bin = QCoreApplication::applicationDirPath();
  if (QFileInfo::exists(bin + QStringLiteral("/language.lng")) && QFileInfo(bin).isWritable()) return bin;
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/rlvexa-configurator");
}

QString ProgramFolder() {
  const QDir bin(QCoreApplication::applicationDirPath());
  if (QFileInfo::exists(bin.filePath(QStringLiteral("language.lng")))) return bin.absolutePath();
  return QDir::cleanPath(bin.absoluteFilePath(QStringLiteral(RLVEXA_SHIPPED_FROM_BIN)));
}

cli::Task<int> Status(app::MainWindow& w, cli::DeviceSession& session, const cli::Invocation& inv,
                      std::string port) {
  const bool navigation = co_await session.WaitForNavigation(5000);
  auto& c = w.controls;
  if (inv.json) {
    // The values as the records carry them, not as the page shows them.
    const auto& navigation_record = w.monitoring.NavigationRecord;
    std::cout << cli::StatusJson(
                     port, w.monitoring.DeviceRecord,
                     navigation ? std::span<const uint8_t>(navigation_record) : std::span<const uint8_t>())
              << "\n";
  } else {
    // The first line names the port ("PORT: RL20Vexa"), so several trackers' blocks stay apart.
    std::string out = c["ComPortDeviceCaption"].Text() + "\n";
    for (const char* name : kDeviceReadouts) out += OneDecimalSeparator(c[name].Text()) + "\n";
    if (navigation) {
      for (const char* name : kNavigationReadouts) out += OneDecimalSeparator(c[name].Text()) + "\n";
    } else {
      out += cli::Tr("no navigation record") + "\n";
    }
    std::cout << out;
  }
  std::cout.flush();
  co_return cli::kExitOk;
}

// The diagnostic bundle of the connected tracker.
cli::Task<int> Bundle(app::MainWindow& w, cli::DeviceSession& session, std::string out_path, std::string port,
                      const bundle::TracingSerialPort& trace) {
  co_await session.WaitForNavigation(5000);
  // The fault log as the fault log page reads it.
  const int rows = w.controls["FLOGGRID"].Rows();
  w.controls.UserClick("Button23");
  co_await session.Until([&] { return w.controls["FLOGGRID"].Rows() != rows; }, 3000);
  std::string why;
  if (!bundle::WriteArchive(w, out_path, bundle::Collect(w, trace.Trace()), &why)) {
    std::fputs(cli::ErrorLine("bundle", cli::Tr("cannot write %1: %2", {out_path, why})).c_str(), stderr);
    co_return cli::kExitBadFile;
  }
  std::cout << cli::Tr("bundle %1 from %2", {out_path, port}) << "\n";
  co_return cli::kExitOk;
}

// What a command needs from files, checked before any tracker is touched: the
// configuration to write, the firmware image to flash.
int CheckFiles(const cli::Invocation& inv, std::optional<config::text::Records>* to_write) {
  if (inv.command == "write") {
    std::string why;
    const auto content = cli::ReadWholeFile(inv.files[0], &why);
    if (!content) {
      std::fputs(cli::ErrorLine("write", cli::Tr("cannot read %1: %2", {inv.files[0], why})).c_str(), stderr);
      return cli::kExitBadFile;
    }
    try {
      *to_write = config::text::FromFileContent(*content);
    } catch (const config::text::ImportError& e) {
      std::fputs(cli::ErrorLine("write", inv.files[0] + ": " + e.what()).c_str(), stderr);
      return cli::kExitBadFile;
    }
  }
  if (inv.command == "flash") {
    std::string why;
    if (!cli::ReadWholeFile(inv.files[0], &why)) {
      std::fputs(cli::ErrorLine("flash", cli::Tr("cannot read %1: %2", {inv.files[0], why})).c_str(), stderr);
      return cli::kExitBadFile;
    }
  }
  return cli::kExitOk;
}

// One tracker of the command: `port` as given, `several` when other trackers
// run beside it (its output file then gets its IMEI or port in the name).
cli::Task<int> RunOnTracker(const cli::Invocation& inv, std::string port, bool several, app::MainWindow& w,
                            cli::DeviceSession& session, const std::optional<config::text::Records>& to_write,
                            const bundle::TracingSerialPort& trace) {
  const std::string prefix = several ? port + ": " : "";
  auto failed = [&](int status) {
    std::fputs(cli::ErrorLine(inv.command, prefix + session.Error()).c_str(), stderr);
    return status;
  };
  const auto output = [&] {
    if (!several) return inv.out;
    const std::string& imei = session.Imei();
    return cli::PerTrackerPath(inv.out, imei.empty() ? cli::PortTag(port) : imei);
  };

  const std::string listed = port == "demo" ? kDemoPortName : port;
  if (const int status = co_await session.Connect(listed); status != cli::kExitOk) co_return failed(status);
  if (inv.command == "status") co_return co_await Status(w, session, inv, port);

  if (const int status = co_await session.Read(); status != cli::kExitOk) co_return failed(status);
  if (inv.command == "bundle") co_return co_await Bundle(w, session, output(), port, trace);
  if (inv.command == "read") {
    std::string why;
    const std::string out = output();
    if (!cli::WriteFileAtomically(out, config::text::ToConfigFile(session.Current()), &why)) {
      std::fputs(cli::ErrorLine(inv.command, prefix + cli::Tr("cannot write %1: %2", {out, why})).c_str(),
                 stderr);
      co_return cli::kExitBadFile;
    }
    std::cout << cli::Tr("read %1 from %2", {out, port}) << "\n";
    co_return cli::kExitOk;
  }
  if (inv.command == "write") {
    if (const int status = co_await session.Write(*to_write); status != cli::kExitOk)
      co_return failed(status);
    std::string out;
    for (const auto& change : w.review.LastChanges)
      out += cli::Tr("changed %1", {config::text::FormatDifference(change)}) + "\n";
    std::cout << out << cli::Tr("written %1 to %2 and verified", {inv.files[0], port}) << "\n";
    co_return cli::kExitOk;
  }
  if (const int status = co_await session.Flash(inv.files[0]); status != cli::kExitOk)
    co_return failed(status);
  std::cout << cli::Tr("flashed %1 to %2: %3",
                       {inv.files[0], port, OneDecimalSeparator(w.controls["LVer"].Text())})
            << "\n";
  co_return cli::kExitOk;
}

// The devices one session sees: only its own port, so that sessions side by
// side never probe each other's trackers.
class SessionDevices : public platform::IDevices {
 public:
  SessionDevices(platform::IDevices& devices, std::string port) : devices_(devices), port_(std::move(port)) {}
  std::vector<platform::UsbSerialDevice> EnumerateSerialDevices() override {
    std::vector<platform::UsbSerialDevice> mine;
    for (auto& device : devices_.EnumerateSerialDevices()) {
      if (device.port_name == port_) mine.push_back(std::move(device));
    }
    return mine;
  }
  std::vector<std::string> PortNames() override { return {port_}; }
  void NamePort(const std::string&) override {}
  bool ModemManagerRunning() override { return devices_.ModemManagerRunning(); }
  void SetChangeHandler(std::function<void(platform::DeviceEvent)> handler) override {
    devices_.SetChangeHandler(std::move(handler));
  }
  bool StartNotifications() override { return devices_.StartNotifications(); }
  void StopNotifications() override { devices_.StopNotifications(); }

 private:
  platform::IDevices& devices_;
  std::string port_;
};

// One tracker's session with everything it owns: its own platform services
// (serial port, device list, timers), window and progress.
struct Tracker {
  Tracker(const cli::Invocation& inv, const std::string& given, const app::Options& common,
          platform::ILocale& locale)
      : port(given),
        qt(given == "demo", given == "demo" ? std::string() : given),
        devices(*qt.devices, given == "demo" ? std::string(kDemoPortName) : given) {
    app::Options options = common;
    options.demo = given == "demo";
    options.tracker_port = options.demo ? std::string() : given;
    // A port that does not open is the command's one failure line.
    qt.serial->TellOpenFailures(false);
    services = qt.Services();
    // No dialog may wait for an answer: the scripted dialogs answer "no" and record messages.
    services.dialogs = &dialogs;
    services.clipboard = &dialogs;
    services.locale = &locale;
    services.devices = &devices;
    // Every byte to and from the tracker, for the diagnostic bundle.
    trace = std::make_unique<bundle::TracingSerialPort>(*services.serial);
    services.serial = trace.get();
    window = std::make_unique<app::MainWindow>(services, options);
    // A command leaves the user's settings as they are.
    window->settings.KeepUserSettings = true;
    session = std::make_unique<cli::DeviceSession>(*window, inv.password, &dialogs);
  }

  std::string port;
  QtPlatform qt;
  SessionDevices devices;
  ui::ScriptedDialogs dialogs;
  std::unique_ptr<bundle::TracingSerialPort> trace;
  platform::Platform services;  // the window keeps a reference
  // The session watches the window's controls: the window goes first.
  std::unique_ptr<cli::DeviceSession> session;
  std::unique_ptr<app::MainWindow> window;
  std::optional<cli::Task<int>> task;
  int status = cli::kExitOk;
  int64_t started_ms = 0;
  int64_t ended_ms = 0;
  std::string progress;
};

// The progress of several trackers on a terminal: one line each, drawn again in place.
class ProgressBoard {
 public:
  explicit ProgressBoard(std::vector<std::unique_ptr<Tracker>>& trackers) : trackers_(trackers) {}
  void Draw() {
    std::string out;
    if (drawn_) out += "\033[" + std::to_string(trackers_.size()) + "A";
    for (const auto& t : trackers_) out += "\r\033[2K" + t->port + ": " + t->progress + "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  std::vector<std::unique_ptr<Tracker>>& trackers_;
  bool drawn_ = false;
};

// The table after several trackers: port, IMEI, result and time, on `to`.
void PrintSummary(const std::vector<std::unique_ptr<Tracker>>& trackers,
                  const std::vector<std::string>& missing, std::ostream& to) {
  size_t port_width = 4;
  for (const auto& t : trackers) port_width = std::max(port_width, t->port.size());
  for (const auto& port : missing) port_width = std::max(port_width, port.size());
  const auto row = [&](const std::string& port, const std::string& imei, const std::string& result,
                       const std::string& time) {
    std::string line = port + std::string(port_width + 2 - port.size(), ' ') + imei;
    line += std::string(imei.size() < 17 ? 17 - imei.size() : 1, ' ') + time;
    line += std::string(time.size() < 10 ? 10 - time.size() : 1, ' ') + result;
    to << line << "\n";
  };
  row(cli::Tr("port"), "IMEI", cli::Tr("result"), cli::Tr("time"));
  for (const auto& t : trackers) {
    // Tenths of seconds with a point, whatever the system's number format.
    const int64_t tenths = (t->ended_ms - t->started_ms + 50) / 100;
    const std::string time =
        cli::Tr("%1 s", {std::to_string(tenths / 10) + "." + std::to_string(tenths % 10)});
    const std::string imei = t->session->Imei();
    const std::string result =
        t->status == cli::kExitOk
            ? cli::Tr("ok")
            : cli::Tr("failed (%1)", {std::to_string(t->status)}) +
                  (t->session && !t->session->Error().empty() ? ": " + t->session->Error() : std::string());
    row(t->port, imei.empty() ? "-" : imei, result, time);
  }
  for (const auto& port : missing) {
    row(port, "-",
        cli::Tr("failed (%1)", {std::to_string(cli::kExitNoTracker)}) + ": " +
            cli::Tr("the port does not exist"),
        "-");
  }
}

// The trackers present: every serial device the port search takes for one.
std::vector<std::string> TrackersPresent() {
  QtDevices devices({});
  std::vector<std::string> ports;
  for (const auto& device : devices.EnumerateSerialDevices()) {
    if (link::PortDiscovery::IsTrackerDevice(device)) ports.push_back(device.port_name);
  }
  return ports;
}

// `status`, or an output failure (one line on standard error) when standard
// output did not take everything that was printed.
int Finished(const std::string& command, int status) {
  if (status == cli::kExitOutput) return status;  // already said
  status = cli::FinishOutput(command, status, std::cout, std::cerr);
  if (status != cli::kExitOutput && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::fputs(cli::ErrorLine(command, cli::Tr("the output could not be written")).c_str(), stderr);
    return cli::kExitOutput;
  }
  return status;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
#ifndef _WIN32
  // A closed pipe on standard output is a failed write, not the end of the program.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::string error;
  const auto inv = cli::Parse(args, &error);
  if (!inv) {
    std::fputs(cli::UsageErrorLine(args, error).c_str(), stderr);
    return cli::kExitUsage;
  }
  if (inv->help) {
    std::fputs(cli::Help(inv->command).c_str(), stdout);
    return Finished(inv->command, cli::kExitOk);
  }
  if (!cli::NeedsTracker(inv->command))
    return Finished(inv->command, cli::RunFileCommand(*inv, std::cout, std::cerr));

  std::optional<config::text::Records> to_write;
  if (const int status = CheckFiles(*inv, &to_write); status != cli::kExitOk) return status;
  std::vector<std::string> ports = inv->ports;
  if (ports == std::vector<std::string>{"all"}) {
    ports = TrackersPresent();
    if (ports.empty()) {
      std::fputs(cli::ErrorLine(inv->command, cli::Tr("no tracker: none is plugged in")).c_str(), stderr);
      return cli::kExitNoTracker;
    }
  }
  const bool several = ports.size() > 1;
  int worst = cli::kExitOk;
  std::vector<std::string> present;
  std::vector<std::string> missing;
  for (const std::string& port : ports) {
    std::error_code ec;
    if (port == "demo" || std::filesystem::exists(std::filesystem::u8path(port), ec)) {
      present.push_back(port);
      continue;
    }
    std::fputs(
        cli::ErrorLine(inv->command, cli::Tr("no tracker: the port %1 does not exist", {port})).c_str(),
        stderr);
    worst = std::max<int>(worst, cli::kExitNoTracker);
    missing.push_back(port);
  }
  if (present.empty()) return worst;
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("rlvexa-configurator");
  QCoreApplication::setOrganizationName("Kelvane");
  app::Options options;
  const QString folder = DataFolder(*inv);
  if (!QDir().mkpath(folder)) {
    std::fputs(
        cli::ErrorLine(inv->command, cli::Tr("cannot create the data folder %1", {folder.toStdString()}))
            .c_str(),
        stderr);
    return cli::kExitBadFile;
  }
  options.data_dir = QDir::toNativeSeparators(QDir(folder).absolutePath()).toStdString();
  options.program_dir = QDir::toNativeSeparators(ProgramFolder()).toStdString();
  options.headless = true;
  options.fast_link = inv->fast;

  PointLocale locale;
  std::vector<std::unique_ptr<Tracker>> trackers;
  for (const std::string& port : present)
    trackers.push_back(std::make_unique<Tracker>(*inv, port, options, locale));
  ProgressBoard board(trackers);
#ifndef _WIN32
  const bool terminal = isatty(STDERR_FILENO) != 0;
#else
  const bool terminal = false;
#endif
  QtClock clock;
  for (auto& t : trackers) {
    Tracker* tracker = t.get();
    if (terminal) {
      tracker->session->progress = [tracker, several, &board](const std::string& line) {
        if (!several) {
          std::fprintf(stderr, "%s\n", line.c_str());
          return;
        }
        tracker->progress = line;
        board.Draw();
      };
    }
    app::MainWindow& window = *tracker->window;
    window.FormCreate();
    window.FormShow();
    // The texts the window shows (readouts, the tracker's messages) in the command's language.
    window.language.SetLanguage(cli::WindowLanguageName(inv->language), false);
    window.AfterFirstPaint();
    tracker->started_ms = clock.SteadyMs();
    tracker->task.emplace(
        RunOnTracker(*inv, tracker->port, several, window, *tracker->session, to_write, *tracker->trace));
    tracker->task->Start();
  }
  // The sessions run side by side until each has ended; every wait of theirs is bounded.
  const auto ended = [&] {
    bool all = true;
    for (auto& t : trackers) {
      while (t->session->Poll()) {
      }
      if (t->task->Done() && t->ended_ms == 0) {
        t->ended_ms = clock.SteadyMs();
        t->status = t->task->Result();
      }
      all = all && t->task->Done();
    }
    return all;
  };
  trackers.front()->qt.loop.RunUntil(ended, std::numeric_limits<int>::max());
  for (auto& t : trackers) {
    t->window->FormClose();
    t->window->FormDestroy();
    worst = std::max(worst, t->status);
  }
  // JSON lines stay alone on standard output.
  if (several) PrintSummary(trackers, missing, inv->json ? std::cerr : std::cout);
  return Finished(inv->command, worst);
}

}  // namespace rlv::qtp

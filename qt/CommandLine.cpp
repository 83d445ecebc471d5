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

#include "QtLocale.h"
#include "QtPlatform.h"
#include "QtSerialPort.h"
#include "app/MainWindow.h"
#include "bundle/Bundle.h"
#include "cli/CommandLine.h"
#include "cli/DeviceSession.h"
#include "config/ConfigText.h"
#include "ui/Automation.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace rlv::qtp {

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string HexBytes(const uint8_t* data, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", data[i]);
    out += hex;
  }
  return out;
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

int Status(app::MainWindow& w, cli::DeviceSession& session, const cli::Invocation& inv) {
  const bool navigation = session.WaitForNavigation(5000);
  auto& c = w.controls;
  if (inv.json) {
    std::string out = "{\"port\":" + JsonString(inv.port) +
                      ",\"identity\":" + JsonString(c["ComPortDeviceCaption"].Text()) +
                      ",\"imei\":" + JsonString(w.transfer.TrackerImei) + ",\"device\":{";
    bool first = true;
    for (const char* name : kDeviceReadouts) {
      out += (first ? "" : ",") + JsonString(name) + ":" + JsonString(c[name].Text());
      first = false;
    }
    out += "},\"device_record\":" +
           JsonString(HexBytes(w.monitoring.DeviceRecord.data(), w.monitoring.DeviceRecord.size()));
    out += ",\"navigation\":";
    if (navigation) {
      out += "{";
      first = true;
      for (const char* name : kNavigationReadouts) {
        out += (first ? "" : ",") + JsonString(name) + ":" + JsonString(c[name].Text());
        first = false;
      }
      out += "},\"navigation_record\":" +
             JsonString(HexBytes(w.monitoring.NavigationRecord.data(), w.monitoring.NavigationRecord.size()));
    } else {
      out += "null,\"navigation_record\":null";
    }
    std::cout << out << "}\n";
  } else {
    std::cout << c["ComPortDeviceCaption"].Text() << "\n";
    for (const char* name : kDeviceReadouts) std::cout << c[name].Text() << "\n";
    if (navigation) {
      for (const char* name : kNavigationReadouts) std::cout << c[name].Text() << "\n";
    } else {
      std::cout << "no navigation record\n";
    }
  }
  return cli::kExitOk;
}

// The diagnostic bundle of the connected tracker.
int Bundle(app::MainWindow& w, cli::DeviceSession& session, const cli::Invocation& inv,
           const bundle::TracingSerialPort& trace) {
  session.WaitForNavigation(5000);
  // The fault log as the fault log page reads it.
  const int rows = w.controls["FLOGGRID"].Rows();
  w.controls.UserClick("Button23");
  w.plat.loop->RunUntil([&] { return w.controls["FLOGGRID"].Rows() != rows; }, 3000);
  std::string why;
  if (!bundle::WriteArchive(w, inv.out, bundle::Collect(w, trace.Trace()), &why)) {
    std::fprintf(stderr, "rlvexa-configurator bundle: cannot write %s: %s\n", inv.out.c_str(), why.c_str());
    return cli::kExitBadFile;
  }
  std::cout << "bundle " << inv.out << " from " << inv.port << "\n";
  return cli::kExitOk;
}

int RunOnTracker(const cli::Invocation& inv, app::MainWindow& w, ui::ScriptedDialogs& dialogs,
                 const bundle::TracingSerialPort& trace) {
  cli::DeviceSession session(w, inv.password, &dialogs);
#ifndef _WIN32
  if (isatty(STDERR_FILENO)) {
    session.progress = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
#endif
  auto failed = [&](int status) {
    std::fprintf(stderr, "rlvexa-configurator %s: %s\n", inv.command.c_str(), session.Error().c_str());
    return status;
  };
  // What a command needs from files is checked before the tracker is touched.
  std::optional<config::text::Records> to_write;
  if (inv.command == "write") {
    std::string why;
    const auto content = cli::ReadWholeFile(inv.files[0], &why);
    if (!content) {
      std::fprintf(stderr, "rlvexa-configurator write: cannot read %s: %s\n", inv.files[0].c_str(),
                   why.c_str());
      return cli::kExitBadFile;
    }
    try {
      to_write = config::text::FromFileContent(*content);
    } catch (const config::text::ImportError& e) {
      std::fprintf(stderr, "rlvexa-configurator write: %s: %s\n", inv.files[0].c_str(), e.what());
      return cli::kExitBadFile;
    }
  }
  if (inv.command == "flash") {
    std::string why;
    if (!cli::ReadWholeFile(inv.files[0], &why)) {
      std::fprintf(stderr, "rlvexa-configurator flash: cannot read %s: %s\n", inv.files[0].c_str(),
                   why.c_str());
      return cli::kExitBadFile;
    }
  }

  const std::string port = inv.port == "demo" ? kDemoPortName : inv.port;
  if (const int status = session.Connect(port); status != cli::kExitOk) return failed(status);
  if (inv.command == "status") return Status(w, session, inv);

  if (const int status = session.Read(); status != cli::kExitOk) return failed(status);
  if (inv.command == "bundle") return Bundle(w, session, inv, trace);
  if (inv.command == "read") {
    std::string why;
    if (!cli::WriteFileAtomically(inv.out, config::text::ToConfigFile(session.Current()), &why)) {
      std::fprintf(stderr, "rlvexa-configurator read: cannot write %s: %s\n", inv.out.c_str(), why.c_str());
      return cli::kExitBadFile;
    }
    std::cout << "read " << inv.out << " from " << inv.port << "\n";
    return cli::kExitOk;
  }
  if (inv.command == "write") {
    if (const int status = session.Write(*to_write); status != cli::kExitOk) return failed(status);
    for (const auto& change : w.review.LastChanges) {
      std::cout << "changed " << config::text::FormatDifference(change) << "\n";
    }
    std::cout << "written " << inv.files[0] << " to " << inv.port << " and verified\n";
    return cli::kExitOk;
  }
  if (const int status = session.Flash(inv.files[0]); status != cli::kExitOk) return failed(status);
  std::cout << "flashed " << inv.files[0] << " to " << inv.port << ": " << w.controls["LVer"].Text() << "\n";
  return cli::kExitOk;
}

// `status`, or an output failure (one line on standard error) when standard
// output did not take everything that was printed.
int Finished(const std::string& command, int status) {
  if (status == cli::kExitOutput) return status;  // already said
  status = cli::FinishOutput(command, status, std::cout, std::cerr);
  if (status != cli::kExitOutput && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::fprintf(stderr, "rlvexa-configurator %s: the output could not be written\n", command.c_str());
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
    std::fprintf(stderr, "rlvexa-configurator: %s\n%s", error.c_str(),
                 cli::Help(cli::IsCommand(args[0]) ? args[0] : "").c_str());
    return cli::kExitUsage;
  }
  if (inv->help) {
    std::fputs(cli::Help(inv->command).c_str(), stdout);
    return Finished(inv->command, cli::kExitOk);
  }
  if (!cli::NeedsTracker(inv->command))
    return Finished(inv->command, cli::RunFileCommand(*inv, std::cout, std::cerr));

  if (inv->port != "demo") {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::u8path(inv->port), ec)) {
      std::fprintf(stderr, "rlvexa-configurator %s: no tracker: the port %s does not exist\n",
                   inv->command.c_str(), inv->port.c_str());
      return cli::kExitNoTracker;
    }
  }
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("rlvexa-configurator");
  QCoreApplication::setOrganizationName("Kelvane");
  app::Options options;
  const QString folder = DataFolder(*inv);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "rlvexa-configurator %s: cannot create the data folder %s\n", inv->command.c_str(),
                 qPrintable(folder));
    return cli::kExitBadFile;
  }
  options.data_dir = QDir::toNativeSeparators(QDir(folder).absolutePath()).toStdString();
  options.program_dir = QDir::toNativeSeparators(ProgramFolder()).toStdString();
  options.headless = true;
  options.demo = inv->port == "demo";
  if (!options.demo) options.tracker_port = inv->port;

  QtPlatform qt_platform(options.demo, options.tracker_port);
  // No dialog may wait for an answer: the scripted dialogs answer "no" and record messages.
  ui::ScriptedDialogs dialogs;
  QtLocale locale;
  platform::Platform services = qt_platform.Services();
  services.dialogs = &dialogs;
  services.clipboard = &dialogs;
  services.locale = &locale;
  // Every byte to and from the tracker, for the diagnostic bundle.
  bundle::TracingSerialPort trace(*services.serial);
  services.serial = &trace;
  int status = cli::kExitOk;
  {
    app::MainWindow window(services, options);
    window.FormCreate();
    window.FormShow();
    window.AfterFirstPaint();
    status = RunOnTracker(*inv, window, dialogs, trace);
    window.FormClose();
    window.FormDestroy();
  }
  return Finished(inv->command, status);
}

}  // namespace rlv::qtp

// rlvexa-configurator: the desktop configurator of the RLvexa vehicle tracker.

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStringList>
#include <QTranslator>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "CommandLine.h"
#include "HeadlessFrontend.h"
#include "ProcessSignals.h"
#include "QtPlatform.h"
#include "Version.h"
#include "WindowFrontend.h"
#include "app/Options.h"
#include "cli/CommandLine.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kUsage =
    "usage: rlvexa-configurator [--headless] [--demo] [--fast] [--dir DIR] [--tracker-port PATH] "
    "[--help] [--version]\n"
    "  --headless           automation mode: commands on standard input, one answer line\n"
    "                       per command on standard output (also the mode without a display)\n"
    "  --demo               a simulated tracker behind the virtual serial port \"DEMO\"\n"
    "  --fast               the fast link: complete answers are read as they arrive,\n"
    "                       without the quiet wait (also FastLink=1 in config.ini)\n"
    "  --dir DIR            the folder of the settings, language file, logs and downloads\n"
    "                       (default: installed, the user's data folder\n"
    "                       $XDG_DATA_HOME/rlvexa-configurator; run from the build folder,\n"
    "                       the executable's folder when writable, else that user folder)\n"
    "  --tracker-port PATH  one more serial port (for example a pseudo-terminal) that is\n"
    "                       present as the tracker's USB device while PATH exists\n"
    "  --help               this text\n"
    "  --version            the version\n"
    "Exit status: 0 done, 2 bad command line or no data folder, 3 (headless) the\n"
    "tracker's port exists but could not be opened for lack of permission.\n";

// The usage with every command of the command line, one a line.
std::string Usage() {
  std::string usage = kUsage;
  usage += "Commands without a window (COMMAND --help for its options and exit statuses):\n";
  for (const std::string& command : rlv::cli::Commands()) usage += "  " + command + "\n";
  return usage;
}

struct Parsed {
  rlv::app::Options options;
  bool help = false;
  bool version = false;
  bool dir_given = false;
};

// Returns nullopt (after a message on standard error) on a bad command line.
std::optional<Parsed> ParseArguments(const QStringList& args) {
  Parsed parsed;
  for (qsizetype i = 1; i < args.size(); ++i) {
    QString arg = args[i];
    std::optional<QString> inline_value;
    if (arg.startsWith("--")) {
      const qsizetype eq = arg.indexOf('=');
      if (eq > 0) {
        inline_value = arg.mid(eq + 1);
        arg = arg.left(eq);
      }
    }
    const auto value = [&]() -> std::optional<QString> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const auto flag = [&]() {
      if (!inline_value) return true;
      std::fprintf(stderr, "rlvexa-configurator: %s takes no value\n", qPrintable(arg));
      return false;
    };
    if (arg == "--help" || arg == "-h") {
      if (!flag()) return std::nullopt;
      parsed.help = true;
    } else if (arg == "--version") {
      if (!flag()) return std::nullopt;
      parsed.version = true;
    } else if (arg == "--headless") {
      if (!flag()) return std::nullopt;
      parsed.options.headless = true;
    } else if (arg == "--demo") {
      if (!flag()) return std::nullopt;
      parsed.options.demo = true;
    } else if (arg == "--fast") {
      if (!flag()) return std::nullopt;
      parsed.options.fast_link = true;
    } else if (arg == "--dir" || arg == "--tracker-port") {
      const auto v = value();
      if (!v || v->isEmpty()) {
        std::fprintf(stderr, "rlvexa-configurator: %s needs a value\n", qPrintable(arg));
        return std::nullopt;
      }
      if (arg == "--dir") {
        parsed.options.data_dir = v->toStdString();
        parsed.dir_given = true;
      } else {
        parsed.options.tracker_port = v->toStdString();
      }
    } else if (!arg.startsWith('-')) {
      std::fprintf(stderr, "rlvexa-configurator: unknown command %s\n", qPrintable(args[i]));
      return std::nullopt;
    } else {
      std::fprintf(stderr, "rlvexa-configurator: unknown option %s\n", qPrintable(args[i]));
      return std::nullopt;
    }
  }
  return parsed;
}

bool IsWritableFolder(const QString& path) {
#ifdef _WIN32
  // Folder attributes do not tell (Program Files is closed to users): try.
  return rlv::platform::CanCreateFilesIn(path.toStdString());
#else
  const QFileInfo info(path);
  return info.isDir() && info.isWritable();
#endif
}

// The folder of the shipped data files of an installed program (the language
// file); empty when the program runs from its build folder.
QString InstalledDataFolder() {
  const QDir bin(QCoreApplication::applicationDirPath());
  if (QFileInfo::exists(bin.filePath(QStringLiteral("language.lng")))) return {};
  const QString shared = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral(RLVEXA_SHIPPED_FROM_BIN)));
  if (!QFileInfo::exists(shared + QStringLiteral("/language.lng"))) return {};
  return shared;
}

// The user's own data folder: $XDG_DATA_HOME/rlvexa-configurator; on Windows
// %APPDATA%\RLvexa.
QString UserDataFolder() {
#ifdef _WIN32
  return QString::fromStdString(
      rlv::platform::WindowsUserDataFolder(qEnvironmentVariable("APPDATA").toStdString()));
#else
  const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  return home.isEmpty() ? QString() : home + QStringLiteral("/rlvexa-configurator");
#endif
}

// The folder that stands for "beside the executable"; empty when none can be made.
// The data folder, made when missing; empty, with the folder tried and the
// reason, when it cannot be made.
QString DataFolder(const Parsed& parsed, bool installed, std::string* tried, std::string* why) {
  QString folder;
  if (parsed.dir_given) {
    folder = QString::fromStdString(parsed.options.data_dir);
  } else if (installed) {
    folder = UserDataFolder();
  } else {
    folder = QCoreApplication::applicationDirPath();
    if (!IsWritableFolder(folder)) folder = UserDataFolder();
  }
  if (folder.isEmpty()) {
    *why = "no folder for the user's data (HOME is not set)";
    return {};
  }
  *tried = folder.toStdString();
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::u8path(*tried);
  std::filesystem::create_directories(path, ec);
  if (ec) {
    *why = ec.message();
    return {};
  }
  if (!std::filesystem::is_directory(path, ec)) {
    *why = "not a folder";
    return {};
  }
  return QDir(folder).absolutePath();
}

// A display to open the window on: an X or Wayland session, or a Qt platform
// named explicitly (offscreen, vnc, ...). Windows and macOS always have one.
bool DisplayAvailable() {
#if defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    return true;
  // A local X display ":N" whose server socket is missing cannot be opened, and
  // Qt would abort on it: run headless instead.
  const QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) return false;
  if (display.startsWith(':')) {
    const QString number = display.mid(1).section('.', 0, 0);
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + number);
  }
  return true;
#endif
}

QStringList Arguments(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args.push_back(QString::fromLocal8Bit(argv[i]));
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  rlv::qtp::PrepareProcess();
  // A command ("rlvexa-configurator read --port ...") runs to its end without a window.
  if (argc > 1 && rlv::cli::IsCommand(argv[1])) return rlv::qtp::RunCommandLine(argc, argv);
  // The command line decides between the window and the headless mode before
  // the application object exists: only the window needs QApplication.
  const auto parsed = ParseArguments(Arguments(argc, argv));
  if (!parsed) return 2;
  if (parsed->help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (parsed->version) {
    std::printf("rlvexa-configurator %s\n", RLVEXA_VERSION);
    return 0;
  }
  const bool window_mode = !parsed->options.headless && DisplayAvailable();
  std::unique_ptr<QCoreApplication> app;
  if (window_mode) {
    app = std::make_unique<QApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName("rlvexa-configurator");
  QCoreApplication::setOrganizationName("Kelvane");
  QCoreApplication::setApplicationVersion(RLVEXA_VERSION);

  rlv::app::Options options = parsed->options;
  // Installed, the shipped files are read from the system data folder and the
  // user's own files live in the user's data folder; from the build folder both
  // are the executable's folder.
  const QString shipped = InstalledDataFolder();
  std::string tried, why;
  const QString folder = DataFolder(*parsed, !shipped.isEmpty(), &tried, &why);
  if (folder.isEmpty()) {
    std::fprintf(stderr, "rlvexa-configurator: cannot create the data folder %s: %s\n", tried.c_str(),
                 why.c_str());
    return 2;
  }
  options.data_dir = QDir::toNativeSeparators(folder).toStdString();
  options.program_dir =
      QDir::toNativeSeparators(shipped.isEmpty() ? QCoreApplication::applicationDirPath() : shipped)
          .toStdString();

  rlv::qtp::QtPlatform platform(options.demo, options.tracker_port);
  if (window_mode) {
    QGuiApplication::setApplicationDisplayName("RLvexa");
    // The desktop entry the window belongs to (its icon on Wayland).
    QGuiApplication::setDesktopFileName("rlvexa-configurator");
    // The platform's dialogs speak the system's language where Qt has it.
    auto* translator = new QTranslator(app.get());
    if (translator->load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(translator);
    }
    rlv::qtp::CloseWindowOnSignals(app.get());
    rlv::qtw::WindowFrontend frontend(platform, options);
    return frontend.Run();
  }
  if (!options.headless) {
    std::fprintf(stderr,
                 "rlvexa-configurator: no display (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM), "
                 "running headless\n");
  }
  rlv::qtp::HeadlessFrontend frontend(platform, options);
  return frontend.Run();
}

// rlvexa-configurator: the desktop configurator of the RLvexa vehicle tracker.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <string>

#include "HeadlessFrontend.h"
#include "QtPlatform.h"
#include "app/Options.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

constexpr const char* kUsage =
    "usage: rlvexa-configurator [--headless] [--demo] [--dir DIR] [--tracker-port PATH] [--help]\n"
    "  --headless           automation mode: commands on standard input, one answer line\n"
    "                       per command on standard output\n"
    "  --demo               a simulated tracker behind the virtual serial port \"DEMO\"\n"
    "  --dir DIR            the folder of the settings, language file, logs and downloads\n"
    "                       (default: the executable's folder when writable, else a\n"
    "                       per-user data folder)\n"
    "  --tracker-port PATH  one more serial port (for example a pseudo-terminal) that is\n"
    "                       present as the tracker's USB device\n"
    "  --help               this text\n";

struct Parsed {
  rlv::app::Options options;
  bool help = false;
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
    } else if (arg == "--headless") {
      if (!flag()) return std::nullopt;
      parsed.options.headless = true;
    } else if (arg == "--demo") {
      if (!flag()) return std::nullopt;
      parsed.options.demo = true;
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
    } else {
      std::fprintf(stderr, "rlvexa-configurator: unknown option %s\n", qPrintable(args[i]));
      return std::nullopt;
    }
  }
  return parsed;
}

bool IsWritableFolder(const QString& path) {
  const QFileInfo info(path);
  return info.isDir() && info.isWritable();
}

// The folder that stands for "beside the executable"; empty when none can be made.
QString DataFolder(const Parsed& parsed) {
  QString folder;
  if (parsed.dir_given) {
    folder = QString::fromStdString(parsed.options.data_dir);
  } else {
    folder = QCoreApplication::applicationDirPath();
    if (!IsWritableFolder(folder)) folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  }
  if (folder.isEmpty() || !QDir().mkpath(folder)) return {};
  return QDir(folder).absolutePath();
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  // A reader that goes away must not kill the program in the middle of its close steps.
  std::signal(SIGPIPE, SIG_IGN);
  // Closed standard streams read as empty and swallow output; otherwise the
  // first descriptors the program opens would take their numbers.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1) {
      const int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (null_fd >= 0 && null_fd != fd) {
        dup2(null_fd, fd);
        close(null_fd);
      }
    }
  }
#endif
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("rlvexa-configurator");
  QCoreApplication::setOrganizationName("Kelvane");
  QCoreApplication::setApplicationVersion("1.0.0");

  const auto parsed = ParseArguments(QCoreApplication::arguments());
  if (!parsed) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (parsed->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  rlv::app::Options options = parsed->options;
  const QString folder = DataFolder(*parsed);
  if (folder.isEmpty()) {
    std::fprintf(stderr, "rlvexa-configurator: cannot create the data folder %s\n",
                 parsed->dir_given ? options.data_dir.c_str() : "");
    return 2;
  }
  options.data_dir = QDir::toNativeSeparators(folder).toStdString();
  options.program_dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();

  // There is no window front end yet: every run is an automation run.
  if (!options.headless) std::fprintf(stderr, "rlvexa-configurator: no window yet, running headless\n");

  rlv::qtp::QtPlatform platform(options.demo, options.tracker_port);
  rlv::qtp::HeadlessFrontend frontend(platform, options);
  return frontend.Run();
}

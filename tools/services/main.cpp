// rlvexa-services: the configuration store and the update and news service of
// the RLvexa configurator, in one process, on plain TCP.

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>

#include "Admin.h"
#include "Services.h"
#include "Version.h"

namespace {

constexpr const char* kUsage =
    "usage: rlvexa-services (--data DIR | --store STORE) [--keep N] [--listen ADDRESS]\n"
    "                       [--store-port N] [--update-port N] [--pause-ms N] [--idle N]\n"
    "                       [--max-connections N] [--max-per-peer N] [--grace N]\n"
    "                       [--help] [--version]\n"
    "  --data DIR          the data folder (the newest configuration of each IMEI only):\n"
    "                        DIR/configs/<IMEI>.fcg        stored configurations (created)\n"
    "                        DIR/firmware/type-<N>/<file>  firmware builds for device type N\n"
    "                        DIR/configurator/<file>       configurator builds\n"
    "                        DIR/news.txt                  the news text\n"
    "  --store STORE       a data folder as for --data, or a PostgreSQL database that any\n"
    "                      number of servers may share: a URL postgresql://USER@HOST:PORT/DB\n"
    "                      (libpq's), or \"pg\" for libpq's variables PGHOST, PGPORT,\n"
    "                      PGDATABASE, PGUSER, PGPASSWORD; its tables are created or brought\n"
    "                      up to date at start\n"
    "  --keep N            configuration versions kept per IMEI in a database (default 10)\n"
    "  --listen ADDRESS    the address to listen on (default: every interface)\n"
    "  --store-port N      the configuration store's port (default 10890; 0 = any free port)\n"
    "  --update-port N     the update service's port (default 10500; 0 = any free port)\n"
    "  --pause-ms N        pause between a file header and the file (default 200)\n"
    "  --idle N            seconds after which a connection that neither sends nor takes\n"
    "                      what is sent to it is dropped (default 30)\n"
    "  --max-connections N connections served at once, in all (default 512)\n"
    "  --max-per-peer N    connections served at once from one address (default 64)\n"
    "  --grace N           seconds that transfers under way may take to finish after\n"
    "                      SIGTERM or SIGINT (default 10); then the server exits\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "Commands (rlvexa-services admin --help):\n"
    "  admin               publishes builds and news, lists and exports configurations,\n"
    "                      moves a data folder into a database\n"
    "On start the two ports are printed on standard output as \"store port N\" and\n"
    "\"update port N\"; every request is logged on standard error.\n"
    "Exit status: 0 stopped by a signal, 1 cannot listen, no data folder or no database, 2 bad command "
    "line.\n";

std::optional<long> Number(const QString& text, long max) {
  bool ok = false;
  const long value = text.toLong(&ok);
  if (!ok || value < 0 || value > max || text.isEmpty() || !text[0].isDigit()) return std::nullopt;
  return value;
}

// A signal only writes a byte; the event loop reads it and quits.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

// Every connection holds a socket and at most one open file. The soft limit
// of open descriptors is raised as far as the system allows, and the number
// of connections is lowered to what still fits, so that accepting never runs
// out of descriptors.
void FitDescriptors(rlv::services::ServiceOptions& options) {
  constexpr rlim_t kSpare = 32;  // the listening sockets, the log, the event loop's own
  constexpr rlim_t kWanted = 65536;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < kWanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? kWanted : std::min(limit.rlim_max, kWanted);
    if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return;
  const rlim_t fits = limit.rlim_cur > 2 * kSpare ? (limit.rlim_cur - kSpare) / 2 : kSpare;
  if (static_cast<rlim_t>(options.max_connections) > fits) {
    std::fprintf(stderr, "rlvexa-services: %lu open files allowed: at most %lu connections\n",
                 static_cast<unsigned long>(limit.rlim_cur), static_cast<unsigned long>(fits));
    options.max_connections = static_cast<int>(fits);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  rlv::services::ServiceOptions options;
  const QStringList args = app.arguments();
  if (args.size() > 1 && args[1] == "admin") return rlv::services::AdminMain(args.mid(2));
  QString data, store;
  long keep = 10, grace = 10;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString arg = args[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("rlvexa-services %s\n", RLVEXA_VERSION);
      return 0;
    }
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "rlvexa-services: %s needs a value (or is unknown)\n%s", qPrintable(arg), kUsage);
      return 2;
    }
    const QString value = args[++i];
    std::optional<long> number;
    if (arg == "--data" || arg == "--store") {
      (arg == "--data" ? data : store) = value;
    } else if (arg == "--keep" && (number = Number(value, 100000)) && *number > 0) {
      keep = *number;
    } else if (arg == "--grace" && (number = Number(value, 3600))) {
      grace = *number;
    } else if (arg == "--listen") {
      if (!options.address.setAddress(value)) {
        std::fprintf(stderr, "rlvexa-services: not an address: %s\n", qPrintable(value));
        return 2;
      }
    } else if ((arg == "--store-port" || arg == "--update-port") && (number = Number(value, 65535))) {
      (arg == "--store-port" ? options.store_port : options.update_port) = static_cast<uint16_t>(*number);
    } else if (arg == "--pause-ms" && (number = Number(value, 10000))) {
      options.pause_ms = static_cast<int>(*number);
    } else if (arg == "--idle" && (number = Number(value, 86400)) && *number > 0) {
      options.idle_seconds = static_cast<int>(*number);
    } else if (arg == "--max-connections" && (number = Number(value, 100000)) && *number > 0) {
      options.max_connections = static_cast<int>(*number);
    } else if (arg == "--max-per-peer" && (number = Number(value, 100000)) && *number > 0) {
      options.max_per_peer = static_cast<int>(*number);
    } else {
      std::fprintf(stderr, "rlvexa-services: bad option %s %s\n%s", qPrintable(arg), qPrintable(value),
                   kUsage);
      return 2;
    }
  }
  if (data.isEmpty() == store.isEmpty()) {
    std::fprintf(stderr, "rlvexa-services: one of --data and --store is required\n%s", kUsage);
    return 2;
  }
  FitDescriptors(options);
  QString error;
  auto storage = rlv::services::OpenStore(store.isEmpty() ? data : store, static_cast<int>(keep), &error);
  if (!storage) {
    std::fprintf(stderr, "rlvexa-services: %s\n", qPrintable(error));
    return 1;
  }
  rlv::services::Services::Log("-", "serving " + storage->Describe());
  rlv::services::Services services(options, std::move(storage));
  if (!services.Start(&error)) {
    std::fprintf(stderr, "rlvexa-services: %s\n", qPrintable(error));
    return 1;
  }
  std::printf("store port %u\nupdate port %u\n", services.StorePort(), services.UpdatePort());
  std::fflush(stdout);
  if (pipe(g_signal_pipe) == 0) {
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &app);
    // The first signal stops accepting and lets the transfers under way
    // finish (for --grace seconds); a second one stops at once.
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&services, grace] {
      char byte = 0;
      [[maybe_unused]] const ssize_t ignored = read(g_signal_pipe[0], &byte, 1);
      if (services.Stopping()) {
        QCoreApplication::quit();
        return;
      }
      services.Stop(static_cast<int>(grace * 1000), [] { QCoreApplication::quit(); });
    });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
  }
  return app.exec();
}

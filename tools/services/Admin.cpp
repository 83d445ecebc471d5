// The operators' command: publishes builds and the news, lists and exports
// the stored configurations, and moves a data folder into a database. It
// works on the store directly, also while servers are running on it.

#include "Admin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <optional>

#include "Store.h"
#include "monitor/Monitoring.h"
#include "net/ServiceProtocol.h"
#include "platform/Files.h"

namespace rlv::services {

namespace {

constexpr const char* kAdminUsage =
    "usage: rlvexa-services admin (--data DIR | --store STORE) [--keep N] COMMAND [ARGUMENT...]\n"
    "  Works on a store (also while servers use it). The commands:\n"
    "  publish-firmware FILE --type N adds FILE as a firmware build for device type N\n"
    "  (replacing a build of the same name); publish-configurator FILE adds a configurator\n"
    "  build; set-news FILE makes FILE the news text; list-configs [IMEI] lists the newest\n"
    "  configuration of every IMEI, or every kept version of one; export-config IMEI --out FILE\n"
    "  [--version K] writes the newest configuration (or version K, 1 = the newest) to FILE;\n"
    "  import-folder DIR copies the configurations, builds and news of the data folder DIR\n"
    "  into the database given by --store.\n"
    "  --data DIR          the data folder\n"
    "  --store STORE       a data folder or a database, as for the server\n"
    "  --keep N            versions kept per IMEI in a database (default 10)\n"
    "  --type N            the device type of a firmware build (0 to 255)\n"
    "  --out FILE          where export-config writes the configuration\n"
    "  --version K         the version export-config writes: 1 the newest (default), 2 the one before\n"
    "Exit status: 0 done, 1 the store or a file failed (the reason on standard error),\n"
    "2 bad command line, 3 nothing stored under that IMEI or version.\n";

constexpr int kFailed = 1, kUsage = 2, kNotStored = 3;

int Usage(const QString& why) {
  std::fprintf(stderr, "rlvexa-services admin: %s\n%s", qPrintable(why), kAdminUsage);
  return kUsage;
}

int Failure(const QString& why) {
  std::fprintf(stderr, "rlvexa-services admin: %s\n", qPrintable(why));
  return kFailed;
}

std::optional<long> Number(const QString& text, long min, long max) {
  bool ok = false;
  const long value = text.toLong(&ok);
  if (!ok || text.isEmpty() || !text[0].isDigit() || value < min || value > max) return std::nullopt;
  return value;
}

// `path` opened when it is a regular file a build may be: nullptr with the
// reason otherwise.
std::unique_ptr<QFile> OpenBuildFile(const QString& path, qint64 max, QString* why) {
  const QFileInfo info(path);
  if (!info.isFile()) {
    *why = path + ": not a regular file";
    return nullptr;
  }
  if (info.size() <= 0 || info.size() > max) {
    *why = path + QString(": %1 bytes, not 1 to %2").arg(info.size()).arg(max);
    return nullptr;
  }
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::ReadOnly)) {
    *why = path + ": " + file->errorString();
    return nullptr;
  }
  return file;
}

// Checks that `name` is one the server will offer for its kind of build.
bool OfferedName(const QString& name, int device_type, QString* why) {
  if (!IsServableBuild(name, 1)) {
    *why = "\"" + name + "\" cannot be announced to a client";
    return false;
  }
  if (device_type == kConfiguratorBuild && NewestConfigurator({name}).isEmpty()) {
    *why = "\"" + name + "\" is not a configurator build name (ConfiguratorRLvexa_v1.4.10.0.exe)";
    return false;
  }
  if (device_type != kConfiguratorBuild && NewestFirmware({name}).isEmpty()) {
    *why = "\"" + name + "\" is not a firmware build name (fw5_2031.0102.03.bin)";
    return false;
  }
  return true;
}

int Publish(Store& store, const QString& path, int device_type) {
  QString why;
  const QString name = QFileInfo(path).fileName();
  if (!OfferedName(name, device_type, &why)) return Failure(why);
  auto file = OpenBuildFile(path, static_cast<qint64>(net::kMaxUpdateFile), &why);
  if (!file || !store.PublishBuild(device_type, name, *file, file->size(), &why)) return Failure(why);
  std::printf("published %s, %lld bytes\n", qPrintable(name), static_cast<long long>(file->size()));
  return 0;
}

int SetNews(Store& store, const QString& path) {
  QString why;
  auto file = OpenBuildFile(path, kMaxNews, &why);
  if (!file) return Failure(why + " (the news are at most " + QString::number(kMaxNews) + " bytes)");
  const QByteArray text = file->readAll();
  if (!store.SetNews(text, &why)) return Failure(why);
  std::printf("news set, %lld bytes\n", static_cast<long long>(text.size()));
  return 0;
}

int List(Store& store, const QString& imei) {
  std::vector<StoredConfig> configs;
  QString why;
  if (!store.ListConfigs(imei, &configs, &why)) return Failure(why);
  for (const StoredConfig& c : configs) {
    std::printf("%s %d/%d %s %lld bytes%s%s\n", qPrintable(c.imei), c.version, c.versions,
                qPrintable(c.time.toString(Qt::ISODate)), static_cast<long long>(c.size),
                c.peer.isEmpty() ? "" : " from ", qPrintable(c.peer));
  }
  return configs.empty() && !imei.isEmpty() ? kNotStored : 0;
}

int Export(Store& store, const QString& imei, int version, const QString& out) {
  QByteArray bytes;
  QString why;
  switch (store.GetConfig(imei, version, &bytes, &why)) {
    case Outcome::kFailed:
      return Failure(why);
    case Outcome::kMissing:
      std::fprintf(stderr, "rlvexa-services admin: no version %d stored for %s\n", version, qPrintable(imei));
      return kNotStored;
    case Outcome::kFound:
      break;
  }
  platform::OutputFile file;
  if (!file.Open(out.toStdString()) ||
      !file.Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())) ||
      !file.Commit()) {
    return Failure(out + ": " + QString::fromStdString(file.Error()));
  }
  std::printf("%s version %d: %lld bytes written to %s\n", qPrintable(imei), version,
              static_cast<long long>(bytes.size()), qPrintable(out));
  return 0;
}

int Import(Store& target, const QString& dir) {
  QString why;
  auto source = OpenFolderStore(dir, &why);
  if (!source) return Failure(why);
  std::vector<StoredConfig> configs;
  if (!source->ListConfigs({}, &configs, &why)) return Failure(why);
  int stored = 0, builds = 0;
  for (const StoredConfig& c : configs) {
    QByteArray bytes;
    if (source->GetConfig(c.imei, 1, &bytes, &why) != Outcome::kFound) {
      std::fprintf(stderr, "rlvexa-services admin: skipped %s: %s\n", qPrintable(c.imei), qPrintable(why));
      continue;
    }
    if (!target.PutConfig(c.imei, std::vector<uint8_t>(bytes.begin(), bytes.end()), "import", &why)) {
      return Failure(c.imei + ": " + why);
    }
    ++stored;
  }
  std::vector<int> types{kConfiguratorBuild};
  for (const QString& folder : QDir(dir + "/firmware").entryList({"type-*"}, QDir::Dirs, QDir::Name)) {
    if (const auto type = Number(folder.mid(5), 0, 255)) types.push_back(static_cast<int>(*type));
  }
  for (const int type : types) {
    QStringList names;
    if (source->BuildNames(type, &names, &why) == Outcome::kFailed) return Failure(why);
    for (const QString& name : names) {
      Build build;
      if (source->OpenBuild(name, &build, &why) != Outcome::kFound) continue;
      auto file = OpenBuildFile(dir + "/" + build.path, static_cast<qint64>(net::kMaxUpdateFile), &why);
      if (!file || !target.PublishBuild(type, name, *file, file->size(), &why))
        return Failure(name + ": " + why);
      ++builds;
    }
  }
  QByteArray news;
  const bool has_news = source->News(&news, &why) == Outcome::kFound;
  if (has_news && !target.SetNews(news, &why)) return Failure("news: " + why);
  std::printf("imported %d configurations, %d builds%s\n", stored, builds, has_news ? " and the news" : "");
  return 0;
}

}  // namespace

int AdminMain(const QStringList& args) {
  QString data, store, out;
  long keep = 10, version = 1;
  std::optional<long> type;
  QStringList words;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == "--help") {
      std::fputs(kAdminUsage, stdout);
      return 0;
    }
    if (!arg.startsWith("--")) {
      words << arg;
      continue;
    }
    if (i + 1 >= args.size()) return Usage(arg + " needs a value (or is unknown)");
    const QString value = args[++i];
    std::optional<long> number;
    if (arg == "--data" || arg == "--store") {
      (arg == "--data" ? data : store) = value;
    } else if (arg == "--out") {
      out = value;
    } else if (arg == "--keep" && (number = Number(value, 1, 100000))) {
      keep = *number;
    } else if (arg == "--version" && (number = Number(value, 1, 100000))) {
      version = *number;
    } else if (arg == "--type" && (type = Number(value, 0, 255))) {
    } else {
      return Usage("bad option " + arg + " " + value);
    }
  }
  if (data.isEmpty() == store.isEmpty()) return Usage("one of --data and --store is required");
  if (words.isEmpty()) return Usage("no command");
  const QString command = words.takeFirst();
  const auto wants = [&](qsizetype min, qsizetype max) { return words.size() >= min && words.size() <= max; };
  const bool imei_ok = words.isEmpty() || monitor::IsValidImei(words[0].toStdString());
  if (command == "publish-firmware") {
    if (!wants(1, 1) || !type) return Usage("publish-firmware FILE --type N");
  } else if (command == "publish-configurator" || command == "set-news" || command == "import-folder") {
    if (!wants(1, 1)) return Usage(command + " FILE");
    if (command == "import-folder" && !IsDatabase(store))
      return Usage("import-folder needs --store with a database");
  } else if (command == "list-configs") {
    if (!wants(0, 1) || !imei_ok) return Usage("list-configs [IMEI]");
  } else if (command == "export-config") {
    if (!wants(1, 1) || !imei_ok || out.isEmpty())
      return Usage("export-config IMEI --out FILE [--version K]");
  } else {
    return Usage("unknown command " + command);
  }

  QString why;
  auto storage = OpenStore(store.isEmpty() ? data : store, static_cast<int>(keep), &why);
  if (!storage) return Failure(why);
  if (command == "publish-firmware") return Publish(*storage, words[0], static_cast<int>(*type));
  if (command == "publish-configurator") return Publish(*storage, words[0], kConfiguratorBuild);
  if (command == "set-news") return SetNews(*storage, words[0]);
  if (command == "list-configs") return List(*storage, words.value(0));
  if (command == "export-config") return Export(*storage, words[0], static_cast<int>(version), out);
  return Import(*storage, words[0]);
}

}  // namespace rlv::services

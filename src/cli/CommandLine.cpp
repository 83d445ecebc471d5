#include "cli/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "config/ConfigText.h"
#include "platform/Files.h"

namespace rlv::cli {

namespace {

struct CommandInfo {
  const char* name;
  const char* synopsis;
  const char* what;
};

constexpr CommandInfo kCommands[] = {
    {"status", "status --port PORT... [--json] [--dir DIR] [--fast] [--lang en|ru]",
     "Identifies the tracker and prints its device and navigation records, as text or JSON."},
    {"read", "read --port PORT... --out FILE.fcg [--password N] [--dir DIR] [--fast] [--lang en|ru]",
     "Reads the tracker's configuration into a configuration file."},
    {"write", "write --port PORT... FILE [--password N] [--dir DIR] [--fast] [--lang en|ru]",
     "Writes a configuration (a .fcg file or its text) to the tracker and verifies it by reading it back."},
    {"flash", "flash --port PORT... IMAGE.bin [--password N] [--dir DIR] [--fast] [--lang en|ru]",
     "Reads and keeps the configuration, then updates the firmware through the bootloader."},
    {"bundle", "bundle --port PORT... --out FILE.zip [--password N] [--dir DIR] [--fast] [--lang en|ru]",
     "Writes one archive for support: device and navigation records, configuration, event and\n"
     "  fault logs, traffic trace, version and settings (without passwords)."},
    {"export", "export FILE.fcg [--lang en|ru]", "Prints the readable text of a configuration file."},
    {"import", "import TEXT --out FILE.fcg [--lang en|ru]",
     "Makes a configuration file from a configuration text."},
    {"diff", "diff A B [--lang en|ru]",
     "Prints the fields that differ between two configurations (.fcg files or texts), old -> new."},
};

// The meaning of each exit status, as every command's help gives it.
struct ExitInfo {
  int status;
  const char* meaning;
};
constexpr ExitInfo kExits[] = {
    {kExitOk, "success"},
    {kExitDiffer, "the configurations differ"},
    {kExitUsage, "usage error"},
    {kExitNoTracker,
     "no tracker: none answered on the port within 10 s, the port does not exist,\n"
     "     or it may not be opened"},
    {kExitPassword, "password refused, or asked for and not given"},
    {kExitTransfer, "transfer failed or timed out"},
    {kExitBadFile, "bad or unreadable file, or no data folder"},
    {kExitFirmware, "firmware update failed"},
    {kExitOutput, "the output could not be written (full disk, closed pipe)"},
};

const CommandInfo* Find(std::string_view name) {
  for (const CommandInfo& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// Files a command takes, and whether --port and --out are needed.
struct Shape {
  size_t files;
  bool port;
  bool out;
};
Shape ShapeOf(const std::string& command) {
  static const std::map<std::string, Shape> shapes = {
      {"status", {0, true, false}}, {"read", {0, true, true}},     {"write", {1, true, false}},
      {"flash", {1, true, false}},  {"export", {1, false, false}}, {"import", {1, false, true}},
      {"diff", {2, false, false}},  {"bundle", {0, true, true}},
  };
  return shapes.at(command);
}

std::optional<config::text::Records> LoadConfiguration(const Invocation& inv, const std::string& path,
                                                       std::ostream& err) {
  std::string why;
  const auto content = ReadWholeFile(path, &why);
  if (!content) {
    err << ErrorLine(inv.command, Tr("cannot read %1: %2", {path, why}));
    return std::nullopt;
  }
  try {
    return config::text::FromFileContent(*content);
  } catch (const config::text::ImportError& e) {
    err << ErrorLine(inv.command, path + ": " + e.what());
    return std::nullopt;
  }
}

// "--lang X" or "--lang=X" among the arguments: the language of every text that follows.
std::optional<std::string> LanguageArgument(const std::vector<std::string>& args) {
  std::optional<std::string> code;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--lang" && i + 1 < args.size()) code = args[i + 1];
    if (args[i].rfind("--lang=", 0) == 0) code = args[i].substr(7);
  }
  return code;
}

}  // namespace

bool IsCommand(std::string_view word) {
  return Find(word) != nullptr;
}

bool NeedsTracker(const std::string& command) {
  return command == "status" || command == "read" || command == "write" || command == "flash" ||
         command == "bundle";
}

std::vector<std::string> Commands() {
  std::vector<std::string> names;
  for (const CommandInfo& c : kCommands) names.emplace_back(c.name);
  return names;
}

std::vector<int> ExitStatuses(const std::string& command) {
  if (!IsCommand(command)) return {};
  if (command == "status") return {kExitOk, kExitUsage, kExitNoTracker, kExitBadFile, kExitOutput};
  if (command == "flash") {
    return {kExitOk,       kExitUsage,   kExitNoTracker, kExitPassword,
            kExitTransfer, kExitBadFile, kExitFirmware,  kExitOutput};
  }
  if (NeedsTracker(command)) {
    return {kExitOk, kExitUsage, kExitNoTracker, kExitPassword, kExitTransfer, kExitBadFile, kExitOutput};
  }
  if (command == "diff") return {kExitOk, kExitDiffer, kExitUsage, kExitBadFile, kExitOutput};
  return {kExitOk, kExitUsage, kExitBadFile, kExitOutput};
}

std::string Help(const std::string& command) {
  const std::string usage = Tr("usage:") + " rlvexa-configurator ";
  const CommandInfo* c = Find(command);
  if (c == nullptr) {
    std::string out = usage + "COMMAND [options]  (" + Tr("COMMAND --help for its options") + ")\n";
    for (const CommandInfo& info : kCommands) out += std::string("  ") + info.synopsis + "\n";
    return out;
  }
  std::string out = usage + c->synopsis + "\n  " + Tr(c->what) + "\n";
  const auto option = [&out](const char* name, std::string_view text) {
    std::string line = std::string("  ") + name;
    line.resize(17, ' ');
    out += line + Tr(text) + "\n";
  };
  if (NeedsTracker(command)) {
    option("--port PORT",
           "the tracker's serial port, or demo; repeated for several trackers,\n"
           "                 all for every tracker present");
    option("--password N", "the tracker's configuration password, when it asks for one");
    option("--dir DIR", "the data folder (settings, remembered passwords, history)");
    option("--fast",
           "the fast link: complete answers are read as they arrive, without\n"
           "                 the quiet wait (also FastLink=1 in config.ini [Settings])");
  }
  if (ShapeOf(command).out) option("--out FILE", "the file written (a failed command leaves none)");
  if (command == "status")
    option("--json", "one JSON object instead of text (keys in the README and the man page)");
  option("--lang LANG", "the language of the messages: en (default) or ru");
  option("--help", "this text");
  out += Tr("Exit status:") + "\n";
  for (const int status : ExitStatuses(command)) {
    for (const ExitInfo& e : kExits) {
      if (e.status == status) out += "  " + std::to_string(status) + "  " + Tr(e.meaning) + "\n";
    }
  }
  if (NeedsTracker(command)) {
    out += Tr("PORT is a serial port (for example /dev/ttyACM0) or \"demo\", the simulated tracker.") + "\n";
    out += Tr("Several trackers at once: --port A --port B ..., or --port all for every tracker present;\n"
              "each gets its own session and progress line, then a table of port, IMEI, result and time.\n"
              "The exit status is the highest of the trackers'. An output file gets the tracker's IMEI\n"
              "(else its port) before its extension: --out a.fcg gives a-866000000000001.fcg.") +
           "\n";
  }
  return out;
}

std::string ErrorLine(const std::string& command, const std::string& text) {
  return "rlvexa-configurator" + (command.empty() ? std::string() : " " + command) + ": " + text + "\n";
}

std::string UsageErrorLine(const std::vector<std::string>& args, const std::string& error) {
  if (args.empty() || !IsCommand(args[0])) return ErrorLine("", error);
  return ErrorLine(args[0],
                   error + " " + Tr("(%1 --help for its options)", {"rlvexa-configurator " + args[0]}));
}

std::optional<Invocation> Parse(const std::vector<std::string>& args, std::string* error) {
  Invocation inv;
  if (const auto code = LanguageArgument(args))
    inv.language = LanguageFromCode(*code).value_or(Language::kEnglish);
  SetLanguage(inv.language);
  if (args.empty() || !IsCommand(args[0])) {
    *error = args.empty() ? Tr("no command") : Tr("unknown command %1", {args[0]});
    return std::nullopt;
  }
  inv.command = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      inline_value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    if (arg == "--help" || arg == "-h") {
      inv.help = true;
    } else if (arg == "--json" && inv.command == "status") {
      inv.json = true;
    } else if (arg == "--fast" && NeedsTracker(inv.command)) {
      inv.fast = true;
    } else if (arg == "--port" || arg == "--out" || arg == "--password" || arg == "--dir" ||
               arg == "--lang") {
      const bool allowed = arg == "--out"    ? ShapeOf(inv.command).out
                           : arg == "--lang" ? true
                                             : NeedsTracker(inv.command);
      if (!allowed) {
        *error = Tr("takes no %1", {arg});
        return std::nullopt;
      }
      const auto v = value();
      if (!v || v->empty()) {
        *error = Tr("%1 needs a value", {arg});
        return std::nullopt;
      }
      if (arg == "--lang" && !LanguageFromCode(*v)) {
        *error = Tr("--lang takes en or ru, not %1", {*v});
        return std::nullopt;
      }
      if (arg == "--port") {
        if (std::find(inv.ports.begin(), inv.ports.end(), *v) != inv.ports.end()) {
          *error = Tr("the port %1 is given twice", {*v});
          return std::nullopt;
        }
        inv.ports.push_back(*v);
      }
      if (arg == "--out") inv.out = *v;
      if (arg == "--dir") inv.dir = *v;
      if (arg == "--password") {
        char* end = nullptr;
        errno = 0;
        const unsigned long n = std::strtoul(v->c_str(), &end, 10);
        if (errno != 0 || *end != 0 || n > 65535 || (*v)[0] == '-' || (*v)[0] == '+') {
          *error = Tr("the password is a number 0..65535, not %1", {*v});
          return std::nullopt;
        }
        inv.password = static_cast<uint16_t>(n);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = Tr("unknown option %1", {arg});
      return std::nullopt;
    } else {
      inv.files.push_back(args[i]);
    }
  }
  if (inv.help) return inv;
  const Shape shape = ShapeOf(inv.command);
  if (inv.files.size() != shape.files) {
    constexpr const char* kTakes[] = {"takes no file, not %1", "takes 1 file, not %1",
                                      "takes 2 files, not %1"};
    *error = Tr(kTakes[std::min<size_t>(shape.files, 2)], {std::to_string(inv.files.size())});
    return std::nullopt;
  }
  if (shape.port && inv.ports.empty()) {
    *error = Tr("needs --port PORT");
    return std::nullopt;
  }
  if (inv.ports.size() > 1 && std::find(inv.ports.begin(), inv.ports.end(), "all") != inv.ports.end()) {
    *error = Tr("--port all stands alone");
    return std::nullopt;
  }
  if (shape.out && inv.out.empty()) {
    *error = Tr("needs --out FILE");
    return std::nullopt;
  }
  return inv;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* why) {
  // No configuration or image comes near this size.
  constexpr size_t kLimit = 64u << 20;
  why->clear();
  auto content = platform::DefaultFiles().Read(path, kLimit, why);
  if (!content && why->empty()) *why = "no such file";
  return content;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* why) {
  return platform::DefaultFiles().Replace(path, bytes, why);
}

std::string PortTag(const std::string& port) {
  std::string tag = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
  for (char& c : tag) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '.' || c == '_' || c == '-';
    if (!plain) c = '-';
  }
  const size_t start = tag.find_first_not_of("-.");
  return start == std::string::npos ? std::string("port") : tag.substr(start);
}

std::string PerTrackerPath(const std::string& path, const std::string& tag) {
  const size_t slash = path.find_last_of("/\\");
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  // A dot that starts the name or sits in a folder is no extension.
  if (dot == std::string::npos || dot <= name) dot = path.size();
  return path.substr(0, dot) + "-" + tag + path.substr(dot);
}

int FinishOutput(const std::string& command, int status, std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return status;
  err << ErrorLine(command, Tr("the output could not be written"));
  return kExitOutput;
}

namespace {

int RunFile(const Invocation& inv, std::ostream& out, std::ostream& err) {
  namespace text = config::text;
  if (inv.command == "export") {
    const auto records = LoadConfiguration(inv, inv.files[0], err);
    if (!records) return kExitBadFile;
    out << text::Export(*records);
    return kExitOk;
  }
  if (inv.command == "import") {
    const auto records = LoadConfiguration(inv, inv.files[0], err);
    if (!records) return kExitBadFile;
    std::string why;
    if (!WriteFileAtomically(inv.out, text::ToConfigFile(*records), &why)) {
      err << ErrorLine(inv.command, Tr("cannot write %1: %2", {inv.out, why}));
      return kExitBadFile;
    }
    out << Tr("written %1", {inv.out}) << "\n";
    return kExitOk;
  }
  if (inv.command == "diff") {
    const auto a = LoadConfiguration(inv, inv.files[0], err);
    if (!a) return kExitBadFile;
    const auto b = LoadConfiguration(inv, inv.files[1], err);
    if (!b) return kExitBadFile;
    const auto differences = text::Diff(*a, *b);
    for (const auto& d : differences) out << text::FormatDifference(d) << "\n";
    return differences.empty() ? kExitOk : kExitDiffer;
  }
  err << ErrorLine(inv.command, Tr("needs a tracker"));
  return kExitUsage;
}

}  // namespace

int RunFileCommand(const Invocation& inv, std::ostream& out, std::ostream& err) {
  return FinishOutput(inv.command, RunFile(inv, out, err), out, err);
}

}  // namespace rlv::cli

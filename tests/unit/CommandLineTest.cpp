// The command line: its parsing, its file commands (export, import, diff) and the session steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "World.h"
#include "cli/CommandLine.h"
#include "cli/DeviceSession.h"
#include "cli/StatusJson.h"
#include "config/ConfigText.h"

namespace rlv {
namespace {

std::optional<cli::Invocation> Parse(std::vector<std::string> args, std::string* error) {
  return cli::Parse(args, error);
}

TEST(CommandLine, UsageErrorsAreNamed) {
  std::string error;
  EXPECT_FALSE(Parse({"fetch"}, &error));
  EXPECT_EQ(error, "unknown command fetch");
  EXPECT_FALSE(Parse({"read", "--port", "/dev/x"}, &error));
  EXPECT_EQ(error, "needs --out FILE");
  EXPECT_FALSE(Parse({"write", "--port", "/dev/x"}, &error));
  EXPECT_EQ(error, "takes 1 file, not 0");
  EXPECT_FALSE(Parse({"diff", "a"}, &error));
  EXPECT_FALSE(Parse({"export", "a", "--port", "demo"}, &error));
  EXPECT_EQ(error, "takes no --port");
  EXPECT_FALSE(Parse({"status", "--port"}, &error));
  EXPECT_EQ(error, "--port needs a value");
  for (const char* bad : {"65536", "-1", "+5", "12a", ""}) {
    EXPECT_FALSE(Parse({"read", "--port=demo", "--out", "x", "--password", bad}, &error)) << bad;
  }
  EXPECT_FALSE(Parse({"status", "--port", "demo", "--verbose"}, &error));
  EXPECT_EQ(error, "unknown option --verbose");

  const auto ok = Parse({"read", "--port=demo", "--out", "x.fcg", "--password", "65535"}, &error);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(ok->fast);
  EXPECT_TRUE(Parse({"flash", "--port=demo", "--fast", "img.bin"}, &error)->fast);
  EXPECT_FALSE(Parse({"export", "a", "--fast"}, &error));
  EXPECT_EQ(ok->ports, std::vector<std::string>{"demo"});
  EXPECT_EQ(ok->out, "x.fcg");
  EXPECT_EQ(ok->password, 65535);
  const auto help = Parse({"diff", "--help"}, &error);
  ASSERT_TRUE(help && help->help);
  // Every failure line starts with the program and the command.
  EXPECT_EQ(cli::UsageErrorLine({"read", "--port", "x"}, "needs --out FILE"),
            "rlvexa-configurator read: needs --out FILE (rlvexa-configurator read --help for its options)\n");
  EXPECT_EQ(cli::UsageErrorLine({"frob"}, "unknown command frob"),
            "rlvexa-configurator: unknown command frob\n");
}

// Each command's help names its own options and only the exit statuses it can give.
TEST(CommandLine, EachCommandsHelpListsItsOwnOptionsAndExitStatuses) {
  struct Case {
    const char* command;
    std::vector<int> statuses;
    std::vector<const char*> options;
    std::vector<const char*> not_options;
  };
  const Case cases[] = {
      {"status", {0, 2, 3, 6, 8}, {"--port", "--json", "--lang", "--dir"}, {"--out"}},
      {"read", {0, 2, 3, 4, 5, 6, 8}, {"--port", "--out", "--password"}, {"--json"}},
      {"write", {0, 2, 3, 4, 5, 6, 8}, {"--port", "--password", "--fast"}, {"--out", "--json"}},
      {"flash", {0, 2, 3, 4, 5, 6, 7, 8}, {"--port", "--password"}, {"--out", "--json"}},
      {"bundle", {0, 2, 3, 4, 5, 6, 8}, {"--port", "--out"}, {"--json"}},
      {"export", {0, 2, 6, 8}, {"--lang"}, {"--port", "--out", "--password", "--fast"}},
      {"import", {0, 2, 6, 8}, {"--out"}, {"--port", "--json"}},
      {"diff", {0, 1, 2, 6, 8}, {"--lang"}, {"--port", "--out"}},
  };
  ASSERT_EQ(std::size(cases), cli::Commands().size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(cli::ExitStatuses(c.command), c.statuses);
    const std::string help = cli::Help(c.command);
    const std::string options = help.substr(0, help.find("Exit status:\n"));
    const std::string exits = help.substr(options.size());
    for (int status = 0; status <= 8; ++status) {
      const bool listed = exits.find("\n  " + std::to_string(status) + "  ") != std::string::npos;
      EXPECT_EQ(listed, std::count(c.statuses.begin(), c.statuses.end(), status) == 1) << status;
    }
    for (const char* option : c.options) EXPECT_NE(options.find(option), std::string::npos) << option;
    for (const char* option : c.not_options) EXPECT_EQ(options.find(option), std::string::npos) << option;
    // The notes on ports are the tracker commands' own.
    EXPECT_EQ(help.find("--port") == std::string::npos, !cli::NeedsTracker(c.command));
  }
  // The list of every command names each of them.
  const std::string all = cli::Help("");
  for (const std::string& command : cli::Commands()) {
    EXPECT_NE(all.find("\n  " + command + " "), std::string::npos) << command;
  }
}

// The command line's own texts: English unless --lang ru, and every Russian
// text keeps the marks its English one fills in.
TEST(CommandLine, TextsFollowTheLanguageOption) {
  std::string error;
  EXPECT_FALSE(Parse({"read", "--port", "demo", "--lang", "ru"}, &error));
  EXPECT_EQ(error, "требует --out FILE");
  EXPECT_EQ(cli::CurrentLanguage(), cli::Language::kRussian);
  EXPECT_NE(cli::Help("diff").find("Код завершения:\n  0  успешно"), std::string::npos);
  EXPECT_FALSE(Parse({"status", "--port", "demo", "--lang=de"}, &error));
  EXPECT_EQ(error, "--lang takes en or ru, not de");
  EXPECT_EQ(cli::CurrentLanguage(), cli::Language::kEnglish);
  const auto english = Parse({"diff", "a", "b", "--lang=en"}, &error);
  ASSERT_TRUE(english) << error;
  EXPECT_EQ(english->language, cli::Language::kEnglish);
  EXPECT_EQ(cli::Tr("no tracker answered on %1 within 10 s", {"/dev/ttyACM0"}),
            "no tracker answered on /dev/ttyACM0 within 10 s");

  const auto marks = [](std::string_view text) {
    std::string found;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found += text[i + 1];
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  std::vector<std::string_view> seen;
  for (const cli::Translation& t : cli::Translations()) {
    EXPECT_EQ(marks(t.english), marks(t.russian)) << t.english;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), t.english), 0) << "twice: " << t.english;
    seen.push_back(t.english);
  }
}

TEST(CommandLine, SeveralPortsAndTheirOutputFiles) {
  std::string error;
  const auto two = Parse({"flash", "--port", "/dev/a", "img.bin", "--port=/dev/b"}, &error);
  ASSERT_TRUE(two) << error;
  EXPECT_EQ(two->ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
  EXPECT_FALSE(Parse({"status", "--port", "/dev/a", "--port", "/dev/a"}, &error));
  EXPECT_EQ(error, "the port /dev/a is given twice");
  EXPECT_FALSE(Parse({"status", "--port", "all", "--port", "/dev/a"}, &error));
  EXPECT_EQ(error, "--port all stands alone");
  ASSERT_TRUE(Parse({"status", "--port", "all"}, &error));

  EXPECT_EQ(cli::PerTrackerPath("out/a.fcg", "866000000000001"), "out/a-866000000000001.fcg");
  EXPECT_EQ(cli::PerTrackerPath("support.zip", "ttyACM0"), "support-ttyACM0.zip");
  EXPECT_EQ(cli::PerTrackerPath("v1.2/config", "pts-3"), "v1.2/config-pts-3");
  EXPECT_EQ(cli::PerTrackerPath(".hidden", "x"), ".hidden-x");
  EXPECT_EQ(cli::PortTag("/dev/ttyACM0"), "ttyACM0");
  EXPECT_EQ(cli::PortTag("/dev/pts/3"), "pts-3");
  EXPECT_EQ(cli::PortTag("COM7"), "COM7");
  EXPECT_EQ(cli::PortTag("/../x"), "x");
}

// The session's steps wait suspended; Poll() resumes them when their
// condition holds or their time is up. A port that may not be opened ends the
// wait at once with its reason; one that does not open (busy) is named after
// the wait.
TEST(DeviceSession, StepsResumeWhenTheTrackerAnswersOrTheirTimeIsUp) {
  const std::string port = fake::World::kTrackerPort;
  struct Case {
    bool silent;
    platform::OpenErrorKind refused;
    int status;
    int64_t at_most_ms;
    std::string error;
  };
  const Case cases[] = {
      {false, platform::OpenErrorKind::None, cli::kExitOk, 1000, ""},
      {true, platform::OpenErrorKind::None, cli::kExitNoTracker, cli::DeviceSession::kConnectMs,
       "no tracker answered on " + port + " within 10 s"},
      {false, platform::OpenErrorKind::Busy, cli::kExitNoTracker, cli::DeviceSession::kConnectMs,
       "cannot open " + port + ": busy: another program holds it"},
      {false, platform::OpenErrorKind::PermissionDenied, cli::kExitNoTracker, 1000,
       "cannot open " + port +
           ": permission denied: install the udev rule or join the group plugdev, then replug"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    sim::SimConfig config;
    config.silent = c.silent;
    fake::World world(config);
    if (c.refused != platform::OpenErrorKind::None)
      world.env.serial.RefuseOpen(port, {c.refused, "refused", "plugdev"});
    world.Start();
    cli::DeviceSession session(world.w(), std::nullopt);
    cli::Task<int> connect = session.Connect(port);
    connect.Start();
    const int64_t started = world.env.clock.Now();
    world.env.clock.RunUntil(
        [&] {
          while (session.Poll()) {
          }
          return connect.Done();
        },
        20000);
    ASSERT_TRUE(connect.Done());
    EXPECT_EQ(connect.Result(), c.status);
    EXPECT_LE(world.env.clock.Now() - started, c.at_most_ms);
    EXPECT_EQ(session.Error(), c.error);
  }
}

// The status as data: numbers with a point, a time in ISO 8601 UTC, null for
// what the tracker has not reported.
TEST(StatusJson, NumbersTimesAndMissingValues) {
  const std::pair<std::pair<int64_t, int>, const char*> decimals[] = {
      {{-5, 6}, "-0.000005"}, {{55750000, 6}, "55.750000"}, {{605, 1}, "60.5"}, {{0, 1}, "0.0"},
      {{-15, 1}, "-1.5"},     {{12345, 3}, "12.345"},       {{7, 0}, "7"},
  };
  for (const auto& [in, out] : decimals) EXPECT_EQ(cli::ScaledDecimal(in.first, in.second), out);
  EXPECT_EQ(cli::IsoUtcTime(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(cli::IsoUtcTime(1796876480), "2026-12-10T04:21:20Z");
  EXPECT_EQ(cli::IsoUtcTime(951782400), "2000-02-29T00:00:00Z");
  EXPECT_EQ(cli::JsonString("a\"b\\\x01"), "\"a\\\"b\\\\\\u0001\"");

  sim::TrackerSim tracker;
  auto& nav = tracker.NavigationRecord();
  nav.fill(0);
  link::PutU32(nav.data() + 4, static_cast<uint32_t>(-5));  // latitude
  nav[46] = static_cast<uint8_t>(-127);                     // a 1-Wire sensor error
  nav[47] = static_cast<uint8_t>(-3);
  const auto& device = tracker.DeviceRecord();
  const std::string with = cli::StatusJson("/dev/ttyACM0", device, nav);
  for (const char* part :
       {"\"port\":\"/dev/ttyACM0\"", "\"imei\":\"866000000000001\"", "\"latitude\":-0.000005,",
        "\"time\":\"1970-01-01T00:00:00Z\"", "\"onewire_c\":[null,-3,0,", "\"key\":null",
        "\"inputs\":[{\"type\":\"analogue\",\"value\":0.000,\"raw\":0},{\"type\":\"frequency\""}) {
    EXPECT_NE(with.find(part), std::string::npos) << part << "\n" << with;
  }
  const std::string without = cli::StatusJson("demo", device, {});
  for (const char* part : {"\"latitude\":null,", "\"signal_csq\":null,", "\"navigation_record\":null}",
                           "\"firmware\":{\"version\":5,\"build\":\"2018.0612.03\"}"}) {
    EXPECT_NE(without.find(part), std::string::npos) << part << "\n" << without;
  }
}

struct Files : fake::World {
  Files() : fake::World({}, false) {}
  int Run(std::vector<std::string> args) {
    std::string error;
    const auto inv = cli::Parse(args, &error);
    EXPECT_TRUE(inv) << error;
    out.str("");
    err.str("");
    return cli::RunFileCommand(*inv, out, err);
  }
  std::string Path(const char* name) { return env.dir.File(name); }
  std::ostringstream out, err;
};

TEST(CommandLine, ExportImportAndDiffOfFiles) {
  Files f;
  config::text::Records a;
  a.block1[15] = 3;
  f.env.dir.Write("a.fcg", [&] {
    const auto bytes = config::text::ToConfigFile(a);
    return std::string(bytes.begin(), bytes.end());
  }());
  ASSERT_EQ(f.Run({"export", f.Path("a.fcg")}), cli::kExitOk);
  const std::string text = f.out.str();
  EXPECT_NE(text.find("OPERATOR = 3 \"МТС\"\n"), std::string::npos);
  f.env.dir.Write("a.txt", text);
  ASSERT_EQ(f.Run({"import", f.Path("a.txt"), "--out", f.Path("b.fcg")}), cli::kExitOk);
  EXPECT_EQ(f.env.dir.Read("b.fcg"), f.env.dir.Read("a.fcg"));

  EXPECT_EQ(f.Run({"diff", f.Path("a.fcg"), f.Path("a.txt")}), cli::kExitOk);
  EXPECT_EQ(f.out.str(), "");
  std::string other = text;
  const std::string mts = "OPERATOR = 3 \"МТС\"";
  other.replace(other.find(mts), mts.size(), "OPERATOR = 1");
  f.env.dir.Write("c.txt", other);
  EXPECT_EQ(f.Run({"diff", f.Path("a.fcg"), f.Path("c.txt")}), cli::kExitDiffer);
  EXPECT_EQ(f.out.str(), "connection.OPERATOR: 3 \"МТС\" -> 1 \"Билайн\"\n");

  // Bad files: one line naming the file and what is wrong; nothing written.
  f.env.dir.Write("bad.txt", other + "OPERATOR = 2\n");
  EXPECT_EQ(f.Run({"import", f.Path("bad.txt"), "--out", f.Path("d.fcg")}), cli::kExitBadFile);
  const std::string failure = f.err.str();
  EXPECT_NE(failure.find("bad.txt: line "), std::string::npos) << failure;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1);
  EXPECT_EQ(f.env.dir.Read("d.fcg"), "");
  EXPECT_EQ(f.Run({"export", f.Path("missing.fcg")}), cli::kExitBadFile);
  EXPECT_NE(f.err.str().find("no such file"), std::string::npos);
  EXPECT_EQ(f.Run({"diff", f.Path("a.fcg"), f.Path("missing.fcg")}), cli::kExitBadFile);
}

// A standard output that takes nothing, as a full disk or a closed pipe.
struct Refusing : std::streambuf {
  int overflow(int) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(CommandLine, AnOutputThatCannotBeWrittenIsAnOutputFailure) {
  Files f;
  config::text::Records a, b;
  b.block1[15] = 3;
  for (const auto& [name, records] : {std::pair{"a.fcg", a}, std::pair{"b.fcg", b}}) {
    const auto bytes = config::text::ToConfigFile(records);
    f.env.dir.Write(name, std::string(bytes.begin(), bytes.end()));
  }
  const std::vector<std::vector<std::string>> commands = {{"export", f.Path("a.fcg")},
                                                          {"diff", f.Path("a.fcg"), f.Path("b.fcg")}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    std::string error;
    const auto inv = cli::Parse(args, &error);
    ASSERT_TRUE(inv) << error;
    Refusing refusing;
    std::ostream out(&refusing);
    std::ostringstream err;
    EXPECT_EQ(cli::RunFileCommand(*inv, out, err), cli::kExitOutput);
    EXPECT_EQ(err.str(), "rlvexa-configurator " + args[0] + ": the output could not be written\n");
  }
  EXPECT_NE(cli::Help("export").find("8  the output could not be written"), std::string::npos);
}

}  // namespace
}  // namespace rlv

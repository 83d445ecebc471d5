// The command line: its parsing, its file commands (export, import, diff) and the session steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "World.h"
#include "cli/CommandLine.h"
#include "cli/DeviceSession.h"
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
  EXPECT_EQ(error, "read needs --out FILE");
  EXPECT_FALSE(Parse({"write", "--port", "/dev/x"}, &error));
  EXPECT_EQ(error, "write takes 1 file, not 0");
  EXPECT_FALSE(Parse({"diff", "a"}, &error));
  EXPECT_FALSE(Parse({"export", "a", "--port", "demo"}, &error));
  EXPECT_EQ(error, "export takes no --port");
  EXPECT_FALSE(Parse({"status", "--port"}, &error));
  EXPECT_EQ(error, "--port needs a value");
  for (const char* bad : {"65536", "-1", "+5", "12a", ""}) {
    EXPECT_FALSE(Parse({"read", "--port=demo", "--out", "x", "--password", bad}, &error)) << bad;
  }
  EXPECT_FALSE(Parse({"status", "--port", "demo", "--verbose"}, &error));
  EXPECT_EQ(error, "unknown option --verbose for status");

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
  EXPECT_NE(cli::Help("diff").find("7 firmware update failed"), std::string::npos);
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
// condition holds or their time is up.
TEST(DeviceSession, StepsResumeWhenTheTrackerAnswersOrTheirTimeIsUp) {
  for (const bool answering : {true, false}) {
    sim::SimConfig config;
    config.silent = !answering;
    fake::World world(config);
    world.Start();
    cli::DeviceSession session(world.w(), std::nullopt);
    cli::Task<int> connect = session.Connect(fake::World::kTrackerPort);
    connect.Start();
    const int64_t started = world.env.clock.Now();
    world.env.clock.RunUntil(
        [&] {
          while (session.Poll()) {
          }
          return connect.Done();
        },
        20000);
    ASSERT_TRUE(connect.Done()) << answering;
    if (answering) {
      EXPECT_EQ(connect.Result(), cli::kExitOk);
      EXPECT_LT(world.env.clock.Now() - started, 1000);
    } else {
      EXPECT_EQ(connect.Result(), cli::kExitNoTracker);
      EXPECT_EQ(world.env.clock.Now() - started, cli::DeviceSession::kConnectMs);
      EXPECT_NE(session.Error().find(fake::World::kTrackerPort), std::string::npos);
    }
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
  EXPECT_NE(cli::Help("export").find("8 the output could not be written"), std::string::npos);
}

}  // namespace
}  // namespace rlv

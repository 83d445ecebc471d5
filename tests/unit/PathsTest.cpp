// Paths, file names and serial-port names as each platform writes them, and
// the file service under a folder name outside ASCII.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "FakePlatform.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace rlv::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

TEST(Paths, JoinUsesThePlatformsSeparatorOnce) {
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(JoinPath("", "a.fcg"), "a.fcg");
  EXPECT_EQ(JoinPath("data", "a.fcg"), "data" + s + "a.fcg");
  EXPECT_EQ(JoinPath("data/", "a.fcg"), "data/a.fcg");
  EXPECT_EQ(JoinPath("data\\", "a.fcg"), "data\\a.fcg");
  EXPECT_EQ(JoinPath("C:", "a.fcg"), "C:a.fcg");
#ifdef _WIN32
  EXPECT_EQ(JoinPath("C:\\Program Files\\RLvexa", "Log"), "C:\\Program Files\\RLvexa\\Log");
  EXPECT_FALSE(IsRelativePath("C:\\x.fcg"));
  EXPECT_FALSE(IsRelativePath("d:x.fcg"));
  EXPECT_FALSE(IsRelativePath("\\\\server\\share\\x.fcg"));
  EXPECT_FALSE(IsRelativePath("\\x.fcg"));
#endif
  EXPECT_FALSE(IsRelativePath("/x.fcg"));
  EXPECT_TRUE(IsRelativePath("Log/x.fcg"));
  EXPECT_TRUE(IsRelativePath("x.fcg"));
}

TEST(Paths, TheUsersFolderOnWindowsIsRLvexaInAppData) {
  EXPECT_EQ(WindowsUserDataFolder("C:\\Users\\Ivan\\AppData\\Roaming"),
            "C:\\Users\\Ivan\\AppData\\Roaming\\RLvexa");
  EXPECT_EQ(WindowsUserDataFolder("C:\\Users\\Ivan\\AppData\\Roaming\\"),
            "C:\\Users\\Ivan\\AppData\\Roaming\\RLvexa");
  EXPECT_EQ(WindowsUserDataFolder(""), "");
}

TEST(Paths, WindowsPortNames) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"COM1", "COM1", "\\\\.\\COM1"},
      {"com3", "COM3", "\\\\.\\COM3"},
      {"COM10", "COM10", "\\\\.\\COM10"},
      {"\\\\.\\COM10", "COM10", "\\\\.\\COM10"},
      {"COM256", "COM256", "\\\\.\\COM256"},
      {"COM257", "", ""},
      {"COM0", "", ""},
      {"COM01", "", ""},
      {"COM", "", ""},
      {"COM1x", "", ""},
      {"/dev/ttyACM0", "", ""},
      {"\\\\.\\", "", ""},
  };
  for (const auto& [name, canonical, device] : cases) {
    EXPECT_EQ(WindowsPortName(name), canonical) << name;
    EXPECT_EQ(WindowsPortDevicePath(name), device) << name;
  }
}

TEST(Paths, PortsAreOrderedAsPeopleCount) {
  std::vector<std::string> ports = {"COM10", "COM2", "COM1", "ttyUSB0", "ttyACM10", "ttyACM9", "DEMO"};
  std::sort(ports.begin(), ports.end(), PortNameLess);
  EXPECT_EQ(ports,
            (std::vector<std::string>{"COM1", "COM2", "COM10", "DEMO", "ttyACM9", "ttyACM10", "ttyUSB0"}));
}

// A folder with a Cyrillic name: the names reach the system intact (on
// Windows as wide strings), the save replaces and the read finds the file.
TEST(Paths, FilesUnderAFolderWithACyrillicName) {
  fake::TempDir dir;
  const std::string folder = JoinPath(dir.Path(), "Трекеры");
  fs::create_directory(fs::u8path(folder));
  const std::string path = JoinPath(folder, "конфигурация.fcg");
  StdFiles files;
  std::string why;
  ASSERT_TRUE(files.Replace(path, Bytes{1, 2, 3}, &why)) << why;
  ASSERT_TRUE(files.Replace(path, Bytes(1000, 7), &why)) << why;
  EXPECT_EQ(files.Read(path, 4096, &why), Bytes(1000, 7)) << why;
  // Exactly the one file, under its UTF-8 name.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::u8path(folder))) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  EXPECT_EQ(names, std::vector<std::string>{"конфигурация.fcg"});
  EXPECT_TRUE(CanCreateFilesIn(folder));
  EXPECT_FALSE(CanCreateFilesIn(JoinPath(folder, "нет")));
  EXPECT_EQ(files.Read(JoinPath(folder, "нет.fcg"), 4096, &why), std::nullopt);
  EXPECT_EQ(why, "");
  // A log is created, grows, and stops at its limit.
  const std::string log = JoinPath(folder, "журнал.log");
  EXPECT_EQ(files.Append(log, Bytes{1, 2}, 4, &why), AppendResult::kWritten) << why;
  EXPECT_EQ(files.Append(log, Bytes{3, 4}, 4, &why), AppendResult::kWritten) << why;
  EXPECT_EQ(files.Append(log, Bytes{5}, 4, &why), AppendResult::kFull) << why;
  EXPECT_EQ(files.Read(log, 4096, &why), (Bytes{1, 2, 3, 4})) << why;
}

#ifdef _WIN32
// Devices answer to names in every folder on Windows; they are never read or
// written. Folders and read-only files are not replaced either.
TEST(Paths, DevicesFoldersAndReadOnlyFilesAreRefused) {
  fake::TempDir dir;
  const std::string readonly = JoinPath(dir.Path(), "только.fcg");
  std::ofstream(fs::u8path(readonly)) << "kept";
  fs::permissions(fs::u8path(readonly), fs::perms::owner_read);
  enum : int { kReplace = 0, kRead = 1, kAppend = 2 };  // what is refused besides replacing
  struct Case {
    std::string path, reason;
    int refused;
  };
  std::vector<Case> cases = {{"\\\\.\\NUL", "not a regular file", kRead | kAppend},
                             {"COM1", "not a regular file", kRead | kAppend},
                             {JoinPath(dir.Path(), "COM1.fcg"), "not a regular file", kRead | kAppend},
                             {"\\\\.\\pipe\\rlvexa", "not a regular file", kRead | kAppend},
                             {dir.Path(), "a folder, not a file", kRead | kAppend},
                             {readonly, "the file is read-only", kReplace}};
  StdFiles files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string why;
    if ((c.refused & kRead) != 0) {
      EXPECT_EQ(files.Read(c.path, 4096, &why), std::nullopt);
    }
    EXPECT_FALSE(files.Replace(c.path, Bytes{1}, &why));
    EXPECT_EQ(why, c.reason);
    if ((c.refused & kAppend) != 0) {
      EXPECT_EQ(files.Append(c.path, Bytes{1}, 100, &why), AppendResult::kFailed);
      EXPECT_EQ(why, c.reason);
    }
  }
  std::string why;
  EXPECT_EQ(files.Read(readonly, 4096, &why), (Bytes{'k', 'e', 'p', 't'})) << why;
  fs::permissions(fs::u8path(readonly), fs::perms::owner_all);
}
#endif

}  // namespace
}  // namespace rlv::platform

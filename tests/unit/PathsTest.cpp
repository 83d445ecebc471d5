// Paths, file names and serial-port names as each platform writes them, and
// the file service under a folder name outside ASCII.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
}

#ifdef _WIN32
// Devices answer to names in every folder on Windows; they are never read or replaced.
TEST(Paths, DevicesAreNotFiles) {
  StdFiles files;
  std::string why;
  EXPECT_EQ(files.Read("\\\\.\\NUL", 4096, &why), std::nullopt);
  EXPECT_EQ(why, "not a regular file");
  EXPECT_FALSE(files.Replace("\\\\.\\NUL", Bytes{1}, &why));
  EXPECT_EQ(why, "not a regular file");
}
#endif

}  // namespace
}  // namespace rlv::platform

// The INI service: lookups, defaults and writes that keep everything else.
#include <gtest/gtest.h>

#include <filesystem>

#include "FakePlatform.h"
#include "platform/IniFile.h"

namespace rlv::platform {
namespace {

TEST(IniDocument, LooksUpWithoutRegardToCase) {
  auto doc = IniDocument::Parse("; comment\n[Settings]\nLanguage = english \nempty=\n[other]\nLanguage=x\n");
  EXPECT_EQ(doc.Get("settings", "LANGUAGE"), std::optional<std::string>("english"));
  EXPECT_EQ(doc.Get("Settings", "empty"), std::optional<std::string>(""));
  EXPECT_EQ(doc.Get("Settings", "missing"), std::nullopt);
  EXPECT_EQ(doc.Get("Nowhere", "Language"), std::nullopt);
  EXPECT_EQ(doc.Get("Other", "language"), std::optional<std::string>("x"));
}

TEST(IniDocument, ValuesKeepEverythingAfterTheFirstEqualsSign) {
  auto doc =
      IniDocument::Parse("[Strings]\nStr1=a=b//\\ c=d\n=novalue\n[Messages]\nM36=Неизвестная команда %d\n");
  EXPECT_EQ(doc.Get("Strings", "Str1"), std::optional<std::string>("a=b//\\ c=d"));
  EXPECT_EQ(doc.Get("Messages", "M36"), std::optional<std::string>("Неизвестная команда %d"));
  EXPECT_EQ(doc.Keys("Strings"), std::vector<std::string>{"Str1"});
}

TEST(IniDocument, WritingOneKeyLeavesTheRestAsItWas) {
  const std::string text =
      "\xEF\xBB\xBF; settings\r\n[Settings]\r\nLanguage=russian\r\n; keep me\r\n\r\n[Passes]\r\n1=2\r\n";
  auto doc = IniDocument::Parse(text);
  doc.Set("settings", "LANGUAGE", "english");
  EXPECT_EQ(
      doc.Serialize(),
      "\xEF\xBB\xBF; settings\r\n[Settings]\r\nLanguage=english\r\n; keep me\r\n\r\n[Passes]\r\n1=2\r\n");
  doc.Set("Settings", "ComPort", "COM3");
  doc.Set("Address", "ServerAdr", "192.0.2.1");
  EXPECT_EQ(doc.Serialize(),
            "\xEF\xBB\xBF; settings\r\n[Settings]\r\nLanguage=english\r\nComPort=COM3\r\n; keep me\r\n\r\n"
            "[Passes]\r\n1=2\r\n\r\n[Address]\r\nServerAdr=192.0.2.1\r\n");
  EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Get("address", "serveradr"),
            std::optional<std::string>("192.0.2.1"));
}

TEST(IniDocument, ParsesIntegersStrictly) {
  EXPECT_EQ(ParseInteger(" 42 "), 42);
  EXPECT_EQ(ParseInteger("-7"), -7);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("12abc"), std::nullopt);
  EXPECT_EQ(ParseInteger(""), std::nullopt);
  EXPECT_EQ(ParseInteger("99999999999999999999999"), std::nullopt);
}

TEST(IniFiles, CreatesTheFileOnFirstWriteAndDefaultsWhenMissing) {
  fake::TempDir dir;
  StdIniFiles ini;
  const std::string path = dir.File("config.ini");
  EXPECT_EQ(ini.ReadString(path, "Settings", "Language", "russian"), "russian");
  EXPECT_EQ(ini.ReadInteger(path, "Address", "UpdatePort", 10500), 10500);
  EXPECT_TRUE(ini.WriteString(path, "Passes", "866000000000001", "1234"));
  EXPECT_EQ(ini.ReadInteger(path, "passes", "866000000000001", 0), 1234);
  EXPECT_EQ(dir.Read("config.ini"), "[Passes]\n866000000000001=1234\n");
}

TEST(IniFiles, AFailedWriteLeavesTheOldFile) {
  fake::TempDir dir;
  StdIniFiles ini;
  dir.Write("config.ini", "[Settings]\nLanguage=english\n");
  // A folder in the way of the target cannot be replaced by a file.
  EXPECT_FALSE(ini.WriteString(dir.File("missing-folder/config.ini"), "S", "K", "V"));
  EXPECT_TRUE(ini.WriteString(dir.File("config.ini"), "Settings", "ComPort", "COM2"));
  EXPECT_EQ(dir.Read("config.ini"), "[Settings]\nLanguage=english\nComPort=COM2\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename(), "config.ini");  // no temporary file left behind
  }
}

}  // namespace
}  // namespace rlv::platform

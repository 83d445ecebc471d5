// The language file shipped with the program: every key the program reads is
// there in both languages, and every format text takes exactly its arguments.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "platform/IniFile.h"
#include "ui/Messages.h"

namespace rlv {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The conversions of a format text, in order ("%%" is not one).
std::string Conversions(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (text[i + 1] != '%') out += text.substr(i, 2);
    ++i;
  }
  return out;
}

struct ShippedFile : ::testing::Test {
  void SetUp() override {
    const std::string text = ReadFile(RLVEXA_SOURCE_DIR "/data/language.lng");
    ASSERT_FALSE(text.empty());
    doc = platform::IniDocument::Parse(text);
    std::istringstream keys(ReadFile(RLVEXA_SOURCE_DIR "/data/language-keys.txt"));
    std::string line;
    while (std::getline(keys, line)) {
      if (line.empty() || line[0] == '#') continue;
      if (line.rfind("FORMAT ", 0) == 0) {
        const size_t blank = line.find(' ', 7);
        formats[line.substr(7, blank - 7)] = line.substr(blank + 1);
      } else {
        required.push_back(line);
      }
    }
  }
  static std::pair<std::string, std::string> Split(const std::string& path) {
    const size_t slash = path.find('/');
    return {path.substr(0, slash), path.substr(slash + 1)};
  }
  platform::IniDocument doc;
  std::vector<std::string> required;
  std::map<std::string, std::string> formats;
};

TEST_F(ShippedFile, HasEveryKeyInBothLanguages) {
  ASSERT_GT(required.size(), 800u);
  for (const std::string& path : required) {
    auto [section, key] = Split(path);
    auto value = doc.Get(section, key);
    ASSERT_TRUE(value.has_value()) << path;
    if (key == "Count") {
      EXPECT_TRUE(platform::ParseInteger(*value).has_value()) << path;
      continue;
    }
    EXPECT_NE(value->find("//\\"), std::string::npos) << path;
    EXPECT_FALSE(ui::ReadLangStr(*value, "russian").empty()) << path;
    EXPECT_FALSE(ui::ReadLangStr(*value, "english").empty()) << path;
  }
}

TEST_F(ShippedFile, FormatTextsCarryExactlyTheirPlaceholders) {
  ASSERT_FALSE(formats.empty());
  for (const char* section :
       {"Header", "Menu", "Messages", "Strings", "Monitoring", "OpList", "Input1", "Input2", "Outs",
        "Device1Type", "Help", "StructBlocks", "DataTags", "StatusTags", "Diagnostic", "Errors"}) {
    for (const std::string& key : doc.Keys(section)) {
      const std::string value = *doc.Get(section, key);
      auto it = formats.find(std::string(section) + "/" + key);
      const std::string expected = it == formats.end() ? "" : it->second;
      for (const char* language : {"russian", "english"}) {
        EXPECT_EQ(Conversions(ui::ReadLangStr(value, language)), expected)
            << section << "/" << key << " " << language;
      }
    }
  }
}

TEST_F(ShippedFile, ListCountsMatchTheirItems) {
  const std::pair<const char*, const char*> lists[] = {
      {"OpList", "Op"}, {"Input1", "In"}, {"Input2", "In"}, {"Outs", "Out"}, {"Device1Type", "Dt"}};
  for (auto [section, prefix] : lists) {
    const long long count = platform::ParseInteger(doc.Get(section, "Count").value_or("")).value_or(-1);
    ASSERT_GT(count, 0) << section;
    for (long long i = 0; i < count; ++i) {
      EXPECT_TRUE(doc.Get(section, prefix + std::to_string(i)).has_value()) << section << " " << i;
    }
  }
  EXPECT_EQ(doc.Get("Device1Type", "Count"), std::optional<std::string>("4"));
}

TEST_F(ShippedFile, BlanksAtTheEndOfATextSurvive) {
  const std::string value = doc.Get("Monitoring", "Str20").value_or("");
  EXPECT_EQ(ui::FormatInt(ui::ReadLangStr(value, "english"), 1).back(), ' ');
}

}  // namespace
}  // namespace rlv

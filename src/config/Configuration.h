#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rlv::app {
class MainWindow;
}

namespace rlv::config {

class ConversionError;

constexpr size_t kRecordSize = 512;

// The two configuration records and the settings pages that are their working
// copy: the builds in both directions, the reset, and the pages' editing rules.
class Configuration {
 public:
  explicit Configuration(app::MainWindow& w) : w_(w) {}

  // Registers the change rules and editing rules of the settings pages.
  void BindControls();

  std::array<uint8_t, kRecordSize> ConfigBlock1{};
  std::array<uint8_t, kRecordSize> ConfigBlock2{};

  // Pages -> records. On a field that does not convert (or does not fit) the
  // build stops, the error is shown, and false is returned: nothing may then
  // be sent or saved.
  bool ReadConfigFromObjects();
  // Records -> pages.
  void WriteConfigToObjects();
  void Write_config();
  void Read_config();
  void Write_config2();
  void Read_config2();
  // The pages of a new, factory-style configuration.
  void Load_default();
  // The designed texts of the decimal edits are written with a comma; on a
  // system whose separator is another character they are rewritten with it.
  void LocalizeDesignedDecimals();

  // Editing rules.
  void OPERATORChange();
  void OUTTYPEChange();
  void RS485DEVICEChange();
  void CANBUSMODEChange();
  void TRACKTYPEChange();
  void PresetABChange();
  // Key learning: `text` is the key code of the latest navigation record.
  void AddKeyCodeToString(const std::string& text);
  void ModBusStrClear();
  void MCCMNCClear();

  // The structure tree from the language file, and its ticks.
  void ReadStructParamFromIni();
  void ItemCheckedToStruct();
  void StructToItemChecked();

  void AddToBlueList(int index, const std::string& name) {
    (void)index;
    (void)name;
  }

  bool KeyPresentLast = false;
  int CurrentPattern = 0;

  // Names the text that is not a number, in the current language.
  void ShowConversionError(const ConversionError& e);

 private:
  // The tag masks of the configuration last shown on the pages (read from the
  // tracker or a file; zero for the default). A tree without tags (no
  // language file) cannot say which tags the engineer wants, so a write then
  // keeps these instead of clearing the tracker's tag lists.
  std::array<uint8_t, 64> shown_tag_masks_{};
  char Separator() const;
  int32_t Int(const char* control) const;
  int32_t Tenths(const char* control) const;
  void WriteText(size_t offset, const std::string& text, size_t field_size, const char* field);
  void ShowInt(const char* control, long long value);
  void WriteModbus();
  void ReadModbus();

  app::MainWindow& w_;
};

}  // namespace rlv::config

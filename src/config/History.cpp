#include "config/History.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/MainWindow.h"
#include "platform/Paths.h"

namespace rlv::config {

namespace {
namespace fs = std::filesystem;

bool IsImei(const std::string& imei) {
  return imei.size() == 15 &&
         std::all_of(imei.begin(), imei.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "YYYYMMDD-HHMMSS.fcg", or with "-N" before the extension.
bool IsHistoryName(const std::string& name) {
  if (name.size() < 19 || name.compare(name.size() - 4, 4, ".fcg") != 0) return false;
  for (size_t i = 0; i < 15; ++i) {
    if (i == 8 ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) return false;
  }
  return true;
}

// Newest first: the names sort by time, and "-N" after the second's first file.
bool Newer(const std::string& a, const std::string& b) {
  const std::string sa = a.substr(0, 15), sb = b.substr(0, 15);
  if (sa != sb) return sa > sb;
  if (a.size() != b.size()) return a.size() > b.size();
  return a > b;
}
}  // namespace

void ConfigHistory::DeclareControls(ui::ControlModel& m) {
  m.Add("HistoryGroup", ui::Kind::GroupBox, "TabSheet1").SetText("История конфигураций прибора");
  m.Add("HistoryList", ui::Kind::ListBox, "HistoryGroup");
  m.Add("HistoryOpen", ui::Kind::Button, "HistoryGroup").SetText("Открыть");
  m.Add("HistoryCompare", ui::Kind::Button, "HistoryGroup").SetText("Сравнить с настройками");
  m.Add("HistoryWrite", ui::Kind::Button, "HistoryGroup").SetText("Записать в прибор");
  m.Add("HistoryDiff", ui::Kind::Memo, "HistoryGroup");
}

void ConfigHistory::BindHandlers() {
  ui::ControlModel& c = w_.controls;
  c.On("HistoryOpen", ui::Event::Click, [this](const ui::EventArgs&) { OpenClick(); });
  c.On("HistoryCompare", ui::Event::Click, [this](const ui::EventArgs&) { CompareClick(); });
  c.On("HistoryWrite", ui::Event::Click, [this](const ui::EventArgs&) { WriteBackClick(); });
}

std::string ConfigHistory::Folder(const std::string& imei) const {
  if (!IsImei(imei)) return {};
  return w_.DataPath(platform::JoinPath(kFolder, imei));
}

std::vector<std::string> ConfigHistory::Files(const std::string& imei) const {
  std::vector<std::string> names;
  const std::string folder = Folder(imei);
  if (folder.empty()) return names;
  std::error_code ec;
  for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    // UTF-8 on every system: on Windows string() would convert to the ANSI code page.
    const std::u8string utf8 = it->path().filename().u8string();
    const std::string name(utf8.begin(), utf8.end());
    if (IsHistoryName(name) && it->is_regular_file(ec)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), Newer);
  for (std::string& name : names) name = platform::JoinPath(folder, name);
  return names;
}

std::string ConfigHistory::Keep(const std::string& imei, const text::Records& records) {
  LastError.clear();
  const std::string folder = Folder(imei);
  if (folder.empty()) return {};
  const std::vector<uint8_t> content = text::ToConfigFile(records);
  const std::vector<std::string> kept = Files(imei);
  if (!kept.empty()) {
    const auto newest = w_.Files().Read(kept.front(), fcg::kReach);
    if (newest && *newest == content) return {};
  }
  std::error_code ec;
  fs::create_directories(fs::u8path(folder), ec);
  if (ec) {
    LastError = folder + ": " + ec.message();
    return {};
  }
  const platform::DateTime t = w_.plat.clock->LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::string path = platform::JoinPath(folder, std::string(stamp) + ".fcg");
  for (int n = 2; fs::exists(fs::u8path(path), ec); ++n)
    path = platform::JoinPath(folder, stamp + ("-" + std::to_string(n)) + ".fcg");
  std::string why;
  if (!w_.Files().Replace(path, content, &why)) {
    LastError = path + ": " + why;
    return {};
  }
  return path;
}

void ConfigHistory::KeepRead() {
  Keep(w_.transfer.TrackerImei, {w_.config.ConfigBlock1, w_.config.ConfigBlock2});
  if (!LastError.empty()) w_.ReportProblem(LastError);
  Refresh();
}

void ConfigHistory::Refresh() {
  listed_imei_ = w_.transfer.TrackerImei;
  listed_ = Files(listed_imei_);
  std::vector<std::string> items;
  for (const std::string& path : listed_) items.push_back(path.substr(path.find_last_of("/\\") + 1));
  w_.controls["HistoryList"].SetItems(items);
}

std::string ConfigHistory::Selected() const {
  const int index = w_.controls["HistoryList"].Index();
  if (index < 0 || static_cast<size_t>(index) >= listed_.size()) return {};
  return listed_[static_cast<size_t>(index)];
}

void ConfigHistory::OpenClick() {
  const std::string path = Selected();
  if (!path.empty()) w_.transfer.OpenFromFile(path);
}

void ConfigHistory::CompareClick() {
  const std::string path = Selected();
  ui::Control& out = w_.controls["HistoryDiff"];
  if (path.empty()) {
    return out.SetText(
        w_.messages.GetStringOr("Window", "SelectHistory", "Выберите в списке конфигурацию для сравнения"));
  }
  std::string why;
  const auto content = w_.Files().Read(path, fcg::kReach, &why);
  if (!content) return out.SetText(path + ": " + (why.empty() ? "no such file" : why));
  // The pages as a write would build them.
  if (!w_.config.ReadConfigFromObjects()) return;
  try {
    const auto differences =
        text::Diff(text::FromFileContent(*content), {w_.config.ConfigBlock1, w_.config.ConfigBlock2});
    std::string lines;
    for (const auto& d : differences) {
      if (d.key != "additional.WRITETIME") lines += text::FormatDifference(d) + "\n";
    }
    out.SetText(lines.empty() ? w_.messages.GetStringOr("Window", "NoDifferences", "Различий нет") : lines);
  } catch (const text::ImportError& e) {
    out.SetText(path + ": " + e.what());
  }
}

void ConfigHistory::WriteBackClick() {
  const std::string path = Selected();
  if (path.empty() || !w_.transfer.OpenFromFile(path)) return;
  w_.transfer.LoadToDevice();
}

}  // namespace rlv::config

#include "ui/HelpEditor.h"

#include "app/MainWindow.h"
#include "platform/IniFile.h"
#include "ui/MainControls.h"

namespace rlv::ui {

namespace {

// A value the INI service gives back exactly as written: surrounding blanks,
// or a pair of surrounding quotes, are kept by quoting the whole value.
std::string IniValue(const std::string& value) {
  if (value.empty()) return value;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (blank(value.front()) || blank(value.back()) || quoted) return '"' + value + '"';
  return value;
}

}  // namespace

std::string HelpEditor::EncodeLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    if (ch == '\r') continue;
    if (ch == '\n') {
      out += "\\n";
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::string HelpEditor::DecodeLineBreaks(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'n') {
      out.push_back('\n');
      ++i;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

void HelpEditor::DeclareControls(ControlModel& m) {
  Control& form = m.Add(kForm, Kind::Window, "");
  form.SetGeometry({0, 0, kWidth, kHeight});
  form.SetColor(Rgb(255, 255, 255));
  form.SetVisible(false);

  Control& title = m.Add(kTitle, Kind::Panel, kForm);
  title.SetGeometry({0, 0, kWidth, 18});
  title.SetColor(kFrameColor);
  m.Add(kCloseImage, Kind::Image, kTitle).SetGeometry({kWidth - 20, 1, 16, 16});

  Control& row = m.Add(kCaptionRow, Kind::Panel, kForm);
  row.SetGeometry({2, 18, kWidth - 4, kCaptionRowHeight});
  Control& caption = m.Add(kCaptionLabel, Kind::Label, kCaptionRow);
  caption.SetText("Caption");
  caption.SetGeometry({8, 6, 50, 13});
  m.Add(kCaptionEdit, Kind::Edit, kCaptionRow).SetGeometry({64, 2, kWidth - 76, 21});

  Control& label = m.Add(kTextLabel, Kind::Label, kForm);
  label.SetText("Текст справки");
  label.SetGeometry({8, 46, 100, 13});
  m.Add(kMemo, Kind::Memo, kForm).SetGeometry({8, 62, kWidth - 16, 132});
  Control& ok = m.Add(kOkButton, Kind::Button, kForm);
  ok.SetText("OK");
  ok.SetGeometry({(kWidth - 75) / 2, 201, 75, 25});
}

void HelpEditor::BindHandlers() {
  w_.controls.On(kOkButton, Event::Click, [this](const EventArgs&) { Button1Click(); });
  w_.controls.On(kCloseImage, Event::Click, [this](const EventArgs&) { CloseImageClick(); });
}

void HelpEditor::ShowModal() {
  if (open_) return;
  const std::string& key = w_.shell.HelpKey;
  if (key.empty()) return;
  key_ = key;
  caption_ = w_.shell.HelpCaption;

  ControlModel& c = w_.controls;
  // Centred over the main window.
  const Rect& main = c["MainForm"].Geometry();
  c[kForm].SetGeometry(
      {main.left + (main.width - kWidth) / 2, main.top + (main.height - kHeight) / 2, kWidth, kHeight});
  FormShow();
  open_ = true;
  c[kForm].SetVisible(true);
  // Modal: the main window takes no input until the editor closes.
  c["MainForm"].SetEnabled(false);
  c.SetFocus(kMemo);
}

void HelpEditor::FormShow() {
  ControlModel& c = w_.controls;
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  const auto raw = [&](std::string_view section, const std::string& key) -> std::optional<std::string> {
    return doc ? doc->Get(section, key) : std::nullopt;
  };

  c[kMemo].SetText(DecodeLineBreaks(raw("Help", key_).value_or(key_)));

  if (caption_.empty()) {
    c[kCaptionRow].SetSize(c[kCaptionRow].Geometry().width, kCollapsedRowHeight);
    c[kCaptionEdit].SetText("");
    return;
  }
  c[kCaptionRow].SetSize(c[kCaptionRow].Geometry().width, kCaptionRowHeight);
  HelpCaptionIndex = -1;
  // The caption as displayed is compared with each [Strings] text in the
  // current language; the first equal one is edited in both languages.
  for (int i = 0; i < kStringKeys; ++i) {
    const std::string key = "Str" + std::to_string(i);
    const auto value = raw("Strings", key);
    if (w_.messages.ReadLangStr(value.value_or("")) != caption_) continue;
    c[kCaptionEdit].SetText(value.value_or(caption_));
    HelpCaptionIndex = i;
    break;
  }
}

void HelpEditor::Button1Click() {
  if (!open_) return;
  ControlModel& c = w_.controls;
  platform::IniDocument doc = w_.messages.LoadLanguageFile().value_or(platform::IniDocument{});
  doc.Set("Help", key_, IniValue(EncodeLineBreaks(c[kMemo].Text())));
  if (!caption_.empty() && HelpCaptionIndex != -1) {
    doc.Set("Strings", "Str" + std::to_string(HelpCaptionIndex),
            IniValue(EncodeLineBreaks(c[kCaptionEdit].Text())));
  }
  // The whole file is replaced at once; a failed write leaves it as it was.
  if (!w_.plat.ini->Store(w_.messages.LanguagePath(), doc)) {
    if (w_.plat.dialogs != nullptr) w_.plat.dialogs->ShowMessage(w_.messages.GetMessageA(kMsgSaveFailed));
    return;
  }
  w_.messages.LanguageFileWritten(doc);
  Close();
}

void HelpEditor::CloseImageClick() {
  Close();
}

void HelpEditor::Close() {
  if (!open_) return;
  open_ = false;
  w_.controls[kForm].SetVisible(false);
  w_.controls["MainForm"].SetEnabled(true);
}

}  // namespace rlv::ui

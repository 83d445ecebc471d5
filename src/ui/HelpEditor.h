#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

class ControlModel;

// The help editor: a second window in which a translator changes the help text
// of a control and its caption in the language file. It is declared hidden at
// program start and shown only modally, for the control the mouse last moved
// over in the main window.
//
// Its controls share the model's one namespace with the main window, whose
// settings and remote pages have their own Label1, Label2 and Button1 and whose
// title bar has its own CloseImage. The editor's are therefore named:
//   HelpForm             the window (598 x 234)
//   HelpFormTitle        the title strip, holding HelpFormCloseImage
//   Panel7               the caption row: HelpFormLabel2 ("Caption") and Edit1
//   HelpFormLabel1       "Текст справки"
//   Memo1                the help text
//   HelpFormButton1      "OK"
class HelpEditor {
 public:
  static constexpr const char* kForm = "HelpForm";
  static constexpr const char* kTitle = "HelpFormTitle";
  static constexpr const char* kCloseImage = "HelpFormCloseImage";
  static constexpr const char* kCaptionRow = "Panel7";
  static constexpr const char* kCaptionLabel = "HelpFormLabel2";
  static constexpr const char* kCaptionEdit = "Edit1";
  static constexpr const char* kTextLabel = "HelpFormLabel1";
  static constexpr const char* kMemo = "Memo1";
  static constexpr const char* kOkButton = "HelpFormButton1";
  static constexpr int kWidth = 598;
  static constexpr int kHeight = 234;
  static constexpr int kCaptionRowHeight = 25;
  static constexpr int kCollapsedRowHeight = 1;
  // [Strings] keys Str0 .. Str(kStringKeys - 1) are searched for the caption.
  static constexpr int kStringKeys = 500;
  // Message shown when the language file cannot be written.
  static constexpr int kMsgSaveFailed = 46;

  explicit HelpEditor(app::MainWindow& w) : w_(w) {}

  // Declares the editor's window and controls, hidden.
  static void DeclareControls(ControlModel& model);
  void BindHandlers();

  // Opens the editor modally for the main window's HelpKey. Nothing happens
  // while it is open already, or before the mouse has moved over a control.
  void ShowModal();
  // Fills the editor for the control being edited (run by ShowModal).
  void FormShow();
  // "OK": writes the help text, and the caption when it matched a [Strings]
  // key, then closes. When the language file cannot be written the editor
  // stays open and the failure is reported.
  void Button1Click();
  // The editor's close button: closes without writing.
  void CloseImageClick();

  bool IsOpen() const { return open_; }
  // True while the editor is shown modally (it is never shown otherwise).
  bool IsModal() const { return open_; }

  // The [Strings] key number that the caption matched, -1 if none.
  int32_t HelpCaptionIndex = -1;

  // A language-file value is one line: line breaks of the memo are stored as
  // the two characters "\n" (carriage returns are dropped) and shown back as
  // line breaks.
  static std::string EncodeLineBreaks(std::string_view text);
  static std::string DecodeLineBreaks(std::string_view value);

 private:
  void Close();

  app::MainWindow& w_;
  bool open_ = false;
  // The control being edited and its caption, as they were when the editor opened.
  std::string key_;
  std::string caption_;
};

}  // namespace rlv::ui

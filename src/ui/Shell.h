#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

class Control;

// The main window's own behaviour: page switching, the picture-button menu and
// its feedback, the title bar, the help line, the tracker password exchange,
// the confirmation question, copying the IMEI and the layout steps of the
// window's first showing.
class Shell {
 public:
  static constexpr int kPageCount = 7;
  static constexpr int kFirmwarePage = 4;
  static constexpr int kMenuButtonCount = 11;
  static constexpr int kMenuButtonSize = 48;
  static constexpr int kMenuButtonHoverSize = 50;

  // Operations the tracker may refuse for want of a password (LastOperation).
  static constexpr int32_t kNoOperation = -1;
  static constexpr int32_t kOpReadConfig = 10;
  static constexpr int32_t kOpWriteConfig = 20;
  static constexpr int32_t kOpRestart = 40;
  static constexpr int32_t kOpDeleteTrack = 50;
  // What the confirmation question confirms (ConfirmAction).
  static constexpr int32_t kConfirmDeleteTrack = 1;

  static constexpr uint8_t kCmdPassword = 37;
  static constexpr uint8_t kCmdDeleteTrack = 38;
  static constexpr int kMsgPasswordRejected = 42;
  static constexpr int kMsgPasswordAccepted = 43;
  // The text that pre-fills the password prompt.
  static constexpr const char* kDefaultPassword = "0";
  static constexpr const char* kAskPasswordText = "Введите пароль";
  static constexpr const char* kConfirmText = "Вы действительно хотите выполнить данную операцию!";

  // Message panel pages.
  static constexpr int kMesPagePassword = 1;
  static constexpr int kMesPageConfirm = 2;

  // Requests to the front end that draws the frameless window.
  enum class WindowRequest { Move, Minimize, Close };

  explicit Shell(app::MainWindow& w) : w_(w) {}

  // Registers the handlers of the menu, the title bar, the password prompt, the
  // confirmation question and the IMEI copy.
  void BindHandlers();
  // Binds the help line to the mouse movement of every control of
  // HelpLineControls(); a name declared later is served as soon as it exists.
  void BindHelpLine();
  // The controls that explain themselves on the help line, each a [Help] key.
  static std::span<const std::string_view> HelpLineControls();

  // Shows page `index` of the main page control; an index outside the pages shows none.
  void SelectPage(int index);

  // The menu.
  void LoadMenuImages();
  void MenuImageClick(int tag);
  void MImageMouseMove(const std::string& name);
  void MImageMouseLeave(const std::string& name);
  void MImageMouseDown(const std::string& name);

  // The title bar. Moving, minimising and closing the window are requests the
  // front end carries out; the close also runs the window's closing steps.
  void Panel9MouseDown();
  void Panel9DblClick() {}
  void MinzImageClick();
  void CloseImageClick();
  // Called with every request, when set.
  std::function<void(WindowRequest)> OnWindowRequest;
  bool MoveRequested = false;
  bool MinimizeRequested = false;
  bool CloseRequested = false;

  // The help line for the control the mouse moves over.
  void MouseMoveHelp(const std::string& name);
  // The caption the help editor offers for a control: the text of captioned
  // kinds (labels, buttons, check boxes, group boxes, panels, pages, ...),
  // empty for edits, pictures, grids, memos and the like.
  static std::string CaptionOf(const Control& control);

  // The password exchange: '?' the tracker wants a password, '1' it accepted
  // the one sent, '0' it rejected it. Other codes do nothing.
  void GetPassword(char code);
  void PassButOKClick();
  void PassEditKeyPress(int ch);
  void RepeatUserOperation();
  // "Отмена" of the prompt and "Нет" of the question: hides the message panel.
  void Button2Click();

  // The confirmation question of the track deletion.
  void DeleteTrackClick();
  void Button3Click();

  void CopyIMEIClick();

  // Layout steps of the window's first showing: the overlay panels centred and
  // the fixed panels placed; the grid headings; the news panel placed.
  void PlaceOverlayPanels();
  void SetGridHeadings();
  void PlaceNewsPanel();

  // The last operation the tracker may refuse for want of a password.
  int32_t LastOperation = kNoOperation;
  int32_t ConfirmAction = 0;
  // The control the mouse last moved over, and its caption (empty for kinds
  // without one).
  std::string HelpKey;
  std::string HelpCaption;
  // Set once the menu pictures are in place.
  bool MenuImagesLoaded = false;

 private:
  void Request(WindowRequest request);
  void SendPassword(uint16_t password);
  // The connected tracker's IMEI, the key of its remembered password.
  const std::string& Imei() const;
  void ShowMessageNumber(int number);
  // While the help editor is open the main window takes no input.
  bool InputBlocked() const;

  app::MainWindow& w_;
};

// Converts the text of the password prompt: a decimal integer in the signed
// 32-bit range, blanks around it allowed; nullopt for any other text.
std::optional<int32_t> ParsePasswordText(std::string_view text);

}  // namespace rlv::ui

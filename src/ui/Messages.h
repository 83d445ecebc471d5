#pragma once

#include <string>

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

// Formats a message text that carries one integer placeholder (%d, %i or %u;
// "%%" is a percent sign). Any other conversion is shown literally, so a text
// from the language file can never read arguments that are not there.
std::string FormatInt(const std::string& format, long long value);

// The message catalogue and the message panel.
class Messages {
 public:
  explicit Messages(app::MainWindow& w) : w_(w) {}

  // The text of message `number`; "Message" followed by the number when the
  // catalogue has no text for it.
  std::string GetMessageA(int number) const;
  // Shows `text` on page 0 of the message panel.
  void MessageShow(const std::string& text);
  void OKMESClick();

 private:
  app::MainWindow& w_;
};

}  // namespace rlv::ui

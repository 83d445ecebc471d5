#pragma once

// The platform's dialogs and clipboard for the window: Qt file dialogs, the
// Yes/No confirmation box, the text message box and the system clipboard.

#include <QString>
#include <optional>
#include <string>

#include "platform/Dialogs.h"

class QWidget;

namespace rlv::qtw {

// Turns a filter written as "Config files (*.fcg)|*.fcg|All files|*.*" into
// Qt's "Config files (*.fcg);;All files (*.*)".
QString ToQtFilter(const std::string& filter);

class QtDialogs : public platform::IDialogs, public platform::IClipboard {
 public:
  std::optional<std::string> OpenFile(const std::string& filter) override;
  std::optional<std::string> SaveFile(const std::string& filter, const std::string& default_ext,
                                      const std::string& suggested_path) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;

 private:
  // The window the dialogs belong to: the active modal window, else the active one.
  static QWidget* Owner();
};

}  // namespace rlv::qtw

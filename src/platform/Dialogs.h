#pragma once

#include <optional>
#include <string>

namespace rlv::platform {

// Modal dialogs of the platform. Each call returns when the user has answered.
class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // `filter` reads like "Config files (*.fcg)|*.fcg". Cancel gives nullopt.
  virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
  // `suggested_path` is the file the dialog starts on (its folder and name).
  virtual std::optional<std::string> SaveFile(const std::string& filter, const std::string& default_ext,
                                              const std::string& suggested_path) = 0;
  // The Yes/No confirmation box: true for Yes.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // The text message box.
  virtual void ShowMessage(const std::string& text) = 0;
};

class IClipboard {
 public:
  virtual ~IClipboard() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
};

}  // namespace rlv::platform

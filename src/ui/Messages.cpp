#include "ui/Messages.h"

#include "app/MainWindow.h"

namespace rlv::ui {

std::string FormatInt(const std::string& format, long long value) {
  std::string out;
  bool used = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    const char conv = format[i + 1];
    if (conv == '%') {
      out.push_back('%');
      ++i;
    } else if (!used && (conv == 'd' || conv == 'i' || conv == 'u')) {
      out += std::to_string(value);
      used = true;
      ++i;
    } else {
      out.push_back('%');
    }
  }
  return out;
}

std::string Messages::GetMessageA(int number) const {
  return "Message" + std::to_string(number);
}

void Messages::MessageShow(const std::string& text) {
  ControlModel& c = w_.controls;
  c["PageControlMes"].SetIndex(0);
  c["MESLABEL"].SetText(text);
  c["MESPANEL"].SetVisible(true);
  c.SetFocus("OKMES");
}

void Messages::OKMESClick() {
  w_.controls["MESPANEL"].SetVisible(false);
}

}  // namespace rlv::ui

#pragma once

#include <cstdint>

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

// The main window's page switching and the tracker password exchange.
class Shell {
 public:
  static constexpr int kPageCount = 7;

  explicit Shell(app::MainWindow& w) : w_(w) {}

  // Shows page `index` of the main page control; an index outside the pages shows none.
  void SelectPage(int index);
  // The tracker's answer about a password: '?' asks for one, '1' accepted, '0' rejected.
  // The prompt and the repeat of the refused operation are not built yet.
  void GetPassword(char code);

  // The last operation the tracker may refuse for want of a password (-1: none).
  int32_t LastOperation = -1;
  int32_t ConfirmAction = 0;

 private:
  app::MainWindow& w_;
};

}  // namespace rlv::ui

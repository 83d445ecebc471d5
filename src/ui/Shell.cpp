#include "ui/Shell.h"

#include "app/MainWindow.h"

namespace rlv::ui {

void Shell::SelectPage(int index) {
  if (index < 0 || index >= kPageCount) index = -1;
  w_.controls["RzPageControl1"].SetIndex(index);
}

void Shell::GetPassword(char code) {
  (void)code;
}

}  // namespace rlv::ui

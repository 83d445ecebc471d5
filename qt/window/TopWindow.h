#pragma once

// The top-level windows of the model: the frameless main window, whose client
// area sits inside a two-pixel frame, and the secondary (modal) windows, which
// are framed in the same colour around their own area.

#include <QColor>
#include <QWidget>
#include <functional>

namespace rlv::qtw {

class TopWindow : public QWidget {
 public:
  static constexpr int kMainFrameWidth = 2;

  // `main`: the main window (client inset by the frame); otherwise a secondary
  // window whose children share its area with the frame.
  explicit TopWindow(bool main, QWidget* owner = nullptr);

  bool IsMain() const { return main_; }
  QWidget* Client() const { return client_; }
  void SetClientSize(QSize size);
  void SetFrameColor(const QColor& color);
  void SetClientColor(const QColor& color);

  // Asked before the window closes.
  std::function<void()> on_close;
  // Escape in a secondary window.
  std::function<void()> on_escape;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool main_;
  QWidget* client_;
  QColor frame_;
};

}  // namespace rlv::qtw

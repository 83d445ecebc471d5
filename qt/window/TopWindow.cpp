#include "TopWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

namespace rlv::qtw {

TopWindow::TopWindow(bool main, QWidget* owner)
    : QWidget(owner, (main ? Qt::Window : Qt::Dialog) | Qt::FramelessWindowHint),
      main_(main),
      frame_(62, 98, 170) {
  if (main_) {
    client_ = new QWidget(this);
    client_->move(kMainFrameWidth, kMainFrameWidth);
    client_->setAutoFillBackground(true);
  } else {
    client_ = this;
  }
  setAutoFillBackground(false);
}

void TopWindow::SetClientSize(QSize size) {
  if (main_) {
    client_->resize(size);
    setFixedSize(size + QSize(2 * kMainFrameWidth, 2 * kMainFrameWidth));
  } else {
    setFixedSize(size);
  }
}

void TopWindow::SetFrameColor(const QColor& color) {
  frame_ = color;
  update();
}

void TopWindow::SetClientColor(const QColor& color) {
  QPalette palette = client_->palette();
  palette.setColor(QPalette::Window, color);
  client_->setPalette(palette);
  update();
}

void TopWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!main_) painter.fillRect(rect(), palette().color(QPalette::Window));
  const int w = kMainFrameWidth;
  painter.fillRect(QRect(0, 0, width(), w), frame_);
  painter.fillRect(QRect(0, height() - w, width(), w), frame_);
  painter.fillRect(QRect(0, 0, w, height()), frame_);
  painter.fillRect(QRect(width() - w, 0, w, height()), frame_);
}

void TopWindow::closeEvent(QCloseEvent* event) {
  if (on_close) on_close();
  event->accept();
}

void TopWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && on_escape) {
    on_escape();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace rlv::qtw

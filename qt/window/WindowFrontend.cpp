#include "WindowFrontend.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

#include "ModelRenderer.h"
#include "QtDialogs.h"
#include "QtPlatform.h"

namespace rlv::qtw {

WindowFrontend::WindowFrontend(qtp::QtPlatform& qt_platform, app::Options options,
                               platform::IDialogs* dialogs, platform::IClipboard* clipboard)
    : qt_(qt_platform), qt_dialogs_(std::make_unique<QtDialogs>()), platform_(qt_platform.Services()) {
  // One look on every desktop: Qt's own style and a compact font.
  QApplication::setStyle("Fusion");
  QFont font = QApplication::font();
  font.setPixelSize(12);
  QApplication::setFont(font);
  platform_.dialogs = dialogs != nullptr ? dialogs : qt_dialogs_.get();
  platform_.clipboard = clipboard != nullptr ? clipboard : qt_dialogs_.get();
  platform_.locale = &locale_;
  trace_ = std::make_unique<bundle::TracingSerialPort>(*platform_.serial);
  platform_.serial = trace_.get();
  window_ = std::make_unique<app::MainWindow>(platform_, std::move(options));
  renderer_ = std::make_unique<ModelRenderer>(window_->controls);
  renderer_->Build();
  renderer_->SetCloseHandler([this] {
    if (!window_->Closed()) window_->FormClose();
  });
  qt_.hotkeys.SetBindingsChanged([this] { UpdateShortcuts(); });
  UpdateShortcuts();
}

WindowFrontend::~WindowFrontend() {
  qt_.hotkeys.SetBindingsChanged(nullptr);
  shortcuts_.clear();  // children of the frame, deleted with it
  renderer_.reset();
  window_.reset();
}

QWidget* WindowFrontend::Frame() const {
  return renderer_->MainFrame();
}

void WindowFrontend::Open() {
  if (opened_) return;
  opened_ = true;
  window_->FormCreate();
  renderer_->Flush();
  QWidget* frame = Frame();
  if (frame != nullptr) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      frame->move(area.center() - QPoint(frame->width() / 2, frame->height() / 2));
    }
    frame->show();
  }
  window_->FormShow();
  renderer_->Flush();
}

int WindowFrontend::Run() {
  Open();
  QApplication::exec();
  if (!window_->Closed()) window_->FormClose();
  window_->FormDestroy();
  return 0;
}

void WindowFrontend::UpdateShortcuts() {
  for (QShortcut* shortcut : shortcuts_) delete shortcut;
  shortcuts_.clear();
  QWidget* frame = Frame();
  if (frame == nullptr) return;
  for (const auto& [id, binding] : qt_.hotkeys.Bindings()) {
    int key = 0;
    if (binding.key >= 'A' && binding.key <= 'Z') key = Qt::Key_A + (binding.key - 'A');
    if (binding.key >= 'a' && binding.key <= 'z') key = Qt::Key_A + (binding.key - 'a');
    if (binding.key >= '0' && binding.key <= '9') key = Qt::Key_0 + (binding.key - '0');
    if (key == 0) continue;
    Qt::KeyboardModifiers modifiers;
    if ((binding.modifiers & platform::kModAlt) != 0) modifiers |= Qt::AltModifier;
    if ((binding.modifiers & platform::kModControl) != 0) modifiers |= Qt::ControlModifier;
    if ((binding.modifiers & platform::kModShift) != 0) modifiers |= Qt::ShiftModifier;
    auto* shortcut =
        new QShortcut(QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key))), frame);
    shortcut->setContext(Qt::ApplicationShortcut);
    const int hot_key = id;
    QObject::connect(shortcut, &QShortcut::activated, frame,
                     [this, hot_key] { qt_.hotkeys.Trigger(hot_key); });
    shortcuts_.push_back(shortcut);
  }
}

}  // namespace rlv::qtw

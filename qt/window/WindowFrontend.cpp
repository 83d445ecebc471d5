#include "WindowFrontend.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "ModelRenderer.h"
#include "QtDialogs.h"
#include "QtPlatform.h"

namespace rlv::qtw {

namespace {

// Calls `painted` once, from the event loop, after the first paint of the
// widget it watches.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(std::function<void()> painted) : painted_(std::move(painted)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      watched->removeEventFilter(this);
      QTimer::singleShot(0, this, painted_);
    }
    return false;
  }

 private:
  std::function<void()> painted_;
  bool seen_ = false;
};

// Should the window never be painted (shown on no screen), the rest of the
// start-up runs after this long all the same.
constexpr int kFirstPaintFallbackMs = 1000;

}  // namespace

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
    paint_watch_ = std::make_unique<PaintWatch>([this] { FirstPainted(); });
    frame->installEventFilter(paint_watch_.get());
    QTimer::singleShot(kFirstPaintFallbackMs, paint_watch_.get(), [this] { FirstPainted(); });
    frame->show();
  }
  window_->FormShow();
  renderer_->Flush();
  if (frame == nullptr) FirstPainted();
}

void WindowFrontend::FirstPainted() {
  if (painted_) return;
  painted_ = true;
  if (!qEnvironmentVariableIsEmpty("RLVEXA_EXIT_AFTER_FIRST_PAINT")) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    std::printf("first paint: %.6f processor %.6f\n", std::chrono::duration<double>(now).count(),
                static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9);
    std::fflush(stdout);
    QCoreApplication::quit();
    return;
  }
  window_->AfterFirstPaint();
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

#include "HeadlessFrontend.h"

#include <QCoreApplication>
#include <cstdio>
#include <string_view>

#include "QtPlatform.h"

#ifdef _WIN32
#include <io.h>

#include <iostream>
#include <mutex>
#include <thread>
#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#endif

namespace rlv::qtp {

namespace {

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

#ifdef _WIN32
// The console reader thread hands lines to the front end that is alive, if any.
std::mutex g_reader_mutex;
HeadlessFrontend* g_reader_target = nullptr;
#else
// SIGINT, SIGTERM and SIGHUP close the window as "quit" would, through a pipe watched by
// the event loop.
int g_signal_pipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}
#endif

}  // namespace

HeadlessFrontend::HeadlessFrontend(QtPlatform& qt_platform, app::Options options)
    : platform_(qt_platform.Services()) {
  platform_.dialogs = &dialogs_;
  platform_.clipboard = &dialogs_;
  platform_.locale = &locale_;
  window_ = std::make_unique<app::MainWindow>(platform_, std::move(options));
  automation_ = std::make_unique<ui::Automation>(*window_, *platform_.loop, dialogs_);
}

HeadlessFrontend::~HeadlessFrontend() {
  StopInput();
  automation_.reset();
  window_.reset();
}

int HeadlessFrontend::Run() {
  window_->FormCreate();
  window_->FormShow();
  window_->AfterFirstPaint();
#ifdef _WIN32
  prompt_ = _isatty(_fileno(stdin)) != 0;
#else
  prompt_ = isatty(STDIN_FILENO) != 0;
#endif
  StartInput();
  Prompt();
  QCoreApplication::exec();
  StopInput();
  // The end of input and "quit" have closed the window; a signal may not have.
  if (!window_->Closed()) window_->FormClose();
  window_->FormDestroy();
  // A run that never reached a tracker because a port could not be opened for
  // lack of permission ends with its own status, for scripts.
  if (window_->discovery.CurrentTrouble() == link::PortDiscovery::Trouble::AccessDenied) {
    std::fprintf(stderr, "no tracker reached: a serial port could not be opened for lack of permission\n");
    return kExitAccessDenied;
  }
  return 0;
}

void HeadlessFrontend::Answer(const std::string& line) {
  WriteAnswer(automation_->Execute(line));
}

void HeadlessFrontend::WriteAnswer(std::string answer) {
  // One line per command, whatever the interpreter returned.
  for (size_t at = answer.find('\n'); at != std::string::npos; at = answer.find('\n', at + 2))
    answer.replace(at, 1, "\\n");
  answer.push_back('\n');
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  std::fflush(stdout);
}

void HeadlessFrontend::OnInput(std::string_view text, bool eof) {
  lines_.Feed(text, pending_);
  if (eof) {
    lines_.Finish(pending_);
    eof_ = true;
  }
  ProcessPending();
}

void HeadlessFrontend::ProcessPending() {
  // Commands such as "wait" run a nested event loop; input read meanwhile
  // waits its turn.
  if (busy_ || finishing_) return;
  busy_ = true;
#ifndef _WIN32
  if (notifier_) notifier_->setEnabled(false);
#endif
  bool consumed = false;
  while (!pending_.empty() && !finishing_ && !automation_->Finished() && !window_->Closed()) {
    ui::CommandLines::Line line = std::move(pending_.front());
    pending_.pop_front();
    consumed = true;
    if (line.too_long) {
      WriteAnswer(ui::CommandLines::TooLongAnswer());
      continue;
    }
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    if (IsBlank(line.text)) continue;
    Answer(line.text);
  }
  busy_ = false;
  if (finishing_) return;
  if (automation_->Finished() || window_->Closed()) {
    // "quit", or the window closed by its own close button.
    Finish();
    return;
  }
  if (eof_) {
    // The end of input closes the window as "quit" does.
    Answer("quit");
    Finish();
    return;
  }
  // Ready for the next command; a part of a line read meanwhile asks for nothing.
  if (consumed) Prompt();
#ifndef _WIN32
  if (notifier_) notifier_->setEnabled(true);
#endif
}

void HeadlessFrontend::Prompt() {
  if (!prompt_ || finishing_) return;
  std::fputs("rlvexa> ", stdout);
  std::fflush(stdout);
}

void HeadlessFrontend::Finish() {
  if (finishing_) return;
  finishing_ = true;
  StopInput();
  QCoreApplication::exit(0);
}

#ifdef _WIN32

void HeadlessFrontend::StartInput() {
  {
    std::lock_guard<std::mutex> lock(g_reader_mutex);
    g_reader_target = this;
  }
  // The console gives no event to wait on: a reader thread blocks on it and
  // posts each line to the event loop. It is left blocked at exit.
  std::thread([] {
    const auto post = [](std::string text, bool eof) {
      std::lock_guard<std::mutex> lock(g_reader_mutex);
      if (g_reader_target == nullptr || QCoreApplication::instance() == nullptr) return false;
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [text = std::move(text), eof] {
            HeadlessFrontend* target = nullptr;
            {
              std::lock_guard<std::mutex> inner(g_reader_mutex);
              target = g_reader_target;
            }
            if (target != nullptr) target->OnInput(text, eof);
          },
          Qt::QueuedConnection);
      return true;
    };
    // Read in bounded pieces: a line of any length is handed over as it
    // arrives, not collected here first.
    char piece[4096];
    for (;;) {
      std::cin.getline(piece, sizeof piece);
      const auto got = static_cast<size_t>(std::cin.gcount());
      if (std::cin.bad()) break;
      if (std::cin.eof()) {
        // The last line had no line break.
        if (got > 0 && !post(std::string(piece, got), false)) return;
        break;
      }
      if (std::cin.fail()) {
        // The piece is full and the line goes on.
        std::cin.clear();
        if (!post(std::string(piece, got), false)) return;
        continue;
      }
      // `got` counts the line break, which getline does not store.
      if (!post(std::string(piece, got - 1) + "\n", false)) return;
    }
    post(std::string(), true);
  }).detach();
}

void HeadlessFrontend::StopInput() {
  std::lock_guard<std::mutex> lock(g_reader_mutex);
  if (g_reader_target == this) g_reader_target = nullptr;
}

#else

void HeadlessFrontend::StartInput() {
  if (notifier_) return;
  if (fcntl(STDIN_FILENO, F_GETFD) == -1) {
    // No standard input at all: as if it had ended.
    QMetaObject::invokeMethod(
        &context_, [this] { OnInput(std::string(), true); }, Qt::QueuedConnection);
    return;
  }
  notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &context_);
  QObject::connect(notifier_, &QSocketNotifier::activated, &context_, [this] { OnStdinReadable(); });

  if (g_signal_pipe[0] < 0 && pipe(g_signal_pipe) == 0) {
    for (int fd : g_signal_pipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnTerminateSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // the terminal was closed
    auto* signal_notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &context_);
    QObject::connect(signal_notifier, &QSocketNotifier::activated, &context_, [this] {
      char bytes[16];
      [[maybe_unused]] const ssize_t ignored = read(g_signal_pipe[0], bytes, sizeof bytes);
      std::fprintf(stderr, "terminated by signal\n");
      // Close the window now (a command may be running its nested loop) and
      // leave every event loop.
      if (!window_->Closed()) window_->FormClose();
      Finish();
    });
  }
}

void HeadlessFrontend::StopInput() {
  if (!notifier_) return;
  // Possibly called from the notifier's own signal: deleted afterwards, or
  // with its parent.
  notifier_->setEnabled(false);
  notifier_->deleteLater();
  notifier_ = nullptr;
}

void HeadlessFrontend::OnStdinReadable() {
  char buffer[65536];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    OnInput(std::string_view(), true);
    return;
  }
  OnInput(std::string_view(buffer, static_cast<size_t>(n)), false);
}

#endif

}  // namespace rlv::qtp

// Linux and macOS: signals and the standard streams.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "ProcessSignals.h"

namespace rlv::qtp {

namespace {

int g_window_signal_pipe[2] = {-1, -1};

void OnWindowSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(g_window_signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void CloseWindowOnSignals(QObject* context) {
  if (pipe(g_window_signal_pipe) != 0) return;
  for (int fd : g_window_signal_pipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(g_window_signal_pipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = OnWindowSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // the terminal was closed
  auto* notifier = new QSocketNotifier(g_window_signal_pipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
    char bytes[16];
    [[maybe_unused]] const ssize_t ignored = read(g_window_signal_pipe[0], bytes, sizeof bytes);
    std::fprintf(stderr, "terminated by signal\n");
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
  });
}

void PrepareProcess() {
  // A reader that goes away must not kill the program in the middle of its close steps.
  std::signal(SIGPIPE, SIG_IGN);
  // Closed standard streams read as empty and swallow output; otherwise the
  // first descriptors the program opens would take their numbers.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1) {
      const int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (null_fd >= 0 && null_fd != fd) {
        dup2(null_fd, fd);
        close(null_fd);
      }
    }
  }
}

}  // namespace rlv::qtp

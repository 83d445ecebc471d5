// Page switches of the window, offscreen, against the demo tracker: every page
// of the main page area is selected in turn, ROUNDS times, and each switch is
// timed from the selection to the frame painted (the model's change applied,
// the layouts run, the window painted). Prints the median and the maximum per
// page, the median processor time of the switch (the same without the time the
// machine gave to other programs), and a last line with the largest of them.
// Goal: every switch within one frame at 60 Hz (16 ms).
//
// usage: rlvexa-page-switch-bench [ROUNDS]

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "DemoWindow.h"
#include "ModelRenderer.h"

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  rlv::qtw::DemoWindow demo;
  rlv::qtw::WindowFrontend& front = *demo.front;
  rlv::qtp::QtPlatform& platform = demo.platform;
  rlv::app::MainWindow& window = front.Window();
  rlv::ui::ControlModel& model = window.controls;
  if (!demo.WaitForTracker(15000)) return 1;
  // The start-up's automatic read of the configuration settles first, so that
  // the pages hold what they hold in use.
  platform.loop.RunFor(2500);
  QWidget* frame = front.Frame();
  const std::vector<rlv::ui::Control*> pages = model.Children("RzPageControl1");
  const int count = std::min(rlv::ui::Shell::kPageCount, static_cast<int>(pages.size()));

  // Per page: the time of each switch, and the processor time of this thread
  // in it (what the switch costs, without the time the machine gave to others).
  std::vector<std::vector<double>> times(static_cast<size_t>(count));
  std::vector<std::vector<double>> cpu_times(static_cast<size_t>(count));
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      const double cpu_start = ThreadCpuMs();
      QElapsedTimer timer;
      timer.start();
      window.shell.SelectPage(i);
      front.Renderer().Flush();
      QApplication::processEvents();  // the layouts' requests and the paint they ask for
      frame->repaint();
      const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
      const double cpu_ms = ThreadCpuMs() - cpu_start;
      // The first round shows every page for the first time (widgets polished,
      // fonts loaded): reported apart.
      if (round == 0) {
        std::printf("first show of page %d: %.2f ms\n", i, ms);
        if (rounds > 1) continue;
      }
      times[static_cast<size_t>(i)].push_back(ms);
      cpu_times[static_cast<size_t>(i)].push_back(cpu_ms);
      platform.loop.RunFor(20);  // the demo tracker's polls go on between switches
    }
  }
  double worst_median = 0;
  double worst = 0;
  for (int i = 0; i < count; ++i) {
    const auto& t = times[static_cast<size_t>(i)];
    const double median = Median(t);
    const double max = *std::max_element(t.begin(), t.end());
    worst_median = std::max(worst_median, median);
    worst = std::max(worst, max);
    std::printf("page %d %-12s median %6.2f ms  max %6.2f ms  processor median %6.2f ms  (%zu switches)\n", i,
                pages[static_cast<size_t>(i)]->Name().c_str(), median, max,
                Median(cpu_times[static_cast<size_t>(i)]), t.size());
  }
  std::printf("all pages: largest median %.2f ms, largest max %.2f ms\n", worst_median, worst);
  window.FormClose();
  return 0;
}

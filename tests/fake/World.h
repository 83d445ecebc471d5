#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "TrackerSim.h"
#include "app/MainWindow.h"

namespace rlv::fake {

// A configurator on the fake platform with one simulated tracker plugged in on
// `kTrackerPort`, and two other ports that exist but do not answer.
struct World {
  static constexpr const char* kTrackerPort = "/dev/ttyACM0";

  // `fast_link`: the window started with --fast; by default as the test run
  // asks through RLVEXA_TEST_FAST_LINK, so one suite runs in both link modes.
  explicit World(sim::SimConfig config = {}, bool plugged = true, std::optional<bool> fast_link = {})
      : sim(std::move(config)) {
    env.devices.ports = {"/dev/ttyS0", kTrackerPort, "/dev/ttyS1"};
    env.serial.AddPort("/dev/ttyS0");
    env.serial.AddPort("/dev/ttyS1");
    env.serial.AddPort(kTrackerPort, &sim);
    if (plugged) env.devices.devices.push_back({"STMicroelectronics Virtual COM Port", kTrackerPort});
    app::Options options;
    options.data_dir = env.dir.Path();
    const char* fast_run = std::getenv("RLVEXA_TEST_FAST_LINK");
    options.fast_link = fast_link.value_or(fast_run != nullptr && std::string(fast_run) == "1");
    window = std::make_unique<app::MainWindow>(env.platform, options);
    window->controls.Observe([this](const ui::Control& c, ui::Prop prop) {
      if (c.Name() == "MESLABEL" && prop == ui::Prop::Text) shown.push_back(c.Text());
    });
  }

  void Start() {
    window->FormCreate();
    window->FormShow();
    window->AfterFirstPaint();
  }

  // Command codes written to the port, in order, from write number `from` on.
  std::vector<int> SentCommands(size_t from = 0) const {
    std::vector<int> out;
    const auto& writes = env.serial.Writes();
    for (size_t i = from; i < writes.size(); ++i) {
      if (writes[i].bytes.size() >= 8) out.push_back(writes[i].bytes[7]);
    }
    return out;
  }

  app::MainWindow& w() { return *window; }

  FakeEnvironment env;
  sim::TrackerSim sim;
  std::unique_ptr<app::MainWindow> window;
  std::vector<std::string> shown;  // texts shown on the message panel, in order
};

}  // namespace rlv::fake

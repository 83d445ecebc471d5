#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FakeNetwork.h"
#include "World.h"
#include "link/Bytes.h"

namespace rlv::fake {

// A configurator with no tracker on USB, listening on its remote port, and the
// simulated tracker reaching it through the in-memory network.
struct TunnelWorld : World {
  static constexpr uint16_t kPort = 12500;

  explicit TunnelWorld(sim::SimConfig config = {}) : World(std::move(config), false) {
    env.serial.RemovePort(kTrackerPort);
    env.devices.ports = {"/dev/ttyS0"};
    sim.SetOutput([this](const std::vector<uint8_t>& frame) {
      if (hold_answers) return;
      if (auto p = peer.lock()) p->Send(frame);
    });
  }

  // Starts the window and presses the page's button with the port `port`.
  void StartListening(const std::string& port = "12500") {
    Start();
    w().controls["RconfPort"].SetText(port);
    w().controls.UserClick("Button1");
  }

  // The simulated tracker connects from `from`; what it receives feeds the simulator.
  std::shared_ptr<FakePeer> ConnectTracker(const std::string& from = "10.0.0.5", uint16_t port = kPort) {
    auto p = env.network.ConnectToServer(port, from);
    if (!p) return p;
    p->on_receive = [this](FakePeer&, const std::vector<uint8_t>& bytes) { sim.Feed(bytes); };
    peer = p;
    return p;
  }

  // Every frame the tracker received on `p` with command `command` (-1: any),
  // whole, in order, from byte `from` of what it received on.
  static std::vector<std::vector<uint8_t>> Frames(const FakePeer& p, int command = -1, size_t from = 0) {
    std::vector<std::vector<uint8_t>> out;
    const std::vector<uint8_t>& b = p.Received();
    for (size_t i = from; i + 8 <= b.size();) {
      if (b[i] != 'S' || b[i + 1] != 'L' || b[i + 2] != 'R' || b[i + 3] != 'L') {
        ++i;
        continue;
      }
      size_t size = 4 + 2 + link::GetU16(b.data() + i + 4) + 2;
      if (i + size > b.size()) break;
      // The configurator follows a frame whose size is a multiple of 8 with one filler byte.
      if (size % 8 == 0 && i + size < b.size() && b[i + size] != 'S') ++size;
      if (command < 0 || b[i + 7] == command) out.emplace_back(b.begin() + i, b.begin() + i + size);
      i += size;
    }
    return out;
  }

  std::weak_ptr<FakePeer> peer;
  bool hold_answers = false;
};

}  // namespace rlv::fake

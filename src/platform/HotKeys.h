#pragma once

#include <functional>

namespace rlv::platform {

enum HotKeyModifier : unsigned { kModAlt = 1, kModControl = 2, kModShift = 4 };

// System-wide hot keys (application-wide where the platform has no global ones).
class IHotKeys {
 public:
  virtual ~IHotKeys() = default;
  // `key` is an upper-case letter or digit.
  virtual bool Register(int id, unsigned modifiers, char key) = 0;
  virtual void Unregister(int id) = 0;
  virtual void SetHandler(std::function<void(int id)> handler) = 0;
};

}  // namespace rlv::platform

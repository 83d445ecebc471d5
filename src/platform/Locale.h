#pragma once

namespace rlv::platform {

// The user's number formatting.
class ILocale {
 public:
  virtual ~ILocale() = default;
  // The decimal separator of the system's number format ('.' or ',').
  virtual char DecimalSeparator() const = 0;
};

}  // namespace rlv::platform

#pragma once

#include <QLocale>

#include "platform/Locale.h"

namespace rlv::qtp {

// The system's number format.
class QtLocale : public platform::ILocale {
 public:
  char DecimalSeparator() const override {
    const QString point = QLocale::system().decimalPoint();
    return point == QStringLiteral(",") ? ',' : '.';
  }
};

}  // namespace rlv::qtp

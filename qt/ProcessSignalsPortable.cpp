// Windows: no signals to catch and no closed standard streams to reopen; the
// window closes through its own close button or the system's session end.
#include "ProcessSignals.h"

namespace rlv::qtp {

void PrepareProcess() {}

void CloseWindowOnSignals(QObject*) {}

}  // namespace rlv::qtp

#pragma once

#include <QStringList>

namespace rlv::services {

// "rlvexa-services admin ...": the operators' command on a store; `args` are
// the words after "admin". Returns the exit status.
int AdminMain(const QStringList& args);

}  // namespace rlv::services

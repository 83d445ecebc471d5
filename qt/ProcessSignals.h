#pragma once

// How the process meets its surroundings, one file per platform:
// ProcessSignalsPosix.cpp (Linux and macOS: signals, closed standard streams)
// or ProcessSignalsPortable.cpp (Windows: nothing to do).

class QObject;

namespace rlv::qtp {

// At the start of main: a reader that goes away must not kill the program in
// the middle of its close steps, and closed standard streams read as empty.
void PrepareProcess();

// SIGINT, SIGTERM and SIGHUP close the window as its close button would;
// `context` owns the watch.
void CloseWindowOnSignals(QObject* context);

}  // namespace rlv::qtp

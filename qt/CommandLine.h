#pragma once

namespace rlv::qtp {

// Runs one command of the command line ("status", "read", "write", "flash",
// "export", "import", "diff") and returns its exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace rlv::qtp

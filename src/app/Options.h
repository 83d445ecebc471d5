#pragma once

#include <string>

namespace rlv::app {

// Command-line options shared by every front end.
struct Options {
  std::string data_dir;      // --dir: stands for "beside the executable"
  std::string program_dir;   // the folder of the shipped language file: the executable's, or
                             // the system data folder when installed
  std::string tracker_port;  // --tracker-port: one more present tracker device
  bool headless = false;     // --headless
  bool demo = false;         // --demo
  bool fast_link = false;    // --fast: the fast link, whatever the settings say
};

}  // namespace rlv::app

#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace rlv::fake {

// The language file the program ships, as tests put it in the data folder.
inline std::string ShippedLanguageFile() {
  std::ifstream in(RLVEXA_SOURCE_DIR "/data/language.lng", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace rlv::fake

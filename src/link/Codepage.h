#pragma once

#include <string>
#include <string_view>

namespace rlv::link {

// Text fields of records and files are single-byte Windows-1251 text; the
// controls hold UTF-8. A character with no Windows-1251 form becomes '?'.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace rlv::link

// The text of the uncaught-error report (no <windows.h> here: tests include it).
#pragma once

#include <cstdint>
#include <string>

namespace plat::win32 {

// "Run-time error '<number>':", a blank line, then the description.
std::u16string UnhandledText(std::int32_t number, const std::u16string& description);

}  // namespace plat::win32

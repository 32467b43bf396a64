// Key and value names compare as wineserver compares them: case-insensitively,
// unit by unit after lower-casing, a shorter prefix first.
#pragma once

#include <string_view>

namespace winereg {

int CompareNames(std::u16string_view a, std::u16string_view b);
bool SameName(std::u16string_view a, std::u16string_view b);
// CompareNames for names of ASCII characters.
int CompareAscii(std::string_view a, std::string_view b);

}  // namespace winereg

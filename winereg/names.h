// Key and value names compare as wineserver compares them: case-insensitively,
// unit by unit after lower-casing, a shorter prefix first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "winereg/types.h"

namespace winereg {

int CompareNames(std::u16string_view a, std::u16string_view b);
bool SameName(std::u16string_view a, std::u16string_view b);
// CompareNames for names of ASCII characters.
int CompareAscii(std::string_view a, std::string_view b);

// Value data as UTF-16 text (the units in the machine's order, an odd last
// byte left out), and text as such data.
std::u16string Utf16Text(const std::vector<BYTE>& data);
std::vector<BYTE> Utf16Data(std::u16string_view text);

}  // namespace winereg

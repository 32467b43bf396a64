// UTF-8 <-> UTF-16 for the host's own text (terminal, diagnostics, paths).
// Unpaired surrogates and invalid UTF-8 become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace plat

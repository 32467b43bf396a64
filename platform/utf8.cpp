// UTF-8 <-> UTF-16: the vocabulary's conversions.
#include "platform/utf8.h"

#include "vocab/utf8.h"

namespace plat {

std::string ToUtf8(std::u16string_view text) { return vocab::ToUtf8(text); }
std::u16string FromUtf8(std::string_view text) { return vocab::FromUtf8(text); }

}  // namespace plat

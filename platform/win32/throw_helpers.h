// The error that the Windows programs' own copies of the standard library's
// throw helpers (std::__throw_length_error and its kin) raise in place of
// std::logic_error and its kin: a std::exception with the same what() text.
#pragma once

#include <cstdarg>
#include <exception>

namespace plat::win32 {

class LibraryError : public std::exception {
 public:
  // The text is `format` with %s, %zu and %% replaced from `args`, cut at
  // 255 characters.
  LibraryError(const char* format, std::va_list args) noexcept;
  const char* what() const noexcept override { return text_; }

 private:
  char text_[256];
};

}  // namespace plat::win32

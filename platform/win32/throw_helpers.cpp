// The helpers through which the standard library's containers and strings
// throw (std::__throw_length_error and its kin), for the Windows programs.
//
// libstdc++'s own copies throw std::logic_error and its kin, whose
// copy-on-write message strings pull some 60 KiB of the library into a
// program that never otherwise uses them. These throw the same kinds of
// error: the std::bad_* types as they are, and the message-carrying ones as
// LibraryError, a std::exception with the same what() text (reported as a
// fault of the program itself, as any such exception is). They are all the
// functions of the library's own file, so that file is never linked: an
// object library, linked into the programs and the backend's test binary.
#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>
#include <typeinfo>

#include "platform/win32/throw_helpers.h"

namespace plat::win32 {

LibraryError::LibraryError(const char* format, std::va_list args) noexcept {
  // %s, %zu and %% are all the library's messages use.
  std::size_t out = 0;
  auto put = [&](char c) {
    if (out + 1 < sizeof text_) text_[out++] = c;
  };
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      put(*p);
    } else if (p[1] == 's') {
      for (const char* s = va_arg(args, const char*); *s != '\0'; ++s) put(*s);
      ++p;
    } else if (p[1] == 'z' && p[2] == 'u') {
      std::size_t value = va_arg(args, std::size_t);
      char digits[24];
      int n = 0;
      do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
      } while (value != 0);
      while (n > 0) put(digits[--n]);
      p += 2;
    } else if (p[1] == '%') {
      put('%');
      ++p;
    } else {
      put(*p);
    }
  }
  text_[out] = '\0';
}

namespace {

[[noreturn]] void ThrowLibraryError(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const LibraryError error(format, args);
  va_end(args);
  throw error;
}

// Plain messages are not formats: a '%' in one stands for itself.
[[noreturn]] void ThrowMessage(const char* message) { ThrowLibraryError("%s", message); }

}  // namespace

}  // namespace plat::win32

namespace std {

void __throw_bad_exception() { throw std::bad_exception(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_bad_cast() { throw std::bad_cast(); }
void __throw_bad_typeid() { throw std::bad_typeid(); }
void __throw_logic_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_domain_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_invalid_argument(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_length_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_out_of_range(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_runtime_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_range_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_overflow_error(const char* message) { plat::win32::ThrowMessage(message); }
void __throw_underflow_error(const char* message) { plat::win32::ThrowMessage(message); }

void __throw_out_of_range_fmt(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const plat::win32::LibraryError error(format, args);
  va_end(args);
  throw error;
}

}  // namespace std

// Backend-independent parts of the platform layer.
#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "patch/version.h"
#include "platform/app.h"
#include "platform/unhandled.h"
#include "platform/codepage.h"
#include "platform/entry.h"
#include "platform/error.h"
#include "platform/utf8.h"

namespace plat {

Error::Error(std::int32_t number, std::u16string source, std::u16string description)
    : what_(ToUtf8(description)),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::u16string FaultText(std::int32_t number) {
  switch (number) {
    case 5: return u"Invalid procedure call or argument";
    case 6: return u"Overflow";
    case 7: return u"Out of memory";
    case 9: return u"Subscript out of range";
    case 11: return u"Division by zero";
    case 13: return u"Type mismatch";
    case 52: return u"Bad file name or number";
    case 51: return u"Internal error";
    case 53: return u"File not found";
    case 55: return u"File already open";
    case 57: return u"Device I/O error";
    case 62: return u"Input past end of file";
    case 70: return u"Permission denied";
    case 75: return u"Path/File access error";
    case 76: return u"Path not found";
    default: return u"Application-defined or object-defined error";
  }
}

Error Fault(std::int32_t number) { return Error(number, App().EXEName, FaultText(number)); }

std::u16string Decimal(std::int64_t value) {
  std::u16string out;
  const bool negative = value < 0;
  // Work in unsigned arithmetic so that the most negative value is safe.
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    out.insert(out.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) out.insert(out.begin(), u'-');
  return out;
}

namespace {

std::optional<AppInfo>& OverrideInfo() {
  static std::optional<AppInfo> info;
  return info;
}

}  // namespace

const AppInfo& App() {
  if (OverrideInfo()) return *OverrideInfo();
  static const AppInfo info{FromUtf8(SKELVIN_TITLE), ModuleBaseName(), SKELVIN_VERSION_MAJOR,
                            SKELVIN_VERSION_MINOR, SKELVIN_VERSION_REVISION};
  return info;
}

ScopedAppInfo::ScopedAppInfo(AppInfo info) : previous_(std::exchange(OverrideInfo(), std::move(info))) {}
ScopedAppInfo::~ScopedAppInfo() { OverrideInfo() = std::move(previous_); }

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::u16string FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
  return out;
}

std::u16string AnsiRoundTrip(std::u16string_view text) { return FromAnsi(ToAnsi(text)); }

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t c = 0xFFFD;
    std::size_t extra = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F, extra = 1, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F, extra = 2, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07, extra = 3, min = 0x10000;
    }
    std::size_t used = 1;
    if (b >= 0x80) {
      bool ok = extra != 0;
      for (std::size_t k = 1; ok && k <= extra; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
          ok = false;
        } else {
          c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
      }
      if (ok && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
        used = 1 + extra;
      } else {
        c = 0xFFFD;
      }
    }
    i += used;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

int RunProgram(void (*main)()) {
  try {
    main();
    return 0;
  } catch (const Error& error) {
    ReportUnhandled(error.Number(), error.Description());
  } catch (const std::bad_alloc&) {
    ReportUnhandled(kOutOfMemory, FaultText(kOutOfMemory));
  } catch (const std::exception& error) {
    ReportUnhandled(kInternalError, FromUtf8(error.what()));
  }
  return 1;
}

}  // namespace plat

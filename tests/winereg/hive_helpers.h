// What the file format's test files share: a machine hive's header, times,
// text helpers and lookups.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "winereg/model.h"
#include "winereg/reader.h"

namespace winereg::hive_test {

inline constexpr char kMachineHead[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n";

inline constexpr std::int64_t kTime1 = 0x1d9c4a2b3c4d5e6;  // written "1690913106", "#time=1d9c4a2b3c4d5e6"
inline constexpr std::int64_t kTicks1601To1970 = 116444736000000000;

inline std::u16string U(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

inline std::vector<BYTE> Utf16Z(std::u16string_view s) {
  std::vector<BYTE> out;
  for (char16_t c : s) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

inline Hive MustParse(std::string_view text) {
  ParseError error;
  std::optional<Hive> hive = Parse(ParseInput::FromString(std::string(text)), &error);
  EXPECT_TRUE(hive.has_value()) << "line " << error.line << ": " << error.message;
  return hive ? std::move(*hive) : Hive{};
}

inline const Key* Path(const Key& root, std::initializer_list<std::u16string_view> names) {
  const Key* key = &root;
  for (std::u16string_view name : names) {
    key = key->FindSubkey(name);
    if (!key) return nullptr;
  }
  return key;
}

inline const std::string kHead(kMachineHead);     // 4 lines: the body starts on line 5
inline const std::string kKey = kHead + "[K]\n";  // the body starts on line 6

// A file of the test data (HIVE_TEST_DATA_DIR).
inline std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(HIVE_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace winereg::hive_test

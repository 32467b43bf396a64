// The Windows programs' own throw helpers: the standard library's failures
// still arrive as exceptions of the same kinds, with the same texts.
#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/win32/throw_helpers.h"

namespace {

using plat::win32::LibraryError;

// The text of the LibraryError that `action` throws, or "" when it throws
// none.
template <typename Action>
std::string LibraryErrorText(Action action) {
  try {
    action();
  } catch (const LibraryError& error) {
    return error.what();
  }
  return {};
}

TEST(ThrowHelpersTest, FormattedMessagesCarryTheirNumbers) {
  EXPECT_EQ(LibraryErrorText([] { (void)std::string("abc").at(7); }),
            "basic_string::at: __n (which is 7) >= this->size() (which is 3)");
  EXPECT_EQ(LibraryErrorText([] { (void)std::vector<int>(2).at(5); }),
            "vector::_M_range_check: __n (which is 5) >= this->size() (which is 2)");
}

TEST(ThrowHelpersTest, PlainMessagesAreNotFormats) {
  EXPECT_EQ(LibraryErrorText([] { std::__throw_logic_error("100%s %zu %% sure"); }), "100%s %zu %% sure");
  EXPECT_EQ(LibraryErrorText([] { std::__throw_invalid_argument("stoi"); }), "stoi");
  EXPECT_EQ(LibraryErrorText([] { std::__throw_runtime_error("x"); }), "x");
  EXPECT_EQ(LibraryErrorText([] { std::__throw_overflow_error("o"); }), "o");
}

TEST(ThrowHelpersTest, TooLongAStringIsALengthError) {
  std::string text;
  const std::size_t too_many = text.max_size() + 1;
  EXPECT_EQ(LibraryErrorText([&] { text.reserve(too_many); }), "basic_string::_M_create");
  EXPECT_TRUE(text.empty());
}

TEST(ThrowHelpersTest, LongTextsAreCutAndStayTerminated) {
  const std::string long_text(1000, 'x');
  const std::string shown = LibraryErrorText([&] { std::__throw_out_of_range(long_text.c_str()); });
  EXPECT_EQ(shown, std::string(255, 'x'));
}

TEST(ThrowHelpersTest, TheBadKindsAreTheStandardOnes) {
  EXPECT_THROW(std::__throw_bad_alloc(), std::bad_alloc);
  EXPECT_THROW(std::__throw_bad_array_new_length(), std::bad_array_new_length);
  EXPECT_THROW(std::__throw_bad_cast(), std::bad_cast);
  EXPECT_THROW(std::__throw_bad_typeid(), std::bad_typeid);
  EXPECT_THROW(std::__throw_bad_exception(), std::bad_exception);
}

}  // namespace

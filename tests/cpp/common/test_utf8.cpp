#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using velaro::is_valid_utf8;

TEST(Utf8, AcceptsWellFormedText) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("1.0 0.0\n"));
  // Two-, three- and four-byte sequences at the edges of their ranges.
  EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
  EXPECT_TRUE(is_valid_utf8("\xc2\x80\xdf\xbf"));          // U+0080, U+07FF
  EXPECT_TRUE(is_valid_utf8("\xe0\xa0\x80\xef\xbf\xbf"));  // U+0800, U+FFFF
  EXPECT_TRUE(is_valid_utf8("\xed\x9f\xbf\xee\x80\x80"));  // either side of the surrogates
  EXPECT_TRUE(is_valid_utf8("\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"));  // U+10000, U+10FFFF
  // An embedded NUL is a character like any other.
  EXPECT_TRUE(is_valid_utf8(std::string_view("a\0b", 3)));
}

TEST(Utf8, RefusesMalformedText) {
  EXPECT_FALSE(is_valid_utf8("\xff"));
  EXPECT_FALSE(is_valid_utf8("\x80"));              // stray continuation byte
  EXPECT_FALSE(is_valid_utf8("\xc3"));              // cut short by the end
  EXPECT_FALSE(is_valid_utf8("\xe2\x82"));          // cut short by the end
  EXPECT_FALSE(is_valid_utf8("\xc3(x"));            // continuation byte missing
  EXPECT_FALSE(is_valid_utf8("\xc0\x80"));          // overlong NUL
  EXPECT_FALSE(is_valid_utf8("\xc1\xbf"));          // overlong two-byte form
  EXPECT_FALSE(is_valid_utf8("\xe0\x9f\xbf"));      // overlong three-byte form
  EXPECT_FALSE(is_valid_utf8("\xf0\x8f\xbf\xbf"));  // overlong four-byte form
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xf5\x80\x80\x80"));  // lead byte past U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xe2\x28\xa1"));      // bad second byte
  EXPECT_FALSE(is_valid_utf8("\xf0\x9f\x98\x28"));  // bad last byte
  // A bad sequence after valid text is still found.
  EXPECT_FALSE(is_valid_utf8(std::string(1000, 'a') + "\xfe"));
}

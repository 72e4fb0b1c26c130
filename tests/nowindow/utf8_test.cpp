// The one UTF-8 decoder (base/utf8.h), which the list file's check and the terminal's escaping
// share: every kind of ill-formed sequence is refused at the byte where it starts.
#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace oa {
namespace {

size_t At(std::string_view text, size_t i = 0, char32_t* code = nullptr) {
  char32_t unused = 0;
  return Utf8SequenceAt(text, i, code ? code : &unused);
}

TEST(Utf8, DecodesEachLengthToItsCodePoint) {
  char32_t code = 0;
  EXPECT_EQ(At("A", 0, &code), 1u);
  EXPECT_EQ(code, U'A');
  EXPECT_EQ(At("\xC3\xA9", 0, &code), 2u);  // é
  EXPECT_EQ(code, U'\u00E9');
  EXPECT_EQ(At("x\xE2\x82\xAC", 1, &code), 3u);  // €, not at the start
  EXPECT_EQ(code, U'\u20AC');
  EXPECT_EQ(At("\xF0\x9F\x98\x80", 0, &code), 4u);
  EXPECT_EQ(code, U'\U0001F600');
  EXPECT_EQ(At("\xF4\x8F\xBF\xBF", 0, &code), 4u);
  EXPECT_EQ(code, U'\U0010FFFF');
  EXPECT_EQ(At("\xC2\x80", 0, &code), 2u);
  EXPECT_EQ(code, U'\u0080');
}

TEST(Utf8, RefusesEveryIllFormedSequence) {
  for (const std::string& bad : {
           std::string("\x80"),              // a continuation byte alone
           std::string("\xC0\xAF"),          // overlong '/'
           std::string("\xC1\xBF"),          // overlong
           std::string("\xE0\x80\xAF"),      // overlong in three bytes
           std::string("\xF0\x80\x80\xAF"),  // overlong in four bytes
           std::string("\xED\xA0\x80"),      // a surrogate, U+D800
           std::string("\xED\xBF\xBF"),      // U+DFFF
           std::string("\xF4\x90\x80\x80"),  // past U+10FFFF
           std::string("\xF5\x80\x80\x80"),  // no such lead byte
           std::string("\xFF"),
           std::string("\xE2\x82"),      // cut off by the end
           std::string("\xE2\x28\xA1"),  // a second byte that is no continuation
       }) {
    EXPECT_EQ(At(bad), 0u) << testing::PrintToString(bad);
    EXPECT_FALSE(ValidUtf8(bad)) << testing::PrintToString(bad);
    EXPECT_FALSE(ValidUtf8("ok " + bad + " ok")) << testing::PrintToString(bad);
  }
  EXPECT_EQ(At("abc", 3), 0u);  // past the end
}

TEST(Utf8, ValidTextIsValidWhole) {
  EXPECT_TRUE(ValidUtf8(""));
  EXPECT_TRUE(ValidUtf8("jdoe@example.com"));
  EXPECT_TRUE(ValidUtf8("J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_TRUE(ValidUtf8(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace oa

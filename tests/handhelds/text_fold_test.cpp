#include "handhelds/text_fold.h"

#include <gtest/gtest.h>

namespace oa::handhelds {
namespace {

TEST(TextFold, TrimsOnlyBlanks) {
  EXPECT_EQ(TrimBlanks("  Handhelds "), "Handhelds");
  EXPECT_EQ(TrimBlanks("\tHandhelds\t"), "\tHandhelds\t");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(TextFold, LowersLettersBeyondAscii) {
  EXPECT_EQ(LowerText("HandHELDS"), LowerText("handhelds"));
  EXPECT_EQ(LowerText("ÄÖÜ Éclair"), LowerText("äöü éclair"));
  EXPECT_EQ(LowerText("ŁÓDŹ"), LowerText("łódź"));
  EXPECT_EQ(LowerText("ΑΘΗΝΑ"), LowerText("αθηνα"));
  EXPECT_EQ(LowerText("МОСКВА Ё"), LowerText("москва ё"));
  EXPECT_NE(LowerText("×"), LowerText("÷"));
  // A stray byte is not taken for the character it happens to share a value with.
  EXPECT_NE(LowerText("\xC4"), LowerText("Ä"));
}

TEST(TextFold, FindsTheEndOfANameInAnyCase) {
  const std::string path = "x\\MAILBOX - jöhn DOE\\Handhelds";
  const auto end = FindEndIgnoringCase(path, "Mailbox - Jöhn Doe");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(path.substr(end), "\\Handhelds");
  EXPECT_EQ(FindEndIgnoringCase(path, "Mailbox - Jane"), std::string::npos);
  EXPECT_EQ(FindEndIgnoringCase("abc", ""), 0u);
}

TEST(TextFold, MeasuresCharacters) {
  const std::string text = "aé€😀";
  EXPECT_EQ(CharLength(text, 0), 1u);
  EXPECT_EQ(CharLength(text, 1), 2u);
  EXPECT_EQ(CharLength(text, 3), 3u);
  EXPECT_EQ(CharLength(text, 6), 4u);
  EXPECT_EQ(CharLength(text, 10), 0u);
}

}  // namespace
}  // namespace oa::handhelds

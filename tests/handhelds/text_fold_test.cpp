#include "base/text_fold.h"

#include <gtest/gtest.h>

namespace oa::text {
namespace {

TEST(TextFold, TrimsOnlyBlanks) {
  EXPECT_EQ(TrimBlanks("  Handhelds "), "Handhelds");
  EXPECT_EQ(TrimBlanks("\tHandhelds\t"), "\tHandhelds\t");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(TextFold, LowersLettersBeyondAscii) {
  EXPECT_EQ(Fold("HandHELDS"), Fold("handhelds"));
  EXPECT_EQ(Fold("ÄÖÜ Éclair"), Fold("äöü éclair"));
  EXPECT_EQ(Fold("ŁÓDŹ"), Fold("łódź"));
  EXPECT_EQ(Fold("ΑΘΗΝΑ"), Fold("αθηνα"));
  EXPECT_EQ(Fold("МОСКВА Ё"), Fold("москва ё"));
  EXPECT_NE(Fold("×"), Fold("÷"));
  // A stray byte is not taken for the character it happens to share a value with.
  EXPECT_NE(Fold("\xC4"), Fold("Ä"));
}

TEST(TextFold, FoldsByUnicodeSimpleCaseFolding) {
  EXPECT_EQ(Fold("ΟΔΟΣ"), Fold("οδος"));  // final sigma
  EXPECT_EQ(Fold("µ"), Fold("μ"));        // micro sign and mu
  EXPECT_EQ(Fold("ẞ"), Fold("ß"));
  EXPECT_NE(Fold("ß"), Fold("ss"));             // full folding would take one letter for two
  EXPECT_EQ(Fold("\u212A"), "k");               // Kelvin sign
  EXPECT_EQ(Fold("ᏣᎳᎩ"), Fold("ꮳꮃꭹ"));    // Cherokee folds to its capitals
  EXPECT_EQ(Fold("\U00010400"), "\U00010428");  // Deseret, beyond the BMP
  // No Turkic rules, whatever the locale.
  EXPECT_NE(Fold("İ"), Fold("i"));
  EXPECT_NE(Fold("ı"), Fold("I"));
  EXPECT_EQ(FoldChar(U'İ'), U'İ');
  // Letters without case and characters beyond the code space stay as they are.
  EXPECT_EQ(Fold("日本 123 -_"), "日本 123 -_");
  EXPECT_TRUE(EqualIgnoringCase("Mailbox - JÖRG", "mailbox - jörg"));
}

TEST(TextFold, MalformedBytesMatchOnlyThemselves) {
  // An overlong 'A' is not "a"; a surrogate's bytes are kept, not decoded.
  EXPECT_NE(Fold("\xC1\x81"), "a");
  EXPECT_EQ(Fold("\xC1\x81"), "\xC1\x81");
  EXPECT_EQ(Fold("\xED\xA0\x80X"), "\xED\xA0\x80x");
  EXPECT_EQ(Fold("\xE2\x84"), "\xE2\x84");  // cut short
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
}  // namespace oa::text

// The value functions of basRDO: property types, hexadecimal entry IDs and conversions by the
// run-time type of a value.
#include "mailbox/basRDO.h"

#include <gtest/gtest.h>

#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {
namespace {

TEST(GetPropType, LowSixteenBitsOfEveryTag) {
  EXPECT_EQ(GetPropType(0x0037001E), 30);
  EXPECT_EQ(GetPropType(0x66700102), 258);
  EXPECT_EQ(GetPropType(static_cast<int32_t>(0x8005001E)), 30);
  EXPECT_EQ(GetPropType(static_cast<int32_t>(0xFFFFFFFF)), 0xFFFF);
  EXPECT_EQ(GetPropType(0x00010000), 0);
}

TEST(BinaryToHex, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(BinaryToHex(Variant::Binary({0, 10, 255})), "000AFF");
  EXPECT_EQ(BinaryToHex(Variant::Binary({0xAB, 0x01, 0xC0, 0x0F})), "AB01C00F");
}

TEST(BinaryToHex, EmptyForEmptyArrayAndNonArrays) {
  EXPECT_EQ(BinaryToHex(Variant::Binary({})), "");
  EXPECT_EQ(BinaryToHex(Variant::String("000AFF")), "");
  EXPECT_EQ(BinaryToHex(Variant::Long(255)), "");
  EXPECT_EQ(BinaryToHex(Variant()), "");
}

TEST(BinaryToHex, WiderElementsKeepAllTheirDigits) {
  // Only single digits are padded: a number above 255 is written in full.
  EXPECT_EQ(BinaryToHex(Variant::Array({Variant::Long(0x1234), Variant::Integer(5)})), "123405");
}

TEST(ConvertPropValue, StringTrimsOnlyBlanks) {
  const Variant v = ConvertPropValue(Variant::String(" ondavelAgent "), ConstMAPI::PR_SUBJECT);
  EXPECT_EQ(TypeName(v), "String");
  EXPECT_EQ(v.AsString(), "ondavelAgent");
  EXPECT_EQ(ConvertPropValue(Variant::String("\tx \t"), ConstMAPI::PR_SUBJECT).AsString(),
            "\tx \t");
  EXPECT_EQ(ConvertPropValue(Variant::String("   "), ConstMAPI::PR_SUBJECT).AsString(), "");
}

TEST(ConvertPropValue, NonStringForStringTagIsEmptyString) {
  const Variant v = ConvertPropValue(Variant::Long(42), ConstMAPI::PR_SUBJECT);
  EXPECT_EQ(TypeName(v), "String");
  EXPECT_EQ(v.AsString(), "");
  EXPECT_EQ(ConvertPropValue(Variant(), ConstMAPI::PR_MESSAGE_CLASS), Variant::String(""));
}

TEST(ConvertPropValue, IntegerTypes) {
  const int32_t i2Tag = 0x36000002;
  const int32_t longTag = ConstMAPI::PR_CONTENT_COUNT;
  EXPECT_EQ(ConvertPropValue(Variant::Integer(7), i2Tag), Variant::Integer(7));
  EXPECT_EQ(ConvertPropValue(Variant::Long(70000), i2Tag), Variant::Long(70000));
  EXPECT_EQ(ConvertPropValue(Variant::String("7"), i2Tag), Variant::Integer(0));
  EXPECT_EQ(ConvertPropValue(Variant::Long(70000), longTag), Variant::Long(70000));
  // PT_LONG takes only a 32-bit integer; everything else is the 16-bit zero.
  EXPECT_EQ(ConvertPropValue(Variant::Integer(7), longTag), Variant::Integer(0));
  const Variant fromDate = ConvertPropValue(Variant::FromDate(Date{45000.5}), longTag);
  EXPECT_EQ(TypeName(fromDate), "Integer");
  EXPECT_EQ(fromDate.AsInteger(), 0);
}

TEST(ConvertPropValue, DateBooleanBinaryAndUnknownTypes) {
  const Variant date = Variant::FromDate(Date{45000.25});
  EXPECT_EQ(ConvertPropValue(date, ConstMAPI::PR_CREATION_TIME), date);
  EXPECT_EQ(ConvertPropValue(Variant::Long(1), ConstMAPI::PR_CREATION_TIME),
            Variant::FromDate(Date{0.0}));

  const int32_t boolTag = 0x0E1B000B;
  EXPECT_EQ(ConvertPropValue(Variant::Boolean(true), boolTag), Variant::Boolean(true));
  EXPECT_EQ(ConvertPropValue(Variant::Long(1), boolTag), Variant::Boolean(false));

  EXPECT_EQ(ConvertPropValue(Variant::Binary({1, 2}), ConstMAPI::PR_ENTRYID),
            Variant::String("0102"));
  EXPECT_EQ(ConvertPropValue(Variant::String("0102"), ConstMAPI::PR_ENTRYID), Variant::String(""));

  EXPECT_TRUE(ConvertPropValue(Variant::String("x"), 0x3001001F).IsEmpty());
  EXPECT_TRUE(ConvertPropValue(Variant::Long(1), 0x10000005).IsEmpty());
}

TEST(FindMessageIDs, NoFolderOrNoCriteriaGivesNothing) {
  EXPECT_TRUE(FindMessageIDs(nullptr, "ondavel.Agent", "ondavelAgent").empty());
}

TEST(GetNamedPropTag, WithoutAnObjectTheTypeAlone) {
  EXPECT_EQ(GetNamedPropTag(nullptr, Variant::String("HHEntryID"), ConstMAPI::PT_STRING8, ""),
            ConstMAPI::PT_STRING8);
}

}  // namespace
}  // namespace oa::mailbox

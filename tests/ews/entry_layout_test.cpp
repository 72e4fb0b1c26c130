// Exchange's long-term entry IDs: which kind of object they name, and the folder of a public
// folder message read from the message's own entry ID.
#include <gtest/gtest.h>

#include "mailbox/ews/props.h"

namespace oa::ews {
namespace {

// Flags, provider UID, type, then 24 bytes of global ID (and 24 more for a message).
std::vector<uint8_t> Id(uint8_t type, bool message) {
  std::vector<uint8_t> id(4, 0);
  for (int i = 0; i < 16; ++i) id.push_back(static_cast<uint8_t>(0xC0 + i));
  id.push_back(type);
  id.push_back(0);
  for (int part = 0; part < (message ? 2 : 1); ++part)
    for (int i = 0; i < 24; ++i) id.push_back(static_cast<uint8_t>(part * 0x40 + i));
  return id;
}

TEST(ExchangeEntryIds, KindsByTypeAndLength) {
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x01, false)), ExchangeEntryKind::MailboxFolder);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x03, false)), ExchangeEntryKind::PublicFolder);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x05, false)), ExchangeEntryKind::PublicFolder);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x07, true)), ExchangeEntryKind::MailboxMessage);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x09, true)), ExchangeEntryKind::PublicMessage);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x0B, true)), ExchangeEntryKind::PublicMessage);
  // A message type at a folder's length and the other way round, unknown types, short-term
  // flags, a type above 255 and other lengths are no Exchange entry IDs.
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x09, false)), ExchangeEntryKind::Other);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x03, true)), ExchangeEntryKind::Other);
  EXPECT_EQ(ExchangeEntryKindOf(Id(0x0C, false)), ExchangeEntryKind::Other);
  auto shortTerm = Id(0x09, true);
  shortTerm[0] = 0x80;
  EXPECT_EQ(ExchangeEntryKindOf(shortTerm), ExchangeEntryKind::Other);
  auto wide = Id(0x09, true);
  wide[21] = 1;
  EXPECT_EQ(ExchangeEntryKindOf(wide), ExchangeEntryKind::Other);
  auto longer = Id(0x09, true);
  longer.push_back(0);
  EXPECT_EQ(ExchangeEntryKindOf(longer), ExchangeEntryKind::Other);
  EXPECT_EQ(ExchangeEntryKindOf(std::vector<uint8_t>(29, 0)), ExchangeEntryKind::Other);
  EXPECT_EQ(ExchangeEntryKindOf({}), ExchangeEntryKind::Other);
}

TEST(ExchangeEntryIds, PublicMessageNamesItsFolder) {
  // The folder's entry ID: the message's first 46 bytes with the folder type in place.
  EXPECT_EQ(PublicFolderEntryIdOf(Id(0x09, true)), Id(0x03, false));
  EXPECT_EQ(PublicFolderEntryIdOf(Id(0x0B, true)), Id(0x05, false));
  EXPECT_TRUE(PublicFolderEntryIdOf(Id(0x07, true)).empty());
  EXPECT_TRUE(PublicFolderEntryIdOf(Id(0x03, false)).empty());
  EXPECT_TRUE(PublicFolderEntryIdOf(std::vector<uint8_t>(29, 0)).empty());
}

}  // namespace
}  // namespace oa::ews

// Import and export of dumps: round trips, refusals, and that a refused import leaves the
// store file as it was.
#include <fstream>

#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

class DumpTest : public StoreTest {};

Json AgentMailbox() {
  Json agent = {
      {"key", "agent"},
      {"class", "ondavel.Agent"},
      {"subject", "ondavelAgent"},
      {"created", "2026-03-01T09:00:00Z"},
      {"named", {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", "\\\\Mailbox - jdoe\\Handhelds"}}},
      {"props",
       {{"0x0E1D001E", "normalised"},
        {"0x10800003", 7},
        {"0x1081000B", true},
        {"0x10820102", "000AFF"},
        {"0x10830040", "2026-03-01T09:00:00.250Z"},
        {"0x10840002", -3}}}};
  Json info = {{"name", "ondavelAgentInfo"}, {"messages", Json::array({agent})}};
  Json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", Json::array({{{"name", "Handhelds"}, {"key", "hh"}, {"items", 5}}})}};
  return Dump(Json::array({Mailbox("jdoe", Json::array({top, info}))}),
              Json::array({{{"op", "Folder.Delete"}, {"target", "hh"}, {"error", "0x80004005"}}}));
}

TEST_F(DumpTest, ExportImportExportIsTheSame) {
  Import(AgentMailbox());
  const std::string first = Export();
  Import(Json::parse(first));
  EXPECT_EQ(Export(), first);
  // A limit below the folder size still gives folders of the same sizes.
  const std::string limited = Export(2);
  Import(Json::parse(limited));
  EXPECT_EQ(Export(2), limited);
  const Json j = ExportJson();
  const Json hh = j["stores"][0]["root"]["folders"][0]["folders"][0];
  EXPECT_EQ(hh["count"], 5);
  EXPECT_EQ(hh["messages"].size(), 5u);
}

TEST_F(DumpTest, RefsBecomeEntryIdTextAndPropsKeepTheirTypes) {
  Import(AgentMailbox());
  auto s = Logon();
  auto info = s->Stores()->DefaultStore()->RootFolder()->Folders()->Item("ondavelAgentInfo");
  auto agent = info->Items()->GetFirst();
  ASSERT_TRUE(agent);
  const int32_t hhTag = agent->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID") | C::PT_STRING8;
  const std::string hhId =
      s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->EntryID();
  EXPECT_EQ(agent->Fields(hhTag), mb::Variant::String(hhId));
  EXPECT_EQ(agent->Fields(0x0E1D001E), mb::Variant::String("normalised"));
  EXPECT_EQ(agent->Fields(0x10800003), mb::Variant::Long(7));
  EXPECT_EQ(agent->Fields(0x1081000B), mb::Variant::Boolean(true));
  EXPECT_EQ(agent->Fields(0x10820102), mb::Variant::Binary({0, 10, 255}));
  EXPECT_EQ(agent->Fields(0x10840002), mb::Variant::Integer(-3));
  EXPECT_EQ(agent->Fields(0x10850003), mb::Variant());
}

TEST_F(DumpTest, RefusedDumpLeavesTheFileUntouched) {
  Import(AgentMailbox());
  const std::string before = Export();
  std::string error;
  EXPECT_FALSE(ImportDump("{\"format\": \"oa-store-dump/1\",\n  \"stores\": [tru]}", path, &error));
  EXPECT_EQ(error.rfind("line 2, column ", 0), 0u) << error;
  Json bad = AgentMailbox();
  bad["stores"][0]["root"]["folders"][0]["folders"].push_back({{"name", "HANDHELDS"}});
  EXPECT_FALSE(ImportDump(bad.dump(), path, &error));
  EXPECT_EQ(error.rfind("/stores/0/root/folders/0/folders/1/name: ", 0), 0u) << error;
  EXPECT_EQ(Export(), before);
}

}  // namespace
}  // namespace oa::store::testing

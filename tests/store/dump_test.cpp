// Import and export of dumps: round trips, refusals, and that a refused import leaves the
// store file as it was.
#include <cstdio>
#include <fstream>
#include <functional>

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
  EXPECT_EQ(agent->Fields(hhTag), oa::Variant::String(hhId));
  EXPECT_EQ(agent->Fields(0x0E1D001E), oa::Variant::String("normalised"));
  EXPECT_EQ(agent->Fields(0x10800003), oa::Variant::Long(7));
  EXPECT_EQ(agent->Fields(0x1081000B), oa::Variant::Boolean(true));
  EXPECT_EQ(agent->Fields(0x10820102), oa::Variant::Binary({0, 10, 255}));
  EXPECT_EQ(agent->Fields(0x10840002), oa::Variant::Integer(-3));
  EXPECT_EQ(agent->Fields(0x10850003), oa::Variant());
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

namespace oa::store::testing {
namespace {

struct BadDump {
  const char* what;
  std::function<void(Json&)> spoil;
  const char* place;
};

TEST_F(DumpTest, EachKindOfMalformedDumpIsRefusedWithItsPlace) {
  const BadDump cases[] = {
      {"no format", [](Json& j) { j.erase("format"); }, "/format: missing"},
      {"other format", [](Json& j) { j["format"] = "oa-store-dump/2"; }, "/format: unknown"},
      {"duplicate key", [](Json& j) { j["stores"][0]["root"]["folders"][1]["key"] = "hh"; },
       "/stores/0/root/folders/1/key: duplicate key"},
      {"unresolved ref",
       [](Json& j) {
         j["stores"][0]["root"]["folders"][1]["messages"][0]["named"]["HHEntryID"]["ref"] = "x";
       },
       "/stores/0/root/folders/1/messages/0/named/HHEntryID/ref: unresolved ref"},
      {"wrong type",
       [](Json& j) {
         j["stores"][0]["root"]["folders"][1]["messages"][0]["props"]["0x10800003"] = "7";
       },
       "/stores/0/root/folders/1/messages/0/props/0x10800003: the value must be"},
      {"no alias", [](Json& j) { j["stores"][0].erase("alias"); }, "/stores/0/alias: "},
      {"no address", [](Json& j) { j["stores"][0]["address"] = ""; }, "/stores/0/address: "},
      {"bad fault target", [](Json& j) { j["faults"][0]["target"] = "nope"; },
       "/faults/0/target: unresolved target"},
      {"unknown op", [](Json& j) { j["faults"][0]["op"] = "Folder.Explode"; }, "/faults/0/op: "},
      {"bad created",
       [](Json& j) {
         j["stores"][0]["root"]["folders"][1]["messages"][0]["created"] = "yesterday";
       },
       "/stores/0/root/folders/1/messages/0/created: "},
      {"two public stores",
       [](Json& j) {
         const Json pub = {{"kind", "public"}, {"displayName", "Public Folders"}};
         j["stores"].push_back(pub);
         j["stores"].push_back(pub);
       },
       "/stores/2/kind: a second public store"},
  };
  Import(AgentMailbox());
  const std::string before = Export();
  for (const BadDump& c : cases) {
    Json j = AgentMailbox();
    c.spoil(j);
    std::string error;
    EXPECT_FALSE(ImportDump(j.dump(), path, &error)) << c.what;
    EXPECT_EQ(error.rfind(c.place, 0), 0u) << c.what << ": " << error;
    // And nothing was written to the store file, nor left beside it.
    EXPECT_FALSE(ImportDump(j.dump(), dir + "/new.oastore", &error));
    EXPECT_FALSE(std::filesystem::exists(dir + "/new.oastore"));
  }
  EXPECT_EQ(Export(), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(DumpTest, EntryIdsAgreeAcrossProcesses) {
  Import(AgentMailbox());
  auto s = Logon();
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  const std::string hhId = hh->EntryID();
  const std::string itemId = hh->Items()->Item(2)->EntryID();
  // The other process sees this one's change at once.
  hh->Items()->GetFirst()->Delete(C::dfHardDelete);
  const std::string cmd = std::string(OA_STORE_TOOL) + " export " + path + " --max-messages 1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  ASSERT_EQ(::pclose(p), 0);
  const Json j = Json::parse(text);
  const Json f = j["stores"][0]["root"]["folders"][0]["folders"][0];
  EXPECT_EQ(f["entryId"], hhId);
  EXPECT_EQ(f["count"], 4);
  EXPECT_EQ(f["messages"][0]["entryId"], itemId);
  EXPECT_EQ(s->GetMessageFromID(f["messages"][0]["entryId"].get<std::string>())->Subject(),
            "Item 2");
}

TEST_F(DumpTest, ImportReplacesAStoreAndCreatesOwnerOnlyFiles) {
  Import(AgentMailbox());
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Import(Dump(Json::array({Mailbox("other")})));
  auto s = NewEmbeddedSession();
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_FALSE(s->LoggedOn());
  s->LogonExchangeMailbox("other", path);
  EXPECT_TRUE(s->LoggedOn());
  // A file of another program is not replaced.
  const std::string foreign = dir + "/foreign.db";
  { std::ofstream(foreign) << std::string(200, 'x'); }
  std::string error;
  EXPECT_FALSE(ImportDump(AgentMailbox().dump(), foreign, &error));
  EXPECT_NE(error.find("not replaced"), std::string::npos) << error;
}

}  // namespace
}  // namespace oa::store::testing

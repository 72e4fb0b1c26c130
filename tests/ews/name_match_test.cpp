// One case folding for names: the embedded store, the EWS backend and the path lookup's
// comparison (text::Fold of the trimmed names) agree on which folder a name finds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/session_registry.h"
#include "mailbox/store/embedded_store.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using oa::testing::Dump;
using oa::testing::MailboxStore;

const std::vector<std::string> kFolders = {"Ünïcode",  "ΟΔΟΣ",   "Москва",
                                           "İstanbul", "Straße", "Kelvin"};

// The folder of the top of the information store that `asked` finds; "" for none.
std::string Found(RDOSession& s, const std::string& asked) {
  Err().Clear();
  auto f = s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item(asked);
  return f ? f->Name() : "";
}

// The sibling the path lookup takes for `asked`.
std::string PathLookupMatch(const std::string& asked) {
  for (const std::string& name : kFolders)
    if (text::Fold(text::TrimBlanks(name)) == text::Fold(text::TrimBlanks(asked))) return name;
  return text::EqualIgnoringCase(asked, "Handhelds") ? "Handhelds" : "";
}

class NameMatching : public ServedStore {};

TEST_F(NameMatching, StoreEwsAndPathLookupFindTheSameFolder) {
  nlohmann::json store = MailboxStore({.alias = "jdoe"});
  for (auto& f : store["root"]["folders"])
    if (f.value("name", "") == "Top of Information Store")
      for (const std::string& name : kFolders) f["folders"].push_back({{"name", name}});
  Serve(Dump({store}));

  store::RegisterEmbeddedSessionClass();
  auto local = FindSessionClass(kSessionProgID)();
  local->LogonExchangeMailbox("jdoe", storeFile);
  ASSERT_TRUE(local->LoggedOn()) << Err().Description();
  EwsSession remote(backends.ews);
  remote.LogonExchangeMailbox("jdoe", server->url());
  ASSERT_TRUE(remote.LoggedOn()) << Err().Description();

  struct Case {
    std::string asked, found;
  };
  const std::vector<Case> cases = {
      {"HANDHELDS", "Handhelds"},
      {"handhelds", "Handhelds"},
      {"üNÏCODE", "Ünïcode"},
      {"Unicode", ""},   // accents are letters of their own
      {"οδος", "ΟΔΟΣ"},  // final sigma folds with both capital and medial sigma
      {"οδοσ", "ΟΔΟΣ"},
      {"МОСКВА", "Москва"},
      {"москва", "Москва"},
      // No Turkic rules: the dotted capital I matches only itself, in any locale.
      {"İSTANBUL", "İstanbul"},
      {"istanbul", ""},
      {"ISTANBUL", ""},
      {"STRAẞE", "Straße"},  // capital sharp s; "SS" is a different name
      {"STRASSE", ""},
      {"\u212Aelvin", "Kelvin"},  // the Kelvin sign is a K
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Found(*local, c.asked), c.found) << "store: " << c.asked;
    EXPECT_EQ(Found(remote, c.asked), c.found) << "EWS: " << c.asked;
    EXPECT_EQ(PathLookupMatch(c.asked), c.found) << "path lookup: " << c.asked;
  }
  local->Logoff();
  remote.Logoff();
}

}  // namespace
}  // namespace oa::ews::testing

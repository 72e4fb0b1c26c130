// Finding the Handhelds folder in a real store: the path rules, entry IDs confirmed by the
// store, the second store, and the repair of HHEntryID after a find by path.
#include "handhelds/folder_lookup.h"

#include <gtest/gtest.h>

#include "tests/handhelds/store_run.h"

namespace oa::testing {

using handhelds::GetFolder;
using handhelds::GetFolderFromPath;
using handhelds::GetHandheldsFolder;

namespace {

class FolderLookup : public HostRun {
 protected:
  // A mailbox and a public store with folders for every path rule.
  void ImportTree(std::vector<json> faults = {}, json named = {{"HHPath", kHHPath}}) {
    Import(Dump({MailboxStore({Folder("Handhelds", "hh"), Folder("Devices", "devices", 0,
                                                                 {Folder("Handhelds", "dev-hh"),
                                                                  Folder(" Spaced ", "spaced")})},
                              AgentMessage(std::move(named))),
                 PublicStore({Folder("Handhelds", "pub-hh"),
                              Folder("Public Folders", "", 0,
                                     {Folder("All Public Folders", "pub-nested")})})},
                faults));
    ASSERT_TRUE(Connect());
    host.results.clear();
  }
  // The key's entry ID when the path resolves, "" when it does not; the lines it logged.
  std::string Resolve(const std::string& path) {
    host.results.clear();
    auto folder = GetFolderFromPath(host.run(), path);
    return folder ? folder->EntryID() : "";
  }
};

TEST_F(FolderLookup, MailboxPathsIgnoreOuterBackslashesCaseAndBlanks) {
  ImportTree();
  const std::string hh = IdOf("hh");
  for (const std::string path : {
           "\\\\Mailbox - John Doe\\Handhelds",
           "\\\\\\Mailbox - John Doe\\Handhelds\\\\",
           "Mailbox - John Doe\\Handhelds",
           "\\\\MAILBOX - john doe\\  hANDHELDS ",
           // Whatever comes before the store's name is dropped with it.
           "Archive\\Mailbox - John Doe\\Handhelds",
       }) {
    EXPECT_EQ(Resolve(path), hh) << path;
    EXPECT_TRUE(host.results.empty()) << path;
  }
  EXPECT_EQ(Resolve("\\\\Mailbox - John Doe\\Devices\\Handhelds"), IdOf("dev-hh"));
  EXPECT_EQ(Resolve("\\\\Mailbox - John Doe\\devices\\spaced"), IdOf("spaced"));
}

TEST_F(FolderLookup, PublicPathsAreCaseSensitiveAboveTheFolders) {
  ImportTree();
  EXPECT_EQ(Resolve("Public Folders\\All Public Folders\\Handhelds"), IdOf("pub-hh"));
  EXPECT_EQ(Resolve("\\\\Public Folders\\All Public Folders\\handhelds\\"), IdOf("pub-hh"));
  EXPECT_TRUE(host.results.empty());

  // Other letter case is a mailbox path, and the mailbox's name is not in it.
  EXPECT_EQ(Resolve("public folders\\all public folders\\Handhelds"), "");
  EXPECT_EQ(host.results,
            std::vector<std::string>{"GetFolderFromPath error: unable to identify root folder!"});

  // Without a backslash after it nothing is removed: both words are folders under the top.
  EXPECT_EQ(Resolve("Public Folders\\All Public Folders"), IdOf("pub-nested"));
  EXPECT_TRUE(host.results.empty());
}

TEST_F(FolderLookup, PathsThatDoNotResolveSayWhy) {
  ImportTree();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\\\\Mailbox - John Doe\\Devices\\\\Handhelds",
       "GetFolderFromPath error:  folder could not be found in specified location!"},
      {"\\\\Mailbox - John Doe\\Nothing\\Handhelds",
       "GetFolderFromPath error: Nothing folder could not be found in specified location!"},
      {"\\\\Mailbox - John Doe\\Devices\\ Nothing ",
       "GetFolderFromPath error:  Nothing  folder could not be found in specified location!"},
      {"\\\\Mailbox - John Doe",
       "GetFolderFromPath error: unable to locate  in specified location."},
      {"\\\\Mailbox - John Doe\\",
       "GetFolderFromPath error: unable to locate  in specified location."},
      {"\\\\Mailbox - Jane Roe\\Handhelds",
       "GetFolderFromPath error: unable to identify root folder!"},
      {"", "GetFolderFromPath error: unable to identify root folder!"},
  };
  for (const auto& [path, line] : cases) {
    EXPECT_EQ(Resolve(path), "") << path;
    EXPECT_EQ(host.results, std::vector<std::string>{line}) << path;
  }
}

TEST_F(FolderLookup, AnErrorDuringTheWalkFailsTheLookup) {
  // The first child of Devices cannot be read; the second is still found, but the error stands.
  ImportTree({Fault("Folders.Item", "devices", "none", 1)});
  EXPECT_EQ(Resolve("\\\\Mailbox - John Doe\\Devices\\spaced"), "");
  EXPECT_EQ(
      host.results,
      std::vector<std::string>{
          "GetFolderFromPath error: unable to locate Devices\\spaced in specified location."});
}

TEST_F(FolderLookup, PublicPathWithoutPublicFolders) {
  Import(Dump({MailboxStore({Folder("Handhelds", "hh")}, AgentMessage({{"HHPath", kHHPath}}))}));
  ASSERT_TRUE(Connect());
  EXPECT_EQ(Resolve("Public Folders\\All Public Folders\\Handhelds"), "");
  EXPECT_EQ(host.results, std::vector<std::string>{
                              "GetFolderFromPath error: Public Folder Infostore not available!"});
}

TEST_F(FolderLookup, FindByPathRepairsHHEntryIDSoTheNextLookupWorksByEntryID) {
  ImportTree();
  const std::string hh = IdOf("hh");
  EXPECT_NE(GetHandheldsFolder(host.run()), nullptr);
  EXPECT_EQ(host.results, std::vector<std::string>{
                              std::string("Retrieved Handhelds folder using path ") + kHHPath});
  EXPECT_EQ(host.run().hhEntryID, hh);
  EXPECT_EQ(NamedOf(AgentOf(Export()), "HHEntryID"), hh);

  ASSERT_TRUE(Connect());
  host.results.clear();
  auto again = GetHandheldsFolder(host.run());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->EntryID(), hh);
  EXPECT_EQ(host.results,
            std::vector<std::string>{"Retrieved Handhelds folder using EntryID " + hh});
}

TEST_F(FolderLookup, EntryIDThatFailsFallsBackToThePath) {
  const std::string missing = "00000000000102030405060708090A0B0C0D0E0F02000000000000FFFF";
  ImportTree({}, {{"HHEntryID", missing}, {"HHPath", kHHPath}});
  auto folder = GetHandheldsFolder(host.run());
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->EntryID(), IdOf("hh"));
  EXPECT_EQ(host.results, (std::vector<std::string>{
                              "Unable to get Handhelds folder using EntryID " + missing,
                              std::string("Retrieved Handhelds folder using path ") + kHHPath}));
}

TEST_F(FolderLookup, PublicFolderByEntryIDComesFromTheSecondStoreLookedUpOnce) {
  // Only the first look-up of the public store succeeds; a second one would empty the cache.
  json onlyOnce = Fault("Stores.FindExchangePublicFoldersStore", "", "none");
  onlyOnce["after"] = 1;
  ImportTree({onlyOnce});
  const std::string pub = IdOf("pub-hh");
  for (int i = 0; i < 2; ++i) {
    auto folder = GetFolder(host.run(), pub, "");
    ASSERT_NE(folder, nullptr) << i;
    EXPECT_EQ(folder->EntryID(), pub);
    EXPECT_EQ(host.run().folderStoreIDCache, IdOf("public"));
  }
  // GetMessage keeps its own cache.
  EXPECT_EQ(host.run().messageStoreIDCache, "");
  EXPECT_TRUE(host.results.empty());
}

TEST_F(FolderLookup, AFolderTheStoreDoesNotConfirmIsRejected) {
  json deny = {{"op", "Store.CompareEntryIDs"}, {"target", "hh"}, {"result", false}};
  ImportTree({deny});
  EXPECT_EQ(GetFolder(host.run(), IdOf("hh"), ""), nullptr);
  // The second store was tried.
  EXPECT_EQ(host.run().folderStoreIDCache, IdOf("public"));
}

TEST_F(FolderLookup, AFolderDeniedOnceIsTakenWhenTheSecondCheckConfirmsIt) {
  json denyOnce = {
      {"op", "Store.CompareEntryIDs"}, {"target", "hh"}, {"result", false}, {"times", 1}};
  ImportTree({denyOnce});
  auto folder = GetFolder(host.run(), IdOf("hh"), "");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->EntryID(), IdOf("hh"));
}

TEST_F(FolderLookup, AFolderWhoseCheckCannotBeMadeIsAccepted) {
  ImportTree({Fault("Store.CompareEntryIDs", "hh", "none")});
  auto folder = GetFolder(host.run(), IdOf("hh"), "");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->EntryID(), IdOf("hh"));
  EXPECT_TRUE(host.results.empty());
}

}  // namespace
}  // namespace oa::testing

#include "mailbox/store/demo.h"

#include <string>

#include "mailbox/store/dump.h"

namespace oa::store {
namespace {

using json = nlohmann::json;

struct DemoMailbox {
  std::string alias, fullName;
  int handhelds;      // items in the Handhelds folder; -1: none in the mailbox
  bool hhEntryId;     // the agent message has HHEntryID
  bool publicFolder;  // the agent points at the public Handhelds folder
  bool agent;         // the mailbox has agent data at all
};

json Note(const std::string& subject, const std::string& created) {
  return {{"class", "IPM.Note"}, {"subject", subject}, {"created", created}};
}

json MailboxStore(const DemoMailbox& m) {
  const std::string display = "Mailbox - " + m.fullName;
  json ipm = {
      {"name", "Top of Information Store"},
      {"ipmRoot", true},
      {"folders",
       json::array({{{"name", "Inbox"},
                     {"messages", json::array({Note("Welcome", "2026-01-05T08:00:00Z"),
                                               Note("Handheld rollout", "2026-02-10T14:30:00Z")})}},
                    {{"name", "Sent Items"}},
                    {{"name", "Deleted Items"}}})}};
  if (m.handhelds >= 0) {
    ipm["folders"].push_back(
        {{"name", "Handhelds"}, {"key", m.alias + "-hh"}, {"items", m.handhelds}});
  }
  json root = json::array({ipm});
  if (m.agent) {
    json named = json::object();
    if (m.publicFolder) {
      named["HHEntryID"] = {{"ref", "public-hh"}};
      named["HHPath"] = "Public Folders\\All Public Folders\\Handhelds";
    } else {
      if (m.hhEntryId) named["HHEntryID"] = {{"ref", m.alias + "-hh"}};
      named["HHPath"] = "\\\\" + display + "\\Handhelds";
    }
    json agent = {{"key", m.alias + "-agent"},
                  {"class", "ondavel.Agent"},
                  {"subject", "ondavelAgent"},
                  {"created", "2026-03-01T09:00:00Z"},
                  {"named", named}};
    root.push_back({{"name", "ondavelAgentInfo"},
                    {"key", m.alias + "-info"},
                    {"messages", json::array({agent})}});
  }
  return {{"kind", "mailbox"},
          {"key", m.alias},
          {"displayName", display},
          {"alias", m.alias},
          {"address", m.alias + "@example.com"},
          {"root", {{"folders", root}}}};
}

}  // namespace

json DemoDump() {
  const DemoMailbox mailboxes[] = {
      {"jdoe", "John Doe", 25, true, false, true},
      {"asmith", "Anna Smith", 1200, true, false, true},
      {"bbig", "Bob Big", 12000, true, false, true},
      {"cpath", "Carol Path", 40, false, false, true},
      {"dpublic", "Dan Public", -1, true, true, true},
      {"efault", "Eve Fault", 300, true, false, true},
      {"fnew", "Frank New", -1, false, false, false},
  };
  json stores = json::array();
  for (const DemoMailbox& m : mailboxes) stores.push_back(MailboxStore(m));
  stores.push_back({{"kind", "public"},
                    {"key", "public"},
                    {"displayName", "Public Folders"},
                    {"root",
                     {{"folders", json::array({{{"name", "IPM_SUBTREE"},
                                                {"allPublicFolders", true},
                                                {"folders", json::array({{{"name", "Handhelds"},
                                                                          {"key", "public-hh"},
                                                                          {"items", 60}}})}}})}}}});
  json faults = json::array({{{"op", "Folder.Delete"},
                              {"target", "efault-hh"},
                              {"error", "0x80004005"},
                              {"description", "Unspecified error"},
                              {"effect", "none"},
                              {"times", 1}}});
  return {{"format", kDumpFormat}, {"stores", stores}, {"faults", faults}};
}

}  // namespace oa::store

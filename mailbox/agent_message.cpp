#include "mailbox/agent_message.h"

#include <optional>
#include <string>
#include <vector>

#include "base/date.h"
#include "base/mapi_error.h"
#include "mailbox/basRDO.h"
#include "mailbox/confirmed_open.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

namespace {

const std::string kPrefix = "GetAgentMessage ";

std::optional<oa::Date> ReadCreationTime(RDOMail& mail) {
  Err().Clear();
  const oa::Variant created = mail.CreationTime();
  if (Err().Pending() || created.type() != oa::Variant::Type::Date) return std::nullopt;
  return created.AsDate();
}

// Keeps the oldest of the agent messages offered to it and hard-deletes the others. An entry
// whose creation time cannot be read (or a kept message whose time cannot be read) never costs
// the other message its place: the entry is left alone.
class DuplicateResolver {
 public:
  explicit DuplicateResolver(RunContext& run) : run_(run) {}

  void Offer(const std::shared_ptr<RDOMail>& mail) {
    if (!mail) return;
    if (!kept_) {
      kept_ = mail;
      keptTime_.reset();
      return;
    }
    if (!keptTime_) keptTime_ = ReadCreationTime(*kept_);
    if (!keptTime_) return;
    const std::optional<oa::Date> created = ReadCreationTime(*mail);
    if (!created) return;
    if (*created < *keptTime_) {
      Remove(kept_, *keptTime_);
      if (run_.Ended()) return;
      kept_ = mail;
      keptTime_ = created;
    } else {
      Remove(mail, *created);
    }
  }

  const std::shared_ptr<RDOMail>& kept() const { return kept_; }

 private:
  // Hard-deletes an extra agent message; a dry run notes it instead.
  void Remove(const std::shared_ptr<RDOMail>& extra, oa::Date created) {
    if (run_.dryRun) {
      Err().Clear();
      std::string id = extra->EntryID();
      if (Err().Pending()) id.clear();
      run_.Plan({.kind = PlannedChange::Kind::deleteExtraAgentMessage,
                 .entryID = id,
                 .created = oa::GeneralDateText(created)});
      return;
    }
    run_.WriteLog(kPrefix + "deleting extra agent message created " + oa::GeneralDateText(created));
    if (run_.Ended()) return;
    extra->Delete(mailbox::ConstMAPI::dfHardDelete);
    ++run_.outcome.extraAgentMessagesDeleted;
  }

  RunContext& run_;
  std::shared_ptr<RDOMail> kept_;
  std::optional<oa::Date> keptTime_;
};

// Every item of the folder is taken by position before any is examined, so that deleting
// extras cannot shift an item past the scan or bring one round twice.
void ScanFolder(RunContext& run, mailbox::RDOItems& items, int32_t count,
                DuplicateResolver& resolver) {
  std::vector<std::shared_ptr<RDOMail>> all;
  all.reserve(static_cast<size_t>(count));
  for (int32_t i = 1; i <= count; ++i) all.push_back(items.Item(i));
  for (const std::shared_ptr<RDOMail>& mail : all) {
    if (run.Ended()) return;
    if (!mail) continue;
    Err().Clear();
    const std::string messageClass = mail->MessageClass();
    if (Err().Pending()) continue;
    if (messageClass == kAgentMessageClass) resolver.Offer(mail);
  }
}

}  // namespace

std::shared_ptr<RDOMail> GetAgentMessage(RunContext& run) {
  oa::ErrScope scope;
  DuplicateResolver resolver(run);

  const std::vector<std::string> ids =
      mailbox::FindMessageIDs(run.agentInfoFolder, kAgentMessageClass, kAgentMessageSubject);
  size_t n = ids.size();
  if (n == 1 && ids[0].empty()) n = 0;

  if (n == 0) {
    std::shared_ptr<mailbox::RDOItems> items;
    int32_t count = 0;
    if (run.agentInfoFolder) items = run.agentInfoFolder->Items();
    if (items) count = items->Count();
    if (count < 1) {
      run.WriteLog(kPrefix + "no messages in AgentInfo folder");
    } else {
      run.WriteLog(kPrefix + "nothing returned by filter; iterating through " +
                   std::to_string(count));
      if (!run.Ended()) ScanFolder(run, *items, count, resolver);
    }
  } else if (n == 1) {
    run.WriteLog(kPrefix + "filter returned agent message ID");
    if (!run.Ended()) resolver.Offer(GetMessage(run, ids[0], ""));
  } else {
    run.WriteLog(kPrefix + "filter returned " + std::to_string(n) + " ID(s) for agent message");
    for (const std::string& id : ids) {
      if (run.Ended()) break;
      resolver.Offer(GetMessage(run, id, ""));
    }
  }
  if (run.Ended()) return nullptr;

  std::shared_ptr<RDOMail> kept = resolver.kept();
  if (!kept) {
    run.WriteLog(kPrefix + "found no existing agent message");
    return nullptr;
  }
  run.WriteLog(kPrefix + "found existing agent message");
  if (run.Ended()) return nullptr;
  Err().Clear();
  std::string keptID = kept->EntryID();
  if (!Err().Pending()) run.agentMessageEntryID = std::move(keptID);
  return kept;
}

std::shared_ptr<RDOMail> GetMessage(RunContext& run, const std::string& EntryID,
                                    const std::string& StoreID) {
  oa::ErrScope scope;
  std::shared_ptr<mailbox::RDOSession> session = run.RDO;
  if (!session) return nullptr;
  auto opened = mailbox::OpenConfirmed<RDOMail>(
      *session, EntryID, StoreID, run.messageStoreIDCache,
      [&](const std::string& storeID) { return session->GetMessageFromID(EntryID, storeID); });
  if (opened.check == mailbox::Confirmation::Failed) {
    run.WriteLog("GetMessage CompareEntryIDs error:" + std::to_string(opened.failure.Number()) +
                 " " + opened.failure.Description());
  }
  return opened.object;
}

}  // namespace oa::mailbox

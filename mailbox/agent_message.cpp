#include "mailbox/agent_message.h"

#include <optional>
#include <string>
#include <vector>

#include "base/date.h"
#include "base/mapi_error.h"
#include "console/form.h"
#include "mailbox/basGlobals.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa {

using mailbox::Err;
using mailbox::RDOMail;

namespace {

const std::string kPrefix = "GetAgentMessage ";

std::optional<mailbox::Date> ReadCreationTime(RDOMail& mail) {
  Err().Clear();
  const mailbox::Variant created = mail.CreationTime();
  if (Err().Pending() || created.type() != mailbox::Variant::Type::Date) return std::nullopt;
  return created.AsDate();
}

// Keeps the oldest of the agent messages offered to it and hard-deletes the others. An entry
// whose creation time cannot be read (or a kept message whose time cannot be read) never costs
// the other message its place: the entry is left alone.
class DuplicateResolver {
 public:
  explicit DuplicateResolver(Form& form) : form_(form) {}

  void Offer(const std::shared_ptr<RDOMail>& mail) {
    if (!mail) return;
    if (!kept_) {
      kept_ = mail;
      keptTime_.reset();
      return;
    }
    if (!keptTime_) keptTime_ = ReadCreationTime(*kept_);
    if (!keptTime_) return;
    const std::optional<mailbox::Date> created = ReadCreationTime(*mail);
    if (!created) return;
    if (*created < *keptTime_) {
      form_.WriteLog(kPrefix + "deleting extra agent message created " +
                     mailbox::GeneralDateText(*keptTime_));
      kept_->Delete(mailbox::ConstMAPI::dfHardDelete);
      kept_ = mail;
      keptTime_ = created;
    } else {
      form_.WriteLog(kPrefix + "deleting extra agent message created " +
                     mailbox::GeneralDateText(*created));
      mail->Delete(mailbox::ConstMAPI::dfHardDelete);
    }
  }

  const std::shared_ptr<RDOMail>& kept() const { return kept_; }

 private:
  Form& form_;
  std::shared_ptr<RDOMail> kept_;
  std::optional<mailbox::Date> keptTime_;
};

// Every item of the folder is taken by position before any is examined, so that deleting
// extras cannot shift an item past the scan or bring one round twice.
void ScanFolder(mailbox::RDOItems& items, int32_t count, DuplicateResolver& resolver) {
  std::vector<std::shared_ptr<RDOMail>> all;
  all.reserve(static_cast<size_t>(count));
  for (int32_t i = 1; i <= count; ++i) all.push_back(items.Item(i));
  for (const std::shared_ptr<RDOMail>& mail : all) {
    if (!mail) continue;
    Err().Clear();
    const std::string messageClass = mail->MessageClass();
    if (Err().Pending()) continue;
    if (messageClass == kAgentMessageClass) resolver.Offer(mail);
  }
}

enum class Confirmation { Confirmed, Denied, Failed };

// Whether the message's store says the message's own entry ID and the requested one are the
// same object. Failed when any call of the check fails; its error stays pending.
Confirmation ConfirmEntryID(RDOMail& mail, const std::string& EntryID) {
  Err().Clear();
  const std::string own = mail.EntryID();
  if (Err().Pending()) return Confirmation::Failed;
  std::shared_ptr<mailbox::RDOStore> store = mail.Store();
  if (!store && !Err().Pending())
    Err().Raise(mailbox::ConstMAPI::ERR_OBJECT_NOT_SET, "Object variable not set");
  if (Err().Pending()) return Confirmation::Failed;
  const bool same = store->CompareEntryIDs(own, EntryID);
  if (Err().Pending()) return Confirmation::Failed;
  return same ? Confirmation::Confirmed : Confirmation::Denied;
}

std::string PublicStoreEntryID() {
  if (!RDO) return "";
  std::shared_ptr<mailbox::RDOStores> stores = RDO->Stores();
  if (!stores) return "";
  std::shared_ptr<mailbox::RDOStore> publicStore = stores->FindExchangePublicFoldersStore();
  if (!publicStore) return "";
  return publicStore->EntryID();
}

}  // namespace

std::shared_ptr<RDOMail> GetAgentMessage(Form& form) {
  mailbox::ErrScope scope;
  DuplicateResolver resolver(form);

  const std::vector<std::string> ids =
      basRDO::FindMessageIDs(form.agentInfoFolder, kAgentMessageClass, kAgentMessageSubject);
  size_t n = ids.size();
  if (n == 1 && ids[0].empty()) n = 0;

  if (n == 0) {
    std::shared_ptr<mailbox::RDOItems> items;
    int32_t count = 0;
    if (form.agentInfoFolder) items = form.agentInfoFolder->Items();
    if (items) count = items->Count();
    if (count < 1) {
      form.WriteLog(kPrefix + "no messages in AgentInfo folder");
    } else {
      form.WriteLog(kPrefix + "nothing returned by filter; iterating through " +
                    std::to_string(count));
      ScanFolder(*items, count, resolver);
    }
  } else if (n == 1) {
    form.WriteLog(kPrefix + "filter returned agent message ID");
    resolver.Offer(GetMessage(form, ids[0], ""));
  } else {
    form.WriteLog(kPrefix + "filter returned " + std::to_string(n) + " ID(s) for agent message");
    for (const std::string& id : ids) resolver.Offer(GetMessage(form, id, ""));
  }

  std::shared_ptr<RDOMail> kept = resolver.kept();
  if (!kept) {
    form.WriteLog(kPrefix + "found no existing agent message");
    return nullptr;
  }
  form.WriteLog(kPrefix + "found existing agent message");
  Err().Clear();
  std::string keptID = kept->EntryID();
  if (!Err().Pending()) form.agentMessageEntryID = std::move(keptID);
  return kept;
}

std::shared_ptr<RDOMail> GetMessage(Form& form, const std::string& EntryID,
                                    const std::string& StoreID) {
  mailbox::ErrScope scope;
  std::shared_ptr<RDOMail> mail;
  if (RDO) mail = RDO->GetMessageFromID(EntryID, StoreID);

  if (!mail || ConfirmEntryID(*mail, EntryID) != Confirmation::Confirmed) {
    if (form.messageStoreIDCache.empty()) form.messageStoreIDCache = PublicStoreEntryID();
    if (RDO) {
      if (std::shared_ptr<RDOMail> retried =
              RDO->GetMessageFromID(EntryID, form.messageStoreIDCache))
        mail = std::move(retried);
    }
  }

  Err().Clear();
  if (!mail) return nullptr;
  switch (ConfirmEntryID(*mail, EntryID)) {
    case Confirmation::Confirmed:
      return mail;
    case Confirmation::Denied:
      return nullptr;
    case Confirmation::Failed: {
      const mailbox::ErrObject failure = Err();
      form.WriteLog("GetMessage CompareEntryIDs error:" + std::to_string(failure.Number()) + " " +
                    failure.Description());
      return mail;
    }
  }
  return nullptr;
}

}  // namespace oa

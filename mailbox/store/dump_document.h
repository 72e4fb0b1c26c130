// The documents a store dump is read into before anything is written: checked whole, with
// every key resolved, so that writing cannot fail on the document itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mailbox/store/entry_id.h"
#include "mailbox/store/faults.h"
#include "mailbox/store/sqlite_db.h"
#include "mailbox/store/values.h"

namespace oa::store::dump {

struct NamedValue {
  std::string name, place;
  bool isRef = false;
  std::string text;  // the value, or the key a ref names
};

struct Message {
  std::string place;
  std::optional<std::string> key;
  std::optional<EntryId> eid;
  std::string cls = "IPM.Note", subject;
  int64_t created = 0;
  std::vector<NamedValue> named;
  std::vector<std::pair<int32_t, SqlValue>> props;
  int64_t id = 0;
};

struct Folder {
  std::string place;
  std::optional<std::string> key;
  std::optional<EntryId> eid;
  std::string name;
  bool ipmRoot = false, allPublic = false;
  std::vector<Folder> folders;
  std::vector<Message> messages;
  int64_t items = 0;
  int64_t id = 0;
};

struct Store {
  std::string place;
  bool isPublic = false;
  std::optional<std::string> key;
  std::optional<EntryId> eid;
  std::string displayName, alias, address;
  Guid guid{};
  Folder root;
  int64_t subtreeId = 0;
};

struct Fault {
  std::string place, op;
  std::optional<std::string> target;
  std::optional<FaultTarget> resolved;
  std::optional<int64_t> error;
  std::optional<std::string> description;
  std::string effect = "none";
  std::optional<bool> result;
  int64_t after = 0;
  std::optional<int64_t> times;
};

struct Document {
  std::vector<Store> stores;
  std::vector<Fault> faults;
  // The import's clock, in Unix milliseconds: filler items are dated back from it.
  int64_t now = 0;
  // The first message ID free for filler items.
  int64_t nextMessage = 1;
};

// Writes the checked document into a new, empty store file in one transaction.
void WriteDocument(Db& db, const Document& doc);

}  // namespace oa::store::dump

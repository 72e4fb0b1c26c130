// Import of a store dump: read and check the whole document first, then write a new file
// beside the store file and rename it over the old one.
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "base/platform.h"
#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/dump_document.h"
#include "mailbox/store/dump_fields.h"
#include "mailbox/store/entry_id.h"
#include "mailbox/store/faults.h"
#include "mailbox/store/file_replace.h"
#include "mailbox/store/named_props.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/values.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;
using json = nlohmann::json;

namespace {

using dump::Fault;
using dump::Folder;
using dump::LineAndColumn;
using dump::Member;
using dump::Message;
using dump::NamedValue;
using dump::OptBool;
using dump::OptCount;
using dump::OptEntryId;
using dump::OptKey;
using dump::OptString;
using dump::PointerPart;
using dump::Refusal;
using dump::Refuse;
using dump::Store;

// What a key names.
struct Keyed {
  std::string place;
  ObjectKind kind;
  size_t store;
  const int64_t* id;  // folder or message ID, once given
};

constexpr int64_t kMaxItems = 100'000'000;
// A folder lies two levels of JSON below its parent (its object in the parent's "folders"
// array); the rest is the levels around the root folder and within a message.
constexpr int kMaxDocumentDepth = 2 * kMaxFolderDepth + 16;

std::string TooDeep() {
  return "nested too deeply: folders may be nested " + std::to_string(kMaxFolderDepth) +
         " levels deep at most";
}

class Reader {
 public:
  explicit Reader(int64_t now) : now_(now) {}

  void Read(const json& doc) {
    if (!doc.is_object()) Refuse("", "the document is not a JSON object");
    const json* format = Member(doc, "format");
    if (!format) Refuse("/format", "missing; it must be \"" + std::string(kDumpFormat) + "\"");
    if (!format->is_string() || format->get<std::string>() != kDumpFormat) {
      Refuse("/format", "unknown format " + format->dump() + "; it must be \"" +
                            std::string(kDumpFormat) + "\"");
    }
    const json* stores = Member(doc, "stores");
    if (!stores) Refuse("/stores", "missing");
    if (!stores->is_array()) Refuse("/stores", "must be an array");
    for (size_t i = 0; i < stores->size(); ++i) {
      stores_.push_back(ReadStore((*stores)[i], "/stores/" + std::to_string(i)));
    }
    if (const json* faults = Member(doc, "faults")) {
      if (!faults->is_array()) Refuse("/faults", "must be an array");
      for (size_t i = 0; i < faults->size(); ++i) {
        faults_.push_back(ReadFault((*faults)[i], "/faults/" + std::to_string(i)));
      }
    }
    Check();
  }

  std::vector<Store> stores_;
  std::vector<Fault> faults_;
  std::map<std::string, Keyed> keys_;

 private:
  Store ReadStore(const json& j, const std::string& place) {
    if (!j.is_object()) Refuse(place, "a store must be an object");
    Store s;
    s.place = place;
    auto kind = OptString(j, "kind", place);
    if (!kind) Refuse(place + "/kind", "missing; it must be \"mailbox\" or \"public\"");
    if (*kind != "mailbox" && *kind != "public") {
      Refuse(place + "/kind",
             "unknown kind \"" + *kind + "\"; it must be \"mailbox\" or \"public\"");
    }
    s.isPublic = *kind == "public";
    s.key = OptKey(j, place);
    auto name = OptString(j, "displayName", place);
    if (!name) Refuse(place + "/displayName", "missing");
    s.displayName = *name;
    auto alias = OptString(j, "alias", place);
    auto address = OptString(j, "address", place);
    if (s.isPublic) {
      if (alias) Refuse(place + "/alias", "the public store has no alias");
      if (address) Refuse(place + "/address", "the public store has no address");
    } else {
      if (!alias || alias->empty()) Refuse(place + "/alias", "a mailbox store needs an alias");
      if (!address || address->empty()) {
        Refuse(place + "/address", "a mailbox store needs an address");
      }
      s.alias = *alias;
      s.address = *address;
    }
    s.eid = OptEntryId(j, place, ObjectKind::Store);
    if (const json* root = Member(j, "root")) {
      s.root = ReadFolder(*root, place + "/root", 0);
    } else {
      s.root.place = place + "/root";
    }
    return s;
  }

  // `depth`: how far below the store's root folder (0) the folder lies.
  Folder ReadFolder(const json& j, const std::string& place, int depth) {
    const bool isRoot = depth == 0;
    if (depth > kMaxFolderDepth) Refuse(place, TooDeep());
    if (!j.is_object()) Refuse(place, "a folder must be an object");
    Folder f;
    f.place = place;
    f.key = OptKey(j, place);
    f.eid = OptEntryId(j, place, ObjectKind::Folder);
    auto name = OptString(j, "name", place);
    if (!name && !isRoot) Refuse(place + "/name", "missing");
    if (name) f.name = *name;
    if (!isRoot && f.name.empty()) Refuse(place + "/name", "a folder name must not be empty");
    f.ipmRoot = OptBool(j, "ipmRoot", place);
    f.allPublic = OptBool(j, "allPublicFolders", place);
    if (isRoot && (f.ipmRoot || f.allPublic)) {
      Refuse(place, "the root folder itself cannot be the IPM root or all public folders");
    }
    f.items = OptCount(j, "items", place, kMaxItems).value_or(0);
    if (const json* sub = Member(j, "folders")) {
      if (!sub->is_array()) Refuse(place + "/folders", "must be an array");
      for (size_t i = 0; i < sub->size(); ++i) {
        f.folders.push_back(
            ReadFolder((*sub)[i], place + "/folders/" + std::to_string(i), depth + 1));
      }
    }
    if (const json* msgs = Member(j, "messages")) {
      if (!msgs->is_array()) Refuse(place + "/messages", "must be an array");
      for (size_t i = 0; i < msgs->size(); ++i) {
        f.messages.push_back(ReadMessage((*msgs)[i], place + "/messages/" + std::to_string(i)));
      }
    }
    return f;
  }

  Message ReadMessage(const json& j, const std::string& place) {
    if (!j.is_object()) Refuse(place, "a message must be an object");
    Message m;
    m.place = place;
    m.key = OptKey(j, place);
    m.eid = OptEntryId(j, place, ObjectKind::Message);
    if (auto c = OptString(j, "class", place)) m.cls = *c;
    if (auto s = OptString(j, "subject", place)) m.subject = *s;
    m.created = now_;
    if (auto t = OptString(j, "created", place)) {
      auto ms = ParseIsoUtc(*t);
      if (!ms) Refuse(place + "/created", "not an ISO 8601 time in UTC ending in Z");
      m.created = *ms;
    }
    if (const json* named = Member(j, "named")) {
      if (!named->is_object()) Refuse(place + "/named", "must be an object");
      for (const auto& [name, v] : named->items()) {
        const std::string vp = place + "/named" + PointerPart(name);
        if (name.empty()) Refuse(vp, "a named property needs a name");
        NamedValue nv{name, vp, false, ""};
        if (v.is_string()) {
          nv.text = v.get<std::string>();
        } else if (v.is_object() && v.size() == 1 && v.contains("ref") && v["ref"].is_string()) {
          nv.isRef = true;
          nv.text = v["ref"].get<std::string>();
        } else {
          Refuse(vp, "must be a string or {\"ref\": KEY}");
        }
        m.named.push_back(std::move(nv));
      }
    }
    if (const json* props = Member(j, "props")) {
      if (!props->is_object()) Refuse(place + "/props", "must be an object");
      for (const auto& [tagText, v] : props->items()) ReadProp(m, tagText, v, place);
    }
    return m;
  }

  void ReadProp(Message& m, const std::string& tagText, const json& v, const std::string& place) {
    const std::string vp = place + "/props" + PointerPart(tagText);
    const auto bytes =
        tagText.size() == 10 && (tagText[1] == 'x' || tagText[1] == 'X') && tagText[0] == '0'
            ? HexDecode(tagText.substr(2))
            : std::nullopt;
    if (!bytes) Refuse(vp, "a property tag must be 0x and eight hexadecimal digits");
    uint32_t u = 0;
    for (uint8_t b : *bytes) u = (u << 8) | b;
    const auto tag = static_cast<int32_t>(u);
    const int32_t type = PropType(tag), id = PropId(tag);
    if (!IsSupportedPropType(type)) Refuse(vp, "unsupported property type");
    if (id == 0) Refuse(vp, "property ID 0 names no property");
    if (id == 0x0FFF || id == 0x6670) Refuse(vp, "the entry ID is given by \"entryId\"");
    auto wrong = [&](const char* what) { Refuse(vp, std::string("the value must be ") + what); };
    SqlValue value;
    switch (type) {
      case PT_STRING8:
      case PT_UNICODE:
        if (!v.is_string()) wrong("a string");
        value = v.get<std::string>();
        break;
      case PT_I2:
      case PT_LONG: {
        const int64_t lo = type == PT_I2 ? -32768 : INT32_MIN;
        const int64_t hi = type == PT_I2 ? 32767 : INT32_MAX;
        if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi) {
          wrong(type == PT_I2 ? "a whole number from -32768 to 32767"
                              : "a whole number in the 32-bit range");
        }
        value = v.get<int64_t>();
        break;
      }
      case PT_BOOLEAN:
        if (!v.is_boolean()) wrong("true or false");
        value = int64_t{v.get<bool>() ? 1 : 0};
        break;
      case PT_SYSTIME: {
        auto ms = v.is_string() ? ParseIsoUtc(v.get<std::string>()) : std::nullopt;
        if (!ms) wrong("an ISO 8601 time in UTC ending in Z");
        value = *ms;
        break;
      }
      case PT_BINARY: {
        auto b = v.is_string() ? HexDecode(v.get<std::string>()) : std::nullopt;
        if (!b) wrong("a hexadecimal string");
        value = *b;
        break;
      }
    }
    // The message's own fields have their tags too.
    if (id == 0x0037 && (type == PT_STRING8 || type == PT_UNICODE)) {
      m.subject = std::get<std::string>(value);
    } else if (id == 0x001A && (type == PT_STRING8 || type == PT_UNICODE)) {
      m.cls = std::get<std::string>(value);
    } else if (id == 0x3007 && type == PT_SYSTIME) {
      m.created = std::get<int64_t>(value);
    } else if (id == 0x0037 || id == 0x001A || id == 0x3007) {
      Refuse(vp, "the type does not fit this property");
    } else {
      m.props.emplace_back(tag, std::move(value));
    }
  }

  Fault ReadFault(const json& j, const std::string& place) {
    if (!j.is_object()) Refuse(place, "a fault must be an object");
    Fault f;
    f.place = place;
    auto op = OptString(j, "op", place);
    if (!op) Refuse(place + "/op", "missing");
    if (!mailbox::FaultOpByName(*op)) Refuse(place + "/op", "unknown operation \"" + *op + "\"");
    f.op = *op;
    f.target = OptString(j, "target", place);
    if (auto e = OptString(j, "error", place)) {
      auto b =
          e->size() == 10 && e->compare(0, 2, "0x") == 0 ? HexDecode(e->substr(2)) : std::nullopt;
      if (!b) Refuse(place + "/error", "an error must be 0x and eight hexadecimal digits");
      uint32_t u = 0;
      for (uint8_t c : *b) u = (u << 8) | c;
      f.error = static_cast<int32_t>(u);
    }
    f.description = OptString(j, "description", place);
    if (auto effect = OptString(j, "effect", place)) {
      if (*effect != "none" && *effect != "applied" && *effect != "silent") {
        Refuse(place + "/effect", "must be \"none\", \"applied\" or \"silent\"");
      }
      f.effect = *effect;
    }
    if (const json* r = Member(j, "result")) {
      if (!r->is_boolean()) Refuse(place + "/result", "must be true or false");
      if (f.op != "Store.CompareEntryIDs") {
        Refuse(place + "/result", "only a call that answers a Boolean takes a result");
      }
      f.result = r->get<bool>();
    }
    f.after = OptCount(j, "after", place, INT32_MAX).value_or(0);
    f.times = OptCount(j, "times", place, INT32_MAX);
    return f;
  }

  // --- the checks across the document ---

  template <class F>
  static void EachFolder(Folder& f, F&& fn) {
    fn(f);
    for (Folder& c : f.folders) EachFolder(c, fn);
  }

  void Check() {
    const Store* firstPublic = nullptr;
    for (Store& s : stores_) {
      if (s.isPublic) {
        if (firstPublic) {
          Refuse(s.place + "/kind",
                 "a second public store (the first is " + firstPublic->place + ")");
        }
        firstPublic = &s;
      }
      CheckSubtreeFolder(s);
      EachFolder(s.root, [&](Folder& f) { CheckSiblings(f); });
    }
    CollectKeys();
    AssignGuids();
    AssignIds();
    ResolveRefs();
  }

  static void CheckSubtreeFolder(Store& s) {
    const char* flag = s.isPublic ? "allPublicFolders" : "ipmRoot";
    const char* wrongFlag = s.isPublic ? "ipmRoot" : "allPublicFolders";
    Folder* subtree = nullptr;
    for (Folder& c : s.root.folders) {
      if (s.isPublic ? c.ipmRoot : c.allPublic) {
        Refuse(c.place + "/" + wrongFlag,
               std::string("not allowed in a ") + (s.isPublic ? "public" : "mailbox") + " store");
      }
      if (s.isPublic ? c.allPublic : c.ipmRoot) {
        if (subtree) {
          Refuse(c.place + "/" + flag, std::string("a second folder with \"") + flag +
                                           "\" (the first is " + subtree->place + ")");
        }
        subtree = &c;
      }
      for (Folder& d : c.folders) {
        EachFolder(d, [&](Folder& f) {
          if (f.ipmRoot || f.allPublic) {
            Refuse(f.place,
                   "only a child of the root folder can be the IPM root or all public "
                   "folders");
          }
        });
      }
    }
    if (subtree) return;
    const std::string name = s.isPublic ? "IPM_SUBTREE" : "Top of Information Store";
    for (Folder& c : s.root.folders) {
      if (text::Fold(c.name) == text::Fold(name)) subtree = &c;
    }
    if (!subtree) {
      Folder f;
      f.place = s.root.place + "/folders/" + std::to_string(s.root.folders.size());
      f.name = name;
      s.root.folders.push_back(std::move(f));
      subtree = &s.root.folders.back();
    }
    (s.isPublic ? subtree->allPublic : subtree->ipmRoot) = true;
  }

  static void CheckSiblings(const Folder& f) {
    std::map<std::string, std::string> seen;
    for (const Folder& c : f.folders) {
      auto [it, fresh] = seen.emplace(text::Fold(c.name), c.place);
      if (!fresh) {
        Refuse(c.place + "/name",
               "a sibling folder has the same name \"" + c.name + "\" (" + it->second + "/name)");
      }
    }
  }

  void AddKey(const std::optional<std::string>& key, const std::string& place, ObjectKind kind,
              size_t store, const int64_t* id) {
    if (!key) return;
    auto [it, fresh] = keys_.emplace(*key, Keyed{place, kind, store, id});
    if (!fresh) {
      Refuse(place + "/key",
             "duplicate key \"" + *key + "\" (also at " + it->second.place + "/key)");
    }
  }

  void CollectKeys() {
    for (size_t i = 0; i < stores_.size(); ++i) {
      Store& s = stores_[i];
      AddKey(s.key, s.place, ObjectKind::Store, i, nullptr);
      EachFolder(s.root, [&](Folder& f) {
        AddKey(f.key, f.place, ObjectKind::Folder, i, &f.id);
        for (Message& m : f.messages) AddKey(m.key, m.place, ObjectKind::Message, i, &m.id);
      });
    }
  }

  void AssignGuids() {
    std::map<Guid, std::string> seen;
    for (Store& s : stores_) {
      std::optional<Guid> guid;
      std::string from;
      if (s.eid) {
        guid = s.eid->store;
        from = s.place;
      }
      EachFolder(s.root, [&](Folder& f) {
        auto check = [&](const std::optional<EntryId>& eid, const std::string& place) {
          if (!eid) return;
          if (!guid) {
            guid = eid->store;
            from = place;
          } else if (eid->store != *guid) {
            Refuse(place + "/entryId", "belongs to another store than " + from + "/entryId");
          }
        };
        check(f.eid, f.place);
        for (Message& m : f.messages) check(m.eid, m.place);
      });
      s.guid = guid ? *guid : NewGuid();
      auto [it, fresh] = seen.emplace(s.guid, s.place);
      if (!fresh) {
        Refuse(s.place + "/entryId", "the same store entry ID as " + it->second);
      }
    }
  }

  void AssignIds() {
    std::map<int64_t, std::string> folderIds, messageIds;
    auto claim = [](std::map<int64_t, std::string>& ids, const std::optional<EntryId>& eid,
                    const std::string& place, int64_t& id) {
      if (!eid) return;
      auto [it, fresh] = ids.emplace(eid->id, place);
      if (!fresh) Refuse(place + "/entryId", "duplicate entry ID (also at " + it->second + ")");
      id = eid->id;
    };
    for (Store& s : stores_) {
      EachFolder(s.root, [&](Folder& f) {
        claim(folderIds, f.eid, f.place, f.id);
        for (Message& m : f.messages) claim(messageIds, m.eid, m.place, m.id);
      });
    }
    nextFolder_ = folderIds.empty() ? 1 : folderIds.rbegin()->first + 1;
    nextMessage_ = messageIds.empty() ? 1 : messageIds.rbegin()->first + 1;
    for (Store& s : stores_) {
      EachFolder(s.root, [&](Folder& f) {
        if (!f.id) f.id = nextFolder_++;
        for (Message& m : f.messages) {
          if (!m.id) m.id = nextMessage_++;
        }
      });
      for (Folder& c : s.root.folders) {
        if (c.ipmRoot || c.allPublic) s.subtreeId = c.id;
      }
    }
  }

  void ResolveRefs() {
    auto entryText = [&](const Keyed& k) {
      const Guid& g = stores_[k.store].guid;
      return EntryIdText({g, k.kind, k.id ? *k.id : 0});
    };
    for (Store& s : stores_) {
      EachFolder(s.root, [&](Folder& f) {
        for (Message& m : f.messages) {
          for (NamedValue& nv : m.named) {
            if (!nv.isRef) continue;
            auto it = keys_.find(nv.text);
            if (it == keys_.end()) Refuse(nv.place + "/ref", "unresolved ref \"" + nv.text + "\"");
            nv.text = entryText(it->second);
          }
        }
      });
    }
    for (Fault& f : faults_) {
      if (!f.target) continue;
      auto it = keys_.find(*f.target);
      if (it == keys_.end()) Refuse(f.place + "/target", "unresolved target \"" + *f.target + "\"");
      const Keyed& k = it->second;
      f.resolved = FaultTarget{
          k.kind, k.kind == ObjectKind::Store ? static_cast<int64_t>(k.store) + 1 : *k.id};
    }
  }

 public:
  int64_t now_;
  int64_t nextFolder_ = 1, nextMessage_ = 1;
};

// The old file must be one of ours (or empty); its log is folded in so that no stale log
// stays beside the new file.
void PrepareReplace(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(PathFromUtf8(path), ec);
  if (ec || size == 0) return;
  try {
    OpenStoreFile(path, true);
  } catch (const StoreError& e) {
    if (e.hr() == MAPI_E_CORRUPT_DATA || e.hr() == MAPI_E_VERSION) {
      Fail(e.hr(), std::string(e.what()) + "; it is not replaced");
    }
  }
  if (std::filesystem::exists(PathFromUtf8(path + "-wal"), ec)) {
    try {
      Db old(path, SQLITE_OPEN_READWRITE);
      sqlite3_busy_timeout(old.handle(), kDefaultBusyTimeoutMs);
      old.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const StoreError&) {
      // A file we cannot write still gets replaced; its stale log is removed below.
    }
  }
}

}  // namespace

bool ImportDump(const std::string& jsonText, const std::string& storePath, std::string* error) {
  std::string tmp;
  try {
    json doc;
    try {
      // Checked while parsing (which does not recurse), before anything walks the document.
      doc = json::parse(jsonText, [](int depth, json::parse_event_t event, json&) {
        if ((event == json::parse_event_t::object_start ||
             event == json::parse_event_t::array_start) &&
            depth > kMaxDocumentDepth) {
          Refuse("", TooDeep());
        }
        return true;
      });
    } catch (const json::parse_error& e) {
      std::string reason = e.what();
      const size_t col = reason.find("column ");
      const size_t colon = col == std::string::npos ? std::string::npos : reason.find(": ", col);
      if (colon != std::string::npos) reason = reason.substr(colon + 2);
      Refuse(LineAndColumn(jsonText, e.byte), reason);
    }
    Reader reader(NowUnixMillis());
    reader.Read(doc);
    doc = json();  // the document is no longer needed while the file is written
    PrepareReplace(storePath);
    RemoveStaleTempFiles(storePath);
    tmp = TempPathBeside(storePath);
    {
      const dump::Document document{std::move(reader.stores_), std::move(reader.faults_),
                                    reader.now_, reader.nextMessage_};
      std::unique_ptr<Db> db = CreateStoreFile(tmp);
      dump::WriteDocument(*db, document);
      FinishBulkLoad(*db);
    }
    SyncFile(tmp);
    RemoveLogFiles(storePath);
    const std::string failure = RenameOver(tmp, storePath);
    if (!failure.empty()) Fail(MAPI_E_NO_ACCESS, "cannot replace " + storePath + ": " + failure);
    return true;
  } catch (const Refusal& r) {
    if (error) *error = (r.place.empty() ? std::string("the document") : r.place) + ": " + r.reason;
  } catch (const StoreError& e) {
    if (error) *error = e.what();
  } catch (const std::exception& e) {
    if (error) *error = e.what();
  }
  if (!tmp.empty()) RemoveStoreFiles(tmp);
  return false;
}

}  // namespace oa::store

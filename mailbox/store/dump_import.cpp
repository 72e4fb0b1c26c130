// Import of a store dump: read and check the whole document first, then write a new file
// beside the store file and rename it over the old one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/entry_id.h"
#include "mailbox/store/faults.h"
#include "mailbox/store/named_props.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/values.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;
using json = nlohmann::json;

namespace {

struct Refusal {
  std::string place, reason;
};

[[noreturn]] void Refuse(const std::string& place, const std::string& reason) {
  throw Refusal{place, reason};
}

std::string PointerPart(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return "/" + out;
}

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

// What a key names.
struct Keyed {
  std::string place;
  ObjectKind kind;
  size_t store;
  const int64_t* id;  // folder or message ID, once given
};

constexpr int64_t kMaxItems = 100'000'000;

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
  static const json* Member(const json& o, const char* name) {
    auto it = o.find(name);
    return it == o.end() ? nullptr : &*it;
  }

  static std::optional<std::string> OptString(const json& o, const char* name,
                                              const std::string& place) {
    const json* v = Member(o, name);
    if (!v) return std::nullopt;
    if (!v->is_string()) Refuse(place + "/" + name, "must be a string");
    return v->get<std::string>();
  }

  static bool OptBool(const json& o, const char* name, const std::string& place) {
    const json* v = Member(o, name);
    if (!v) return false;
    if (!v->is_boolean()) Refuse(place + "/" + name, "must be true or false");
    return v->get<bool>();
  }

  static std::optional<int64_t> OptCount(const json& o, const char* name, const std::string& place,
                                         int64_t max) {
    const json* v = Member(o, name);
    if (!v) return std::nullopt;
    if (!v->is_number_integer() || v->get<int64_t>() < 0 || v->get<int64_t>() > max) {
      Refuse(place + "/" + name, "must be a whole number from 0 to " + std::to_string(max));
    }
    return v->get<int64_t>();
  }

  static std::optional<std::string> OptKey(const json& o, const std::string& place) {
    auto key = OptString(o, "key", place);
    if (key && key->empty()) Refuse(place + "/key", "must not be empty");
    return key;
  }

  static std::optional<EntryId> OptEntryId(const json& o, const std::string& place,
                                           ObjectKind kind) {
    auto text = OptString(o, "entryId", place);
    if (!text) return std::nullopt;
    auto id = ParseEntryIdText(*text);
    if (!id) Refuse(place + "/entryId", "not an entry ID of this store format");
    if (id->kind != kind) {
      Refuse(place + "/entryId",
             std::string("not the entry ID of a ") + (kind == ObjectKind::Store    ? "store"
                                                      : kind == ObjectKind::Folder ? "folder"
                                                                                   : "message"));
    }
    return id;
  }

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
      s.root = ReadFolder(*root, place + "/root", true);
    } else {
      s.root.place = place + "/root";
    }
    return s;
  }

  Folder ReadFolder(const json& j, const std::string& place, bool isRoot) {
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
        f.folders.push_back(ReadFolder((*sub)[i], place + "/folders/" + std::to_string(i), false));
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
            ? ParseHex(tagText.substr(2))
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
        auto b = v.is_string() ? ParseHex(v.get<std::string>()) : std::nullopt;
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
          e->size() == 10 && e->compare(0, 2, "0x") == 0 ? ParseHex(e->substr(2)) : std::nullopt;
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

// --- writing ---

class Writer {
 public:
  Writer(Db& db, Reader& r) : db_(db), r_(r), nextMessage_(r.nextMessage_) {}

  void Write() {
    Txn txn(db_);
    for (size_t i = 0; i < r_.stores_.size(); ++i) {
      const Store& s = r_.stores_[i];
      const auto row = static_cast<int64_t>(i) + 1;
      CachedStmt st = db_.Cached(
          "INSERT INTO stores(id, seq, guid, kind, key, display_name, alias, address, root_id, "
          "subtree_id) VALUES (?1, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      st->Bind(1, row)
          .Bind(2, GuidBlob(s.guid))
          .Bind(3, std::string(s.isPublic ? "public" : "mailbox"));
      s.key ? st->Bind(4, *s.key) : st->BindNull(4);
      st->Bind(5, s.displayName);
      s.isPublic ? st->BindNull(6) : st->Bind(6, s.alias);
      s.isPublic ? st->BindNull(7) : st->Bind(7, s.address);
      st->Bind(8, s.root.id).Bind(9, s.subtreeId).Run();
      WriteFolder(s.root, row, std::nullopt);
    }
    for (const Fault& f : r_.faults_) {
      CachedStmt st = db_.Cached(
          "INSERT INTO faults(op, target_kind, target_id, error, description, effect, result, "
          "after, times) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      st->Bind(1, f.op);
      if (f.resolved) {
        st->Bind(2, static_cast<int64_t>(f.resolved->kind)).Bind(3, f.resolved->id);
      }
      st->Bind(4, f.error);
      f.description ? st->Bind(5, *f.description) : st->BindNull(5);
      st->Bind(6, f.effect);
      if (f.result) st->Bind(7, int64_t{*f.result ? 1 : 0});
      st->Bind(8, f.after).Bind(9, f.times).Run();
    }
    txn.Commit();
  }

 private:
  void WriteFolder(const Folder& f, int64_t storeRow, std::optional<int64_t> parent) {
    CachedStmt st = db_.Cached(
        "INSERT INTO folders(id, store_id, parent_id, name, name_fold, key, item_count) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    st->Bind(1, f.id).Bind(2, storeRow).Bind(3, parent).Bind(4, f.name).Bind(5, text::Fold(f.name));
    f.key ? st->Bind(6, *f.key) : st->BindNull(6);
    st->Bind(7, static_cast<int64_t>(f.messages.size()) + f.items).Run();
    for (const Message& m : f.messages) WriteMessage(m, f.id, storeRow);
    WriteFillers(f);
    for (const Folder& c : f.folders) WriteFolder(c, storeRow, f.id);
  }

  void InsertMessage(int64_t id, int64_t folder, const std::optional<std::string>& key,
                     const std::string& cls, const std::string& subject, int64_t created) {
    CachedStmt st = db_.Cached(
        "INSERT INTO messages(id, folder_id, key, class, subject, created) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    st->Bind(1, id).Bind(2, folder);
    key ? st->Bind(3, *key) : st->BindNull(3);
    st->Bind(4, cls).Bind(5, subject).Bind(6, created).Run();
  }

  void WriteMessage(const Message& m, int64_t folder, int64_t storeRow) {
    InsertMessage(m.id, folder, m.key, m.cls, m.subject, m.created);
    CachedStmt st =
        db_.Cached("INSERT OR REPLACE INTO props(kind, owner, tag, value) VALUES (3, ?1, ?2, ?3)");
    for (const auto& [tag, value] : m.props) {
      st->Bind(1, m.id).Bind(2, static_cast<int64_t>(static_cast<uint32_t>(tag)));
      BindSql(*st, 3, value);
      st->Run();
    }
    for (const NamedValue& nv : m.named) {
      const int32_t id = NamedPropId(db_, storeRow, PS_PUBLIC_STRINGS, nv.name, true);
      const uint32_t tag = (static_cast<uint32_t>(id) << 16) | PT_STRING8;
      st->Bind(1, m.id).Bind(2, static_cast<int64_t>(tag)).Bind(3, nv.text).Run();
    }
  }

  void WriteFillers(const Folder& f) {
    const std::optional<std::string> noKey;
    const std::string cls = "IPM.Note";
    for (int64_t i = 1; i <= f.items; ++i) {
      InsertMessage(nextMessage_++, f.id, noKey, cls, "Item " + std::to_string(i),
                    r_.now_ - (f.items - i) * 1000);
    }
  }

  Db& db_;
  Reader& r_;
  int64_t nextMessage_;
};

std::string LineAndColumn(const std::string& text, size_t byte) {
  size_t line = 1, col = 1;
  for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      col = 1;
    } else {
      ++col;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(col);
}

std::string TempPathBeside(const std::string& path) {
  static std::atomic<int> counter{0};
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

void RemoveFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

// The old file must be one of ours (or empty); its log is folded in so that no stale log
// stays beside the new file.
void PrepareReplace(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size == 0) return;
  try {
    OpenStoreFile(path, true);
  } catch (const StoreError& e) {
    if (e.hr() == MAPI_E_CORRUPT_DATA || e.hr() == MAPI_E_VERSION) {
      Fail(e.hr(), std::string(e.what()) + "; it is not replaced");
    }
  }
  struct stat wal {};
  if (::stat((path + "-wal").c_str(), &wal) == 0) {
    try {
      Db old(path, SQLITE_OPEN_READWRITE);
      sqlite3_busy_timeout(old.handle(), BusyTimeoutMillis());
      old.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const StoreError&) {
      // A file we cannot write still gets replaced; its stale log is removed below.
    }
  }
}

void SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ImportDump(const std::string& jsonText, const std::string& storePath, std::string* error) {
  std::string tmp;
  try {
    json doc;
    try {
      doc = json::parse(jsonText);
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
    tmp = TempPathBeside(storePath);
    {
      std::unique_ptr<Db> db = CreateStoreFile(tmp);
      Writer(*db, reader).Write();
      FinishBulkLoad(*db);
    }
    SyncPath(tmp, false);
    ::unlink((storePath + "-wal").c_str());
    ::unlink((storePath + "-shm").c_str());
    if (::rename(tmp.c_str(), storePath.c_str()) != 0) {
      Fail(MAPI_E_NO_ACCESS, "cannot replace " + storePath + ": " + std::strerror(errno));
    }
    SyncPath(DirectoryOf(storePath), true);
    return true;
  } catch (const Refusal& r) {
    if (error) *error = (r.place.empty() ? std::string("the document") : r.place) + ": " + r.reason;
  } catch (const StoreError& e) {
    if (error) *error = e.what();
  } catch (const std::exception& e) {
    if (error) *error = e.what();
  }
  if (!tmp.empty()) RemoveFiles(tmp);
  return false;
}

}  // namespace oa::store

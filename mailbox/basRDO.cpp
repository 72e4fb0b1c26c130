#include "mailbox/basRDO.h"

#include <cstdio>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

namespace {

// Fuzzy level of every content restriction: the whole string, case ignored.
constexpr int32_t kFullStringIgnoreCase = ConstMAPI::FL_FULLSTRING | ConstMAPI::FL_IGNORECASE;

bool SameTextIgnoringCase(const Variant& value, const std::string& wanted) {
  if (value.type() != Variant::Type::String) return false;
  return text::EqualIgnoringCase(value.AsString(), wanted);
}

void AddContentRestriction(mailbox::RDORestriction& res, const std::string& text, int32_t tag) {
  res.SetProp(Variant::String(text));
  res.SetFuzzyLevel(kFullStringIgnoreCase);
  res.SetPropTag(tag);
}

// Hex digits of one array element as the platform's Hex() writes them.
std::string ElementHex(const Variant& v) {
  char buf[16];
  uint32_t bits = 0;
  switch (v.type()) {
    case Variant::Type::Byte:
      bits = v.AsByte();
      break;
    case Variant::Type::Integer:
      bits = static_cast<uint16_t>(v.AsInteger());
      break;
    case Variant::Type::Long:
      bits = static_cast<uint32_t>(v.AsLong());
      break;
    case Variant::Type::Boolean:
      bits = v.AsBoolean() ? 0xFFFFu : 0u;
      break;
    case Variant::Type::Empty:
      bits = 0;
      break;
    default:
      return "";  // not a number: contributes nothing
  }
  std::snprintf(buf, sizeof buf, "%X", bits);
  return buf;
}

}  // namespace

int32_t GetNamedPropTag(mailbox::MAPIProp* obj, const Variant& propName, int32_t propType,
                        const std::string& propSetGUID) {
  ErrScope scope;
  const std::string guid = propSetGUID.empty() ? ConstMAPI::PS_PUBLIC_STRINGS : propSetGUID;
  int32_t id = 0;
  if (obj) id = obj->GetIDsFromNames(guid, propName.ToText());
  return id | propType;
}

std::vector<std::string> FindMessageIDs(const std::shared_ptr<mailbox::RDOFolder>& folder,
                                        const std::string& messageClass,
                                        const std::string& subject) {
  std::vector<std::string> ids;
  if (!folder || (messageClass.empty() && subject.empty())) return ids;
  ErrScope scope;

  std::shared_ptr<mailbox::MAPITable> table;
  if (auto items = folder->Items()) table = items->MAPITable();
  if (!table) return ids;
  std::shared_ptr<mailbox::RDOTableFilter> filter = table->Filter();
  table->SetColumns({ConstMAPI::PR_LONGTERM_ENTRYID_FROM_TABLE, ConstMAPI::PR_SUBJECT,
                     ConstMAPI::PR_MESSAGE_CLASS});
  if (!filter) return ids;

  if (!messageClass.empty() && !subject.empty()) {
    if (auto both = filter->SetKind(ConstMAPI::RES_AND)) {
      if (auto res = both->Add(ConstMAPI::RES_CONTENT))
        AddContentRestriction(*res, subject, ConstMAPI::PR_SUBJECT);
      if (auto res = both->Add(ConstMAPI::RES_CONTENT))
        AddContentRestriction(*res, messageClass, ConstMAPI::PR_MESSAGE_CLASS);
    }
  } else if (!messageClass.empty()) {
    if (auto res = filter->SetKind(ConstMAPI::RES_CONTENT))
      AddContentRestriction(*res, messageClass, ConstMAPI::PR_MESSAGE_CLASS);
  } else {
    if (auto res = filter->SetKind(ConstMAPI::RES_CONTENT))
      AddContentRestriction(*res, subject, ConstMAPI::PR_SUBJECT);
  }

  for (bool found = filter->FindFirst(true); found; found = filter->FindNext(true)) {
    const oa::VariantArray row = table->GetRow();
    if (row.empty()) break;
    if (!subject.empty() &&
        (row.size() < 2 ||
         !SameTextIgnoringCase(ConvertPropValue(row[1], ConstMAPI::PR_SUBJECT), subject)))
      continue;
    if (!messageClass.empty() &&
        (row.size() < 3 ||
         !SameTextIgnoringCase(ConvertPropValue(row[2], ConstMAPI::PR_MESSAGE_CLASS),
                               messageClass)))
      continue;
    ids.push_back(ConvertPropValue(row[0], ConstMAPI::PR_LONGTERM_ENTRYID_FROM_TABLE).ToText());
  }
  filter->Reset();
  return ids;
}

Variant ConvertPropValue(const Variant& value, int32_t propTag) {
  using T = Variant::Type;
  switch (GetPropType(propTag)) {
    case ConstMAPI::PT_STRING8: {
      if (value.type() != T::String) return Variant::String("");
      const std::string& s = value.AsString();
      const size_t first = s.find_first_not_of(' ');
      if (first == std::string::npos) return Variant::String("");
      return Variant::String(s.substr(first, s.find_last_not_of(' ') - first + 1));
    }
    case ConstMAPI::PT_I2:
      if (value.type() == T::Integer || value.type() == T::Long) return value;
      return Variant::Integer(0);
    case ConstMAPI::PT_LONG:
      if (value.type() == T::Long) return value;
      return Variant::Integer(0);
    case ConstMAPI::PT_SYSTIME:
      if (value.type() == T::Date) return value;
      return Variant::FromDate(oa::Date{0.0});
    case ConstMAPI::PT_BINARY:
      if (value.type() == T::Array) return Variant::String(BinaryToHex(value));
      return Variant::String("");
    case ConstMAPI::PT_BOOLEAN:
      if (value.type() == T::Boolean) return value;
      return Variant::Boolean(false);
    default:
      return Variant();
  }
}

int32_t GetPropType(int32_t propTag) {
  return static_cast<int32_t>(static_cast<uint32_t>(propTag) & 0xFFFFu);
}

std::string BinaryToHex(const Variant& value) {
  if (!value.IsArray()) return "";
  std::string hex;
  hex.reserve(value.AsArray().size() * 2);
  for (const Variant& element : value.AsArray()) {
    std::string digits = ElementHex(element);
    if (digits.size() == 1) hex += '0';
    hex += digits;
  }
  return hex;
}

}  // namespace oa::mailbox

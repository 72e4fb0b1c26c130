// A message as a service lists it: its class, subject and creation time read on the first ask
// when the listing did not bring them, and field values staged until Save.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/mapi_error.h"
#include "base/variant.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"

namespace oa::remote {

// Data: the service's message data, with optional `itemClass`, `subject` and `created`.
template <class Data>
class ListedMail : public oa::mailbox::RDOMail {
 public:
  oa::Variant Fields(int32_t propTag) override {
    using namespace oa::mailbox::ConstMAPI;
    using oa::Variant;
    if (!Alive()) return {};
    if (auto it = pendingFields_.find(propTag); it != pendingFields_.end()) return it->second;
    switch (propTag) {
      case PR_SUBJECT:
        return LoadBasics() ? Variant::String(data_.subject.value_or("")) : Variant();
      case PR_MESSAGE_CLASS:
        return LoadBasics() ? Variant::String(data_.itemClass.value_or("")) : Variant();
      case PR_CREATION_TIME:
        return CreationTime();
      default:
        break;
    }
    if (auto it = data_.props.find(propTag); it != data_.props.end()) return it->second;
    // One read brings every string named property this session knows, so that reading the
    // properties of a message one after the other (HHEntryID, then HHPath) costs one round
    // trip.
    std::vector<int32_t> tags{propTag};
    for (int32_t t : KnownNamedTags())
      if (t != propTag && !data_.props.count(t)) tags.push_back(t);
    if (!ReadProps(tags)) return {};
    return data_.props[propTag];
  }
  std::string MessageClass() override {
    if (!Alive() || !LoadBasics()) return "";
    return data_.itemClass.value_or("");
  }
  std::string Subject() override {
    if (!Alive() || !LoadBasics()) return "";
    return data_.subject.value_or("");
  }
  oa::Variant CreationTime() override {
    if (!Alive() || !LoadBasics()) return {};
    if (!data_.created) {
      oa::Err().Raise(oa::mailbox::ConstMAPI::MAPI_E_NOT_FOUND,
                      Who() + " did not give the message's creation time.");
      return {};
    }
    return oa::Variant::FromDate(*data_.created);
  }
  bool SetFields(int32_t propTag, const oa::Variant& value) override {
    return Alive() && Stage(propTag, value);
  }
  bool Save() override {
    if (!Alive()) return false;
    if (pendingFields_.empty()) return true;
    return SavePending();
  }

 protected:
  explicit ListedMail(Data data) : data_(std::move(data)) {}

  // False, with the error raised, once the session has ended.
  virtual bool Alive() = 0;
  // Makes sure the class, subject and creation time are known; false with the error raised.
  virtual bool LoadBasics() = 0;
  // Who is asked, as a sentence starts: "The server", "The service".
  virtual std::string Who() const = 0;
  // The string named properties the session knows (their tags).
  virtual std::vector<int32_t> KnownNamedTags() = 0;
  // Reads the properties of the tags into data_.props (an absent one as Empty); false with the
  // error raised.
  virtual bool ReadProps(const std::vector<int32_t>& tags) = 0;
  // Stages a value in pendingFields_; false, with the error raised, when it does not fit the
  // tag's type as the service writes it.
  virtual bool Stage(int32_t propTag, const oa::Variant& value) = 0;
  // Writes pendingFields_ (there are some) and clears them; false with the error raised.
  virtual bool SavePending() = 0;

  Data data_;
  std::map<int32_t, oa::Variant> pendingFields_;
};

// The bytes of a binary value as a service gives it (an array of bytes); empty for any other.
inline std::vector<uint8_t> BytesOf(const oa::Variant& v) {
  std::vector<uint8_t> bytes;
  if (v.IsArray())
    for (const oa::Variant& b : v.AsArray()) bytes.push_back(b.AsByte());
  return bytes;
}

}  // namespace oa::remote

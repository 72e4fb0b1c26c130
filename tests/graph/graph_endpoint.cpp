#include "tests/graph/graph_endpoint.h"

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/graph/client.h"
#include "mailbox/graph/codec.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/embedded_store.h"
#include "tests/graph/graph_endpoint_text.h"

namespace oa::graph::testing {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;

namespace {}  // namespace

json GraphEndpoint::Ctx::Fail(int status, const std::string& code, const std::string& message) {
  c.status = status;
  return {{"error", {{"code", code}, {"message", message}}}};
}

json GraphEndpoint::Ctx::FailFromErr() {
  const int32_t n = Err().Number();
  const std::string text = Err().Description().empty() ? "Error" : Err().Description();
  if (n == MAPI_E_NOT_FOUND) return Fail(404, "ErrorItemNotFound", text);
  if (n == MAPI_E_NO_ACCESS) return Fail(403, "ErrorAccessDenied", text);
  if (n == MAPI_E_COLLISION) return Fail(409, "ErrorFolderExists", text);
  if (n == MAPI_E_INVALID_ENTRYID) return Fail(400, "ErrorInvalidIdMalformed", text);
  return Fail(500, "ErrorInternalServerError", text);
}

GraphEndpoint::GraphEndpoint(std::string storeFile, std::vector<GraphMailbox> mailboxes)
    : storeFile_(std::move(storeFile)), mailboxes_(std::move(mailboxes)) {
  factory_ = FindSessionClass(kSessionProgID);
  if (!factory_) {
    oa::store::RegisterEmbeddedSessionClass();
    factory_ = FindSessionClass(kSessionProgID);
  }
}

int GraphEndpoint::MailboxIndex(const std::string& text) const {
  for (size_t i = 0; i < mailboxes_.size(); ++i) {
    if (text == "uid-" + std::to_string(i) ||
        oa::text::EqualIgnoringCase(mailboxes_[i].address, text))
      return static_cast<int>(i);
  }
  return -1;
}

std::shared_ptr<RDOSession> GraphEndpoint::Session(int mailbox) {
  auto& s = sessions_[mailbox];
  if (!s && factory_) {
    s = factory_();
    if (s) s->LogonExchangeMailbox(mailboxes_[static_cast<size_t>(mailbox)].address, storeFile_);
  }
  return s && s->LoggedOn() ? s : nullptr;
}

std::string GraphEndpoint::Handle(GraphCall& c) {
  Err().Clear();
  Ctx x{c, 0, nullptr, {}};
  std::vector<std::string> parts;
  for (size_t p = 0; p < c.path.size();) {
    size_t q = c.path.find('/', p);
    if (q == std::string::npos) q = c.path.size();
    if (q > p) parts.push_back(c.path.substr(p, q - p));
    p = q + 1;
  }
  for (const std::string& lit : Literals(Param(c, "$expand"))) x.expanded.push_back(lit);
  json out;
  if (parts.size() < 2 || parts[0] != "v1.0" || parts[1] != "users") {
    out = x.Fail(400, "BadRequest", "Unsupported request.");
  } else if (parts.size() <= 3 && c.method == "GET") {
    c.operation = "users";
    out = Users(x);
  } else {
    x.mailbox = MailboxIndex(parts[2]);
    x.s = x.mailbox >= 0 ? Session(x.mailbox) : nullptr;
    const std::vector<std::string> rest(parts.begin() + std::min<size_t>(5, parts.size()),
                                        parts.end());
    if (!x.s) {
      out = x.Fail(404, "ErrorInvalidUser", "The requested user '" + parts[2] + "' is invalid.");
    } else if (parts.size() == 4 && parts[3] == "translateExchangeIds" && c.method == "POST") {
      c.operation = "translateExchangeIds";
      out = Translate(x);
    } else if (parts.size() >= 5 && parts[3] == "mailFolders") {
      out = Folder(x, parts[4], rest);
    } else if (parts.size() >= 5 && parts[3] == "messages") {
      out = Message(x, parts[4], rest);
    } else {
      out = x.Fail(400, "BadRequest", "Unsupported request.");
    }
  }
  Err().Clear();
  return c.status == 204 ? "" : out.dump();
}

json GraphEndpoint::Users(Ctx& x) {
  auto user = [&](int i) -> json {
    auto s = Session(i);
    auto stores = s ? s->Stores() : nullptr;
    auto store = stores ? stores->DefaultStore() : nullptr;
    const auto& m = mailboxes_[static_cast<size_t>(i)];
    return {{"id", "uid-" + std::to_string(i)},
            {"displayName", store ? store->Name() : m.address},
            {"mail", m.address},
            {"userPrincipalName", m.address}};
  };
  const std::string path = x.c.path;
  const size_t slash = path.rfind('/');
  const std::string last = path.substr(slash + 1);
  if (last != "users") {
    const int i = MailboxIndex(last);
    if (i < 0)
      return x.Fail(404, "Request_ResourceNotFound",
                    "Resource '" + last +
                        "' does not exist or one of its queried reference-property objects are "
                        "not present.");
    return user(i);
  }
  const std::string filter = Param(x.c, "$filter");
  const auto lits = Literals(filter);
  json list = json::array();
  for (size_t i = 0; i < mailboxes_.size() && lits.size() == 1; ++i) {
    const auto& m = mailboxes_[i];
    const bool hit = filter.rfind("mailNickname eq", 0) == 0
                         ? oa::text::EqualIgnoringCase(m.alias, lits[0])
                         : oa::text::EqualIgnoringCase(m.address, lits[0]);
    if (hit) list.push_back(user(static_cast<int>(i)));
  }
  return {{"value", list}};
}

json GraphEndpoint::Translate(Ctx& x) {
  json in = json::parse(x.c.body, nullptr, false);
  if (in.is_discarded() || !in["inputIds"].is_array())
    return x.Fail(400, "ErrorInvalidRequest", "The request body is not valid.");
  const std::string from = in.value("sourceIdType", ""), to = in.value("targetIdType", "");
  json list = json::array();
  for (const json& id : in["inputIds"]) {
    const std::string text = id.is_string() ? id.get<std::string>() : "";
    std::optional<std::string> hex;
    if (from == "restId") {
      hex = HexOfRestId(text);
    } else if (from == "entryId") {
      auto bytes = Base64Decode(text, true);
      if (bytes && !bytes->empty()) hex = HexEncode(*bytes);
    }
    json r = {{"sourceId", text}};
    if (!hex || (to != "entryId" && to != "restId")) {
      r["errorDetails"] = {{"code", "ErrorInvalidIdMalformed"}, {"message", "Id is malformed."}};
    } else {
      r["targetId"] = to == "entryId" ? UrlTokenEncode(*HexDecode(*hex)) : RestId(*hex);
    }
    list.push_back(r);
  }
  return {{"value", list}};
}

}  // namespace oa::graph::testing

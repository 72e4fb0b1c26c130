#include "mailbox/ews/soap.h"

#include <sstream>

#include "base/backoff.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

Request::Request(const std::string& operation, const std::string& impersonate)
    : operation_(operation) {
  auto decl = doc_.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  auto env = doc_.append_child("soap:Envelope");
  env.append_attribute("xmlns:soap") = kSoapNs;
  env.append_attribute("xmlns:t") = kTypesNs;
  env.append_attribute("xmlns:m") = kMessagesNs;
  auto header = env.append_child("soap:Header");
  header.append_child("t:RequestServerVersion").append_attribute("Version") = kServerVersion;
  if (!impersonate.empty()) {
    auto sid = header.append_child("t:ExchangeImpersonation").append_child("t:ConnectingSID");
    AddText(sid, "t:PrimarySmtpAddress", impersonate);
  }
  op_ = env.append_child("soap:Body").append_child(("m:" + operation).c_str());
}

std::string Request::Serialize() const {
  std::ostringstream out;
  doc_.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

pugi::xml_node AddText(pugi::xml_node parent, const char* name, const std::string& text) {
  auto node = parent.append_child(name);
  node.text().set(text.c_str());
  return node;
}

std::string_view LocalName(const char* qualified) {
  std::string_view name(qualified);
  auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node Child(pugi::xml_node node, std::string_view local) {
  for (auto c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && LocalName(c.name()) == local) return c;
  }
  return {};
}

std::vector<pugi::xml_node> Children(pugi::xml_node node, std::string_view local) {
  std::vector<pugi::xml_node> out;
  for (auto c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && LocalName(c.name()) == local) out.push_back(c);
  }
  return out;
}

std::string ChildText(pugi::xml_node node, std::string_view local) {
  return Child(node, local).text().get();
}

std::string Attr(pugi::xml_node node, std::string_view local) {
  for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
    if (LocalName(a.name()) == local) return a.value();
  }
  return "";
}

namespace {

std::optional<int64_t> BackOff(pugi::xml_node messageXml) {
  for (auto v : Children(messageXml, "Value")) {
    if (Attr(v, "Name") == "BackOffMilliseconds") {
      // Digits only: a negative, fractional or padded value is no hint at all.
      auto ms = oa::backoff::ParseMilliseconds(v.text().get());
      if (!ms) return std::nullopt;
      return ms->count();
    }
  }
  return std::nullopt;
}

// pugixml parses and frees a document without recursion, but code that reads an answer may
// recurse: the depth is checked once, walking the tree without recursion either.
bool WithinDepth(const pugi::xml_document& doc) {
  int depth = 0;
  pugi::xml_node n = doc.first_child();
  while (n) {
    if (n.first_child()) {
      if (++depth > kMaxXmlDepth) return false;
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == doc) return true;
    }
    if (n) n = n.next_sibling();
  }
  return true;
}

// A fault code such as "a:ErrorServerBusy" loses its prefix.
std::string FaultCode(pugi::xml_node fault) {
  std::string code = ChildText(Child(fault, "detail"), "ResponseCode");
  if (code.empty()) code = std::string(LocalName(ChildText(fault, "faultcode").c_str()));
  return code;
}

}  // namespace

std::optional<Response> ParseResponse(const std::string& body, std::string* error) {
  Response r;
  auto parsed = r.doc.load_buffer(body.data(), body.size());
  if (!parsed) {
    *error = std::string("The server's answer is not well-formed XML: ") + parsed.description();
    return std::nullopt;
  }
  if (!WithinDepth(r.doc)) {
    *error =
        "The server's answer is nested deeper than " + std::to_string(kMaxXmlDepth) + " levels.";
    return std::nullopt;
  }
  auto env = Child(r.doc, "Envelope");
  auto soapBody = Child(env, "Body");
  if (!soapBody) {
    *error = "The server's answer is no SOAP envelope.";
    return std::nullopt;
  }
  if (auto fault = Child(soapBody, "Fault")) {
    r.fault = true;
    ResponseMessage m;
    m.responseClass = "Error";
    m.code = FaultCode(fault);
    auto detail = Child(fault, "detail");
    m.text = ChildText(detail, "Message");
    if (m.text.empty()) m.text = ChildText(fault, "faultstring");
    m.backOffMs = BackOff(Child(detail, "MessageXml"));
    m.node = fault;
    r.messages.push_back(std::move(m));
    return r;
  }
  auto opResponse =
      soapBody.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
  for (auto msg = Child(opResponse, "ResponseMessages").first_child(); msg;
       msg = msg.next_sibling()) {
    if (msg.type() != pugi::node_element) continue;
    ResponseMessage m;
    m.responseClass = Attr(msg, "ResponseClass");
    m.code = ChildText(msg, "ResponseCode");
    m.text = ChildText(msg, "MessageText");
    m.backOffMs = BackOff(Child(msg, "MessageXml"));
    m.node = msg;
    r.messages.push_back(std::move(m));
  }
  if (r.messages.empty()) {
    *error = "The server's answer holds no response message.";
    return std::nullopt;
  }
  return r;
}

int32_t MapiErrorForCode(std::string_view code) {
  if (code == "NoError") return S_OK;
  if (code == "ErrorItemNotFound" || code == "ErrorFolderNotFound") return MAPI_E_NOT_FOUND;
  if (code == "ErrorAccessDenied") return MAPI_E_NO_ACCESS;
  if (code == "ErrorFolderExists") return MAPI_E_COLLISION;
  if (code == "ErrorInvalidIdMalformed") return MAPI_E_INVALID_ENTRYID;
  return MAPI_E_CALL_FAILED;
}

bool IsThrottlingCode(std::string_view code) {
  return code == "ErrorServerBusy" || code == "ErrorExceededConnectionCount";
}

}  // namespace oa::ews

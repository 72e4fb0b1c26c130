// SOAP 1.1 envelopes of Exchange Web Services: building requests, reading responses.
// Element names are matched by their local name, so any namespace prefix a server picks works.
#pragma once

#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace oa::ews {

inline constexpr const char* kSoapNs = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kTypesNs = "http://schemas.microsoft.com/exchange/services/2006/types";
inline constexpr const char* kMessagesNs =
    "http://schemas.microsoft.com/exchange/services/2006/messages";
inline constexpr const char* kServerVersion = "Exchange2010_SP2";

// One request: the envelope with its header, and the operation element in the body. Texts set
// through pugixml are escaped when the document is written.
class Request {
 public:
  // impersonate: the primary SMTP address to act as (ExchangeImpersonation), or empty.
  Request(const std::string& operation, const std::string& impersonate = "");
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  const std::string& operation() const { return operation_; }
  // The operation element (m:Operation), to which the caller appends its content.
  pugi::xml_node op() { return op_; }
  std::string Serialize() const;

 private:
  std::string operation_;
  pugi::xml_document doc_;
  pugi::xml_node op_;
};

// Appends <prefix:name>text</prefix:name>; returns the new element.
pugi::xml_node AddText(pugi::xml_node parent, const char* name, const std::string& text);

// The local part of an element or attribute name ("t:FolderId" -> "FolderId").
std::string_view LocalName(const char* qualified);
// The first child element with that local name, or an empty node.
pugi::xml_node Child(pugi::xml_node node, std::string_view local);
// All child elements with that local name.
std::vector<pugi::xml_node> Children(pugi::xml_node node, std::string_view local);
// The text of the first child with that local name; empty when missing.
std::string ChildText(pugi::xml_node node, std::string_view local);
// The value of the attribute with that local name; empty when missing.
std::string Attr(pugi::xml_node node, std::string_view local);

// One m:...ResponseMessage, or a SOAP fault.
struct ResponseMessage {
  std::string responseClass;  // "Success", "Warning", "Error"
  std::string code;           // "NoError", "ErrorItemNotFound", ...
  std::string text;           // the server's message text
  // BackOffMilliseconds from MessageXml, when the server gave one.
  std::optional<int64_t> backOffMs;
  pugi::xml_node node;
  bool ok() const { return code == "NoError" || responseClass == "Success"; }
};

struct Response {
  pugi::xml_document doc;
  bool fault = false;
  std::vector<ResponseMessage> messages;
};

// Real answers nest a dozen elements deep (an item's properties in a FindItem page).
constexpr int kMaxXmlDepth = 64;

// Parses a response body. nullopt with *error set when it is no SOAP envelope of EWS, or when it
// is nested deeper than kMaxXmlDepth elements.
std::optional<Response> ParseResponse(const std::string& body, std::string* error);

// The MAPI-style number for an EWS response code.
int32_t MapiErrorForCode(std::string_view code);

// True for the codes that tell the client to wait and try again.
bool IsThrottlingCode(std::string_view code);

}  // namespace oa::ews

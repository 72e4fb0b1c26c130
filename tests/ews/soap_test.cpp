// Response parsing against real Exchange 2010 SP2 captures, and the shape of our requests.
#include "mailbox/ews/soap.h"

#include <gtest/gtest.h>

#include "base/mapi_error.h"
#include "mailbox/ews/client.h"
#include "mailbox/ews/core.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/trace_reader.h"

namespace oa::ews {
namespace {

using namespace oa::mailbox::ConstMAPI;
using testing::ReadTrace;
using testing::TracePath;

// The nth answer (from 0) of a capture.
testing::TraceMessage Answer(const std::string& trace, size_t n) {
  size_t seen = 0;
  for (auto& m : ReadTrace(TracePath(trace))) {
    if (!m.sent && seen++ == n) return m;
  }
  ADD_FAILURE() << "no answer " << n << " in " << trace;
  return {};
}

Response Parse(const std::string& body) {
  std::string error;
  auto r = ParseResponse(body, &error);
  EXPECT_TRUE(r) << error;
  return r ? std::move(*r) : Response{};
}

struct ErrorCase {
  const char* trace;
  size_t answer;
  const char* code;
  const char* text;
  int32_t number;
};

class CapturedErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CapturedErrors, MapToMapiNumberWithTheServersText) {
  const ErrorCase& c = GetParam();
  auto answer = Answer(c.trace, c.answer);
  ASSERT_EQ(answer.status(), 200);
  Response r = Parse(answer.body);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_FALSE(r.fault);
  EXPECT_EQ(r.messages[0].responseClass, "Error");
  EXPECT_EQ(r.messages[0].code, c.code);
  EXPECT_FALSE(r.messages[0].ok());
  Err().Clear();
  EXPECT_FALSE(FirstOk(r));
  EXPECT_EQ(Err().Number(), c.number);
  EXPECT_EQ(Err().Description(), c.text);
  Err().Clear();
}

INSTANTIATE_TEST_SUITE_P(
    Traces, CapturedErrors,
    ::testing::Values(
        ErrorCase{"hard_delete_distinguished_folder_subfolder", 1, "ErrorItemNotFound",
                  "The specified object was not found in the store.", MAPI_E_NOT_FOUND},
        ErrorCase{"create_existing_folder", 1, "ErrorFolderExists",
                  "A folder with the specified name already exists.", MAPI_E_COLLISION},
        ErrorCase{"create_folder_with_malformed_parent_id", 0, "ErrorInvalidIdMalformed",
                  "Id is malformed.", MAPI_E_INVALID_ENTRYID},
        ErrorCase{"hard_delete_root_subfolder", 0, "ErrorDeleteDistinguishedFolder",
                  "Distinguished folders cannot be deleted.", MAPI_E_CALL_FAILED}));

TEST(CapturedSuccess, CreateFolderAndGetFolderGiveTheNewFolderId) {
  const std::string newId =
      "AAMkADhhNjgxMWMwLWFjMjAtNGMxYi1iMmVkLTYxN2ZjZjg0NjYxMwAuAAAAAABrjnF0sj+sSounzj9c5qzwAQBPRrS+"
      "NgN2TLdvauFC2S+xAACqkvK7AAA=";
  ClientOptions options;
  options.url = "https://localhost/EWS/Exchange.asmx";
  Core core(std::make_unique<Client>(options), "a@b", "A");
  for (size_t n : {0, 1}) {
    Response r = Parse(Answer("create_non_distinguished_folder_subfolder", n).body);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_TRUE(r.messages[0].ok());
    Err().Clear();
    EXPECT_TRUE(FirstOk(r));
    EXPECT_FALSE(Err().Pending());
    auto element = Child(r.messages[0].node, "Folders").first_child();
    FolderData f = core.ReadFolder(element, false, {});
    EXPECT_EQ(f.ref.id, newId);
    EXPECT_EQ(f.ref.changeKey, "AQAAABYAAABPRrS+NgN2TLdvauFC2S+xAACqkvK9");
    EXPECT_EQ(f.element, "t:Folder");
  }
  Response deleted = Parse(Answer("hard_delete_distinguished_folder_subfolder", 0).body);
  EXPECT_TRUE(deleted.messages[0].ok());
  EXPECT_EQ(deleted.messages[0].code, "NoError");
}

TEST(CapturedChallenge, The401OffersNtlmAndNegotiateWithoutBody) {
  auto answer = Answer("create_existing_folder", 0);
  EXPECT_EQ(answer.status(), 401);
  std::vector<std::string> schemes;
  for (auto& [name, value] : answer.headers)
    if (name == "WWW-Authenticate") schemes.push_back(value.substr(0, value.find(' ')));
  EXPECT_EQ(schemes, (std::vector<std::string>{"NTLM", "Negotiate"}));
  std::string error;
  EXPECT_FALSE(ParseResponse(answer.body, &error));
  EXPECT_FALSE(error.empty());
}

TEST(ResponseParsing, ServerBusyFaultCarriesItsBackOff) {
  const std::string fault =
      R"(<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">)"
      R"(<s:Body><s:Fault><faultcode xmlns:a="http://schemas.microsoft.com/exchange/services/2006/types">a:ErrorServerBusy</faultcode>)"
      R"(<faultstring xml:lang="en-US">The server cannot service this request right now. Try again later.</faultstring>)"
      R"(<detail><e:ResponseCode xmlns:e="http://schemas.microsoft.com/exchange/services/2006/errors">ErrorServerBusy</e:ResponseCode>)"
      R"(<e:Message xmlns:e="http://schemas.microsoft.com/exchange/services/2006/errors">The server cannot service this request right now. Try again later.</e:Message>)"
      R"(<t:MessageXml xmlns:t="http://schemas.microsoft.com/exchange/services/2006/types"><t:Value Name="BackOffMilliseconds">297749</t:Value></t:MessageXml>)"
      R"(</detail></s:Fault></s:Body></s:Envelope>)";
  Response r = Parse(fault);
  EXPECT_TRUE(r.fault);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].code, "ErrorServerBusy");
  EXPECT_TRUE(IsThrottlingCode(r.messages[0].code));
  EXPECT_EQ(r.messages[0].backOffMs, 297749);
  EXPECT_EQ(r.messages[0].text,
            "The server cannot service this request right now. Try again later.");
}

TEST(ResponseParsing, RefusesWhatIsNoEnvelope) {
  std::string error;
  EXPECT_FALSE(ParseResponse("<html><body>Service Unavailable</body></html>", &error));
  EXPECT_FALSE(ParseResponse("<s:Envelope", &error));
  EXPECT_FALSE(error.empty());
}

TEST(ErrorMapping, CodesAsMapiNumbers) {
  EXPECT_EQ(MapiErrorForCode("ErrorFolderNotFound"), MAPI_E_NOT_FOUND);
  EXPECT_EQ(MapiErrorForCode("ErrorAccessDenied"), MAPI_E_NO_ACCESS);
  EXPECT_EQ(MapiErrorForCode("ErrorSchemaValidation"), MAPI_E_CALL_FAILED);
  EXPECT_EQ(MapiErrorForCode("NoError"), S_OK);
}

TEST(Requests, EnvelopeEscapesTextAndNamesTheVersion) {
  const std::string alias = "a&b<c>\"d'";
  Request req("ResolveNames", "boss@example.com");
  AddText(req.op(), "m:UnresolvedEntry", alias);
  const std::string xml = req.Serialize();
  EXPECT_EQ(xml.find(alias), std::string::npos) << "unescaped text in " << xml;

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  auto env = Child(doc, "Envelope");
  EXPECT_EQ(std::string(env.attribute("xmlns:soap").value()), kSoapNs);
  auto header = Child(env, "Header");
  EXPECT_EQ(Attr(Child(header, "RequestServerVersion"), "Version"), "Exchange2010_SP2");
  EXPECT_EQ(ChildText(Child(Child(header, "ExchangeImpersonation"), "ConnectingSID"),
                      "PrimarySmtpAddress"),
            "boss@example.com");
  auto op = Child(Child(env, "Body"), "ResolveNames");
  ASSERT_TRUE(op);
  EXPECT_EQ(std::string(op.name()), "m:ResolveNames");
  EXPECT_EQ(ChildText(op, "UnresolvedEntry"), alias);
}

TEST(Requests, DelegateAccessHasNoImpersonationHeader) {
  Request req("GetFolder");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(req.Serialize().c_str()));
  EXPECT_FALSE(Child(Child(Child(doc, "Envelope"), "Header"), "ExchangeImpersonation"));
}

}  // namespace
}  // namespace oa::ews

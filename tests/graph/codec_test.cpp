// The texts Graph answers with, in the shapes its documentation shows: IDs in URL-safe base64
// with the padding count, extended properties named in the short form, error bodies of Graph and
// of the token endpoint turned into the MAPI-style errors.
#include "mailbox/graph/codec.h"

#include <gtest/gtest.h>

#include "mailbox/graph/client.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {
namespace {

using namespace oa::mailbox::ConstMAPI;

TEST(GraphCodec, EntryIdsTravelAsUrlSafeBase64WithThePaddingCount) {
  const std::vector<uint8_t> bytes{0x00, 0xFB, 0xFF, 0x3E, 0x10};
  const std::string token = UrlTokenEncode(bytes);
  EXPECT_EQ(token, "APv_PhA1");
  EXPECT_EQ(Base64Decode(token, true), bytes);
  EXPECT_EQ(UrlTokenEncode({0x01, 0x02, 0x03}), "AQID0");
  EXPECT_EQ(UrlTokenEncode({0x01, 0x02}), "AQI1");
  EXPECT_EQ(Base64Decode("AQI1", true), (std::vector<uint8_t>{1, 2}));
  // Plain base64 of a binary extended property.
  EXPECT_EQ(Base64Decode("AAECAw=="), (std::vector<uint8_t>{0, 1, 2, 3}));
  EXPECT_FALSE(Base64Decode("AQI", true));
  EXPECT_FALSE(Base64Decode("A*B=", false));
}

TEST(GraphCodec, ExtendedPropertiesAsGraphNamesThem) {
  EXPECT_EQ(ExtendedPropertyId(PR_MESSAGE_CLASS), "String 0x001A");
  EXPECT_EQ(ExtendedPropertyId(0x0FFB0102), "Binary 0x0FFB");
  const int32_t id = NamedPropId(PS_PUBLIC_STRINGS, "HHEntryID");
  ASSERT_GE(id, 0x8000);
  EXPECT_EQ(ExtendedPropertyId(static_cast<int32_t>((static_cast<uint32_t>(id) << 16) | 0x1E)),
            "String {00020329-0000-0000-C000-000000000046} Name HHEntryID");
  EXPECT_EQ(NamedPropId("{00020329-0000-0000-c000-000000000046}", "HHEntryID"), id);
  EXPECT_EQ(ExtendedPropertyId(static_cast<int32_t>(0x7FFE0000 | 0x0048)), "");
}

TEST(GraphCodec, MessagesAndFoldersReadFromDocumentedShapes) {
  const json message = json::parse(R"({
    "@odata.etag": "W/\"CQAAABYAAAAWGKj3vS6ZT6NHHmnwWZBGAAAAAAcJ\"",
    "id": "AAMkAGVmMDEzMTM4LTZmYWUtNDdkNC1hMDZiLTU1OGY5OTZhYmY4OABGAAAAAAAiQ8W967B7TKBjgx9rVEURBwAiIsqMbYjsT5e-T7KzowPTAAAAAAEMAAAiIsqMbYjsT5e-T7KzowPTAAAYbvZDAAA=",
    "createdDateTime": "2026-03-01T09:00:00Z",
    "subject": "ondavelAgent",
    "singleValueExtendedProperties": [
      {"id": "String 0x1a", "value": "ondavel.Agent"}
    ]})");
  MailData m = Core::ReadMail(message);
  EXPECT_EQ(m.subject, "ondavelAgent");
  EXPECT_EQ(m.itemClass, "ondavel.Agent");
  ASSERT_TRUE(m.created);
  EXPECT_EQ(ParseDateTime("2026-03-01T10:00:00+01:00"), m.created);
  // A message the service gives without its class is an ordinary note.
  EXPECT_EQ(Core::ReadMail(json::parse(R"({"id":"x","subject":""})")).itemClass, "IPM.Note");

  const json folder = json::parse(R"({
    "id": "AAMkAGVmMDEzMTM4LTZmYWUtNDdkNC1hMDZiLTU1OGY5OTZhYmY4OAAuAAAAAAAiQ8W967B7TKBjgx9rVEURAQAiIsqMbYjsT5e-T7KzowPTAAAAAAEMAAA=",
    "displayName": "Inbox",
    "parentFolderId": "AAMkAGVmMDEzMTM4LTZmYWUtNDdkNC1hMDZiLTU1OGY5OTZhYmY4OAAuAAAAAAAiQ8W967B7TKBjgx9rVEURAQAiIsqMbYjsT5e-T7KzowPTAAAAAAEIAAA=",
    "childFolderCount": 1, "unreadItemCount": 70, "totalItemCount": 71,
    "sizeInBytes": 7853, "isHidden": false})");
  FolderData f = Core::ReadFolder(folder);
  EXPECT_EQ(f.name, "Inbox");
  EXPECT_EQ(f.total, 71);
  EXPECT_EQ(f.parentId->substr(0, 8), "AAMkAGVm");
}

// PR_ENTRYID comes back in Graph's short form and in plain base64; entry-ID text is upper hex.
TEST(GraphCodec, EntryIdReadFromTheExpandedProperty) {
  const json folder = json::parse(R"({"id": "AAMkAGI2", "displayName": "Handhelds",
    "singleValueExtendedProperties": [{"id": "Binary 0xfff", "value": "AAAAAJ3+ASc="}]})");
  EXPECT_EQ(Core::ReadFolder(folder).entryID, "000000009DFE0127");
  const json message = json::parse(R"({"id": "AAMkAGI3", "subject": "s",
    "singleValueExtendedProperties": [{"id": "String 0x1a", "value": "IPM.Note"},
                                      {"id": "Binary 0x0FFF", "value": "3q2+7w=="}]})");
  EXPECT_EQ(Core::ReadMail(message).entryID, "DEADBEEF");
  EXPECT_FALSE(Core::ReadMail(json::parse(R"({"id":"x","subject":""})")).entryID);
  // Asked for in every read, with the tags given after it.
  EXPECT_EQ(
      Core::ExpandOf({}),
      "&$expand=singleValueExtendedProperties%28%24filter%3Did%20eq%20%27Binary%200x0FFF%27%29");
}

TEST(GraphCodec, IdentityPlatformRefusalBecomesOneLine) {
  EXPECT_EQ(OneLineSignInRefusal(
                "AADSTS700016: Application with identifier 'x' was not found in the directory "
                "'contoso'. This can happen if the application has not been installed.\r\n"
                "Trace ID: 1b2c\r\nCorrelation ID: 9f8e-7d6c\r\nTimestamp: 2026-12-10 "
                "16:00:00Z"),
            "AADSTS700016: Application with identifier 'x' was not found in the directory "
            "'contoso'. Correlation ID: 9f8e-7d6c");
  // Without the identity platform's trailer, or from another service, the text stays.
  const std::string single =
      "AADSTS7000215: Invalid client secret provided. Ensure the secret is the value.";
  EXPECT_EQ(OneLineSignInRefusal(single), single);
  EXPECT_EQ(OneLineSignInRefusal("Access denied.\r\nSee the log."),
            "Access denied.\r\nSee the log.");
  EXPECT_EQ(OneLineSignInRefusal("AADSTS50034: The user account does not exist.\nTrace ID: a"),
            "AADSTS50034: The user account does not exist.");
}

http::HttpResult Answer(long status, const std::string& body) {
  http::HttpResult r;
  r.status = status;
  r.body = body;
  return r;
}

TEST(GraphErrors, EveryAnswerMapsToOneMapiNumberWithTheServiceText) {
  const std::string notFound =
      R"({"error":{"code":"ErrorItemNotFound","message":"The specified object was not found in the store."}})";
  CallError e = ErrorFor(Answer(404, notFound), "Microsoft Graph");
  EXPECT_EQ(e.number, MAPI_E_NOT_FOUND);
  EXPECT_EQ(e.description, "The specified object was not found in the store.");
  e = ErrorFor(
      Answer(
          403,
          R"({"error":{"code":"ErrorAccessDenied","message":"Access is denied. Check credentials and try again."}})"),
      "Microsoft Graph");
  EXPECT_EQ(e.number, MAPI_E_NO_ACCESS);
  e = ErrorFor(
      Answer(
          401,
          R"({"error":"invalid_client","error_description":"AADSTS700016: Application not found."})"),
      "the token endpoint");
  EXPECT_EQ(e.number, MAPI_E_LOGON_FAILED);
  EXPECT_EQ(e.description, "The sign-in was refused: AADSTS700016: Application not found.");
  e = ErrorFor(
      Answer(
          409,
          R"({"error":{"code":"ErrorFolderExists","message":"A folder with the specified name already exists."}})"),
      "Microsoft Graph");
  EXPECT_EQ(e.number, MAPI_E_COLLISION);
  e = ErrorFor(Answer(500, "<html>oops</html>"), "Microsoft Graph");
  EXPECT_EQ(e.number, MAPI_E_CALL_FAILED);
  EXPECT_EQ(e.description, "HTTP 500 from Microsoft Graph.");
  http::HttpResult dropped;
  dropped.failure = http::Failure::TlsVerify;
  dropped.failureText = "self-signed certificate";
  e = ErrorFor(dropped, "Microsoft Graph");
  EXPECT_EQ(e.number, MAPI_E_NETWORK_ERROR);
  EXPECT_NE(e.description.find("self-signed certificate"), std::string::npos);
}

}  // namespace
}  // namespace oa::graph

// What one registration of the session classes hands its sessions: the options it was given,
// never another registration's, and the password asked for once for all its sessions and
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/backends.h"
#include "mailbox/ews/logon_settings.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/session_registry.h"
#include "mailbox/store/embedded_store.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using oa::testing::Dump;
using oa::testing::MailboxStore;

// A user set without a password: the logon asks for it, and the answer is counted.
EwsOptions AskingOptions(std::atomic<int>& asked, std::optional<std::string> answer) {
  EwsOptions o;
  o.user = "EXAMPLE\\svc";
  o.askPassword = [&asked, answer](const std::string&) {
    ++asked;
    return answer;
  };
  return o;
}

TEST(LogonSettings, AskedOnceAcrossThreadsAndKeptForTheLogonsThatFollow) {
  std::atomic<int> asked{0};
  LogonSettings settings(AskingOptions(asked, "typed"));
  std::vector<EwsOptions> got(6);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&, i] { got[i] = settings.ForLogon("mail.example.com"); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(asked.load(), 1);
  for (const EwsOptions& o : got) {
    EXPECT_EQ(o.password, "typed");
    EXPECT_FALSE(o.askPassword);
  }
  EXPECT_EQ(settings.ForLogon("other.example.com").password, "typed");
  EXPECT_EQ(asked.load(), 1);

  // Settings of another registration know nothing of that answer.
  LogonSettings other(AskingOptions(asked, "typed again"));
  EXPECT_EQ(other.ForLogon("mail.example.com").password, "typed again");
  EXPECT_EQ(asked.load(), 2);
}

TEST(LogonSettings, AQuestionLeftUnansweredIsNotAskedAgain) {
  std::atomic<int> asked{0};
  LogonSettings settings(AskingOptions(asked, std::nullopt));
  EXPECT_EQ(settings.ForLogon("mail.example.com").password, "");
  EXPECT_EQ(settings.ForLogon("mail.example.com").password, "");
  EXPECT_EQ(asked.load(), 1);
}

TEST(LogonSettings, ThePasswordTheSystemKeepsIsTakenWithoutAsking) {
  std::atomic<int> asked{0};
  EwsOptions o = AskingOptions(asked, "typed");
  o.storedLogon = [](const std::string& host) -> std::optional<EwsOptions::StoredLogon> {
    if (host != "mail.example.com") return std::nullopt;
    return EwsOptions::StoredLogon{"EXAMPLE\\kept", "kept-Pa55", "the kept logon"};
  };
  LogonSettings settings(o);
  const EwsOptions kept = settings.ForLogon("mail.example.com");
  EXPECT_EQ(kept.user, "EXAMPLE\\kept");
  EXPECT_EQ(kept.password, "kept-Pa55");
  EXPECT_EQ(kept.credentialsFrom, "the kept logon");
  EXPECT_EQ(asked.load(), 0);
  // A host the system keeps nothing for: asked, once.
  EXPECT_EQ(settings.ForLogon("other.example.com").password, "typed");
  EXPECT_EQ(settings.ForLogon("other.example.com").password, "typed");
  EXPECT_EQ(asked.load(), 1);
}

// Sessions the program's class creates, logging on to the loopback server.
class Registrations : public ServedStore {
 protected:
  BackendOptions Trusting() {
    BackendOptions b;
    b.ews.caFile = server->caFile();
    b.ews.user = user;
    return b;
  }
  std::shared_ptr<RDOSession> New() {
    auto s = CreateObject(kSessionProgID);
    EXPECT_TRUE(s) << Err().Description();
    return s;
  }
  static bool LogsOn(RDOSession& s, const std::string& mailbox, const std::string& server) {
    Err().Clear();
    s.LogonExchangeMailbox(mailbox, server);
    return s.LoggedOn();
  }
};

TEST_F(Registrations, APasswordAskedForIsAskedOnceForEverySessionAndThread) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  std::atomic<int> asked{0};
  BackendOptions b = Trusting();
  b.ews.askPassword = [&asked, pw = password](const std::string&) -> std::optional<std::string> {
    ++asked;
    return pw;
  };
  RegisterSessionClasses(b);
  auto first = New(), second = New();
  ASSERT_TRUE(first && second);
  bool firstOn = false;
  std::string firstError;
  std::thread other([&] {
    firstOn = LogsOn(*first, "jdoe", server->url());
    firstError = Err().Description();
  });
  const bool secondOn = LogsOn(*second, "jdoe", server->url());
  other.join();
  EXPECT_TRUE(firstOn) << firstError;
  EXPECT_TRUE(secondOn) << Err().Description();
  EXPECT_EQ(asked.load(), 1);
  // A session the registration creates later logs on with the answer too.
  auto third = New();
  ASSERT_TRUE(third);
  EXPECT_TRUE(LogsOn(*third, "jdoe", server->url())) << Err().Description();
  EXPECT_EQ(asked.load(), 1);
}

TEST_F(Registrations, EachSessionLogsOnWithTheOptionsOfItsOwnRegistration) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  BackendOptions wrong = Trusting();
  wrong.ews.password = "wrong-Pa55";
  wrong.ews.credentialsFrom = "the first registration";
  RegisterSessionClasses(wrong);
  auto refused = New();
  BackendOptions right = Trusting();
  right.ews.password = password;
  RegisterSessionClasses(right);
  auto accepted = New();
  ASSERT_TRUE(refused && accepted);

  EXPECT_FALSE(LogsOn(*refused, "jdoe", server->url()));
  EXPECT_EQ(Err().Number(), ConstMAPI::MAPI_E_LOGON_FAILED);
  EXPECT_NE(Err().Description().find("check the credentials in the first registration"),
            std::string::npos)
      << Err().Description();
  EXPECT_TRUE(LogsOn(*accepted, "jdoe", server->url())) << Err().Description();
}

TEST_F(Registrations, EachRegistrationLooksForStoreNamesInItsOwnDirectory) {
  // A store "lab" in each directory, with another mailbox in each.
  const std::filesystem::path jdoeLab = dir / "jdoe", maryLab = dir / "mary";
  for (const auto& [stores, alias] : {std::pair{jdoeLab, "jdoe"}, std::pair{maryLab, "mary"}}) {
    std::filesystem::create_directories(stores);
    oa::testing::ImportStore(Dump({MailboxStore({.alias = alias})}), stores / "lab.oastore");
  }
  BackendOptions first;
  first.storeDirectory = jdoeLab.string();
  RegisterSessionClasses(first);
  auto inJdoeLab = New();
  BackendOptions second;
  second.storeDirectory = maryLab.string();
  RegisterSessionClasses(second);
  auto inMaryLab = New();
  ASSERT_TRUE(inJdoeLab && inMaryLab);

  EXPECT_TRUE(LogsOn(*inJdoeLab, "jdoe", "lab")) << Err().Description();
  EXPECT_FALSE(LogsOn(*inJdoeLab, "mary", "lab"));
  EXPECT_TRUE(LogsOn(*inMaryLab, "mary", "lab")) << Err().Description();
  EXPECT_FALSE(LogsOn(*inMaryLab, "jdoe", "lab"));

  // The embedded store's own class takes its directory too.
  const SessionFactory before = FindSessionClass(kSessionProgID);
  oa::store::RegisterEmbeddedSessionClass(jdoeLab.string());
  auto direct = New();
  ASSERT_TRUE(direct);
  EXPECT_TRUE(LogsOn(*direct, "jdoe", "lab")) << Err().Description();
  RegisterSessionClass(kSessionProgID, before);
}

}  // namespace
}  // namespace oa::ews::testing

// A store file served by the loopback EWS server, and the client environment that trusts it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/rdo.h"
#include "tests/ews/ews_test_server.h"
#include "tests/nowindow/store_fixture.h"
#include "tests/nowindow/temp_files.h"
#include "tests/support/configure_from_environment.h"
#include "tests/support/test_waiter.h"

namespace oa::ews::testing {

// The mailboxes of a dump, for ResolveNames.
inline std::vector<ServerMailbox> MailboxesOf(const nlohmann::json& dump) {
  std::vector<ServerMailbox> out;
  for (const auto& s : dump["stores"])
    if (s.value("kind", "") == "mailbox")
      out.push_back({s.value("alias", ""), s.value("address", "")});
  return out;
}

// Sessions and clients made here wait through `waiter`.
class ServedStore : public ::testing::Test, public oa::testing::TestWaiter {
 protected:
  // Imports the dump and starts the server on it; the client's environment is set to trust
  // the server's certificate and to log on with its Basic credentials.
  void Serve(const nlohmann::json& dump) {
    storeFile = dir / "served.oastore";
    oa::testing::ImportStore(dump, storeFile);
    ServerOptions o;
    o.storeFile = storeFile;
    o.mailboxes = MailboxesOf(dump);
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    server = std::make_unique<EwsTestServer>(o);
    ASSERT_TRUE(server->Start());
    setenv("OA_EWS_CAFILE", server->caFile().c_str(), 1);
    setenv("OA_EWS_USER", o.user.c_str(), 1);
    setenv("OA_EWS_PASSWORD", o.password.c_str(), 1);
    unsetenv("OA_EWS_ACCESS");
    unsetenv("OA_EWS_TIMEOUT_MS");
    unsetenv("OA_EWS_MAX_WAIT_MS");
    backends = oa::testing::BackendOptionsFromEnvironment();
    password = o.password;
    user = o.user;
  }
  void TearDown() override {
    if (server) server->Stop();
    for (const char* v : {"OA_EWS_CAFILE", "OA_EWS_USER", "OA_EWS_PASSWORD", "OA_EWS_ACCESS",
                          "OA_EWS_TIMEOUT_MS", "OA_EWS_MAX_WAIT_MS"})
      unsetenv(v);
  }

  oa::testing::TempDir dir;
  std::string storeFile;
  std::string user, password;
  std::unique_ptr<EwsTestServer> server;
  // What the program would log on with, from the environment Serve set.
  oa::mailbox::BackendOptions backends;
};

// Tests that drive the backend themselves: logons that must succeed.
class LoggedOnServedStore : public ServedStore {
 protected:
  void TearDown() override { ServedStore::TearDown(); }
  std::shared_ptr<EwsSession> Logon() {
    auto s = std::make_shared<EwsSession>(backends.ews, waiter);
    oa::Err().Clear();
    s->LogonExchangeMailbox("jdoe", server->url());
    EXPECT_TRUE(s->LoggedOn()) << oa::Err().Description();
    return s;
  }
};

}  // namespace oa::ews::testing

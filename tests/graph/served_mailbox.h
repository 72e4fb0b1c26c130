// A store file served as the mailbox "jdoe" by the loopback Graph server, with the backend
// pointed at it, for tests that drive the object model in this process: the requests the
// server answered and the served store are checked after each test's steps.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/backends.h"
#include "mailbox/graph/mailbox_limits.h"
#include "mailbox/graph/objects.h"
#include "tests/graph/graph_test_server.h"
#include "tests/nowindow/store_fixture.h"
#include "tests/nowindow/temp_files.h"
#include "tests/support/test_waiter.h"

namespace oa::graph::testing {

// The mailbox "jdoe" with `items` plain items in Handhelds, or the messages given instead.
inline json Mailbox(int items, const std::vector<std::string>& subjects = {}) {
  json store = oa::testing::MailboxStore({.alias = "jdoe", .items = items});
  json messages = json::array();
  for (const auto& s : subjects)
    messages.push_back({{"key", s}, {"class", "IPM.Note"}, {"subject", s}});
  for (json& f : store["root"]["folders"][1]["folders"])
    if (f["name"] == "Handhelds" && !subjects.empty()) f["messages"] = messages;
  return store;
}

// Sessions made here wait through `waiter`.
class ServedMailbox : public ::testing::Test, public oa::testing::TestWaiter {
 protected:
  void TearDown() override {
    waiter->Clear();
    if (server) server->Stop();
    // A later test's server may get this one's port: no hold or pace carries over.
    ForgetMailboxLimits();
  }
  // `adjust` may change the server's options and the backend's before both start.
  void Serve(
      const json& dump,
      const std::function<void(GraphServerOptions&, oa::mailbox::BackendOptions&)>& adjust = {}) {
    storeFile = dir / "served.oastore";
    oa::testing::ImportStore(dump, storeFile);
    GraphServerOptions o;
    o.storeFile = storeFile;
    o.mailboxes = {{"jdoe", "jdoe@example.com"}};
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    oa::mailbox::BackendOptions b;
    if (adjust) adjust(o, b);
    server = std::make_unique<GraphTestServer>(o);
    ASSERT_TRUE(server->Start());
    b.graph.tenant = o.tenant;
    b.graph.clientId = o.clientId;
    b.graph.clientSecret = o.clientSecret;
    b.graph.loginUrl = server->url();
    b.graph.graphUrl = server->url();
    b.graph.caFile = server->caFile();
    backends = b;
  }
  std::shared_ptr<GraphSession> Logon() {
    auto s = std::make_shared<GraphSession>(backends.graph, waiter);
    oa::Err().Clear();
    s->LogonExchangeMailbox("jdoe", "graph");
    EXPECT_TRUE(s->LoggedOn()) << oa::Err().Description();
    return s;
  }
  std::shared_ptr<oa::mailbox::RDOFolder> Handhelds(oa::mailbox::RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  }
  // The bodies of the $batch requests the server answered, in order.
  std::vector<json> Batches() {
    std::vector<json> out;
    for (const auto& r : server->Requests())
      if (r.operation == "batch" && !r.inBatch) out.push_back(json::parse(r.body));
    return out;
  }
  // Every message deleted by the server, checking that none was deleted twice and that each
  // went out inside a batch.
  size_t DeletedOnce() {
    std::set<std::string> done;
    for (const auto& r : server->Requests()) {
      if (r.operation != "deleteMessage") continue;
      EXPECT_TRUE(r.inBatch) << r.target;
      if (r.status < 200 || r.status >= 300) continue;
      EXPECT_TRUE(done.insert(r.target).second) << "deleted twice: " << r.target;
    }
    return done.size();
  }
  json StoredHandhelds() {
    json dump = oa::testing::ExportStore(storeFile);
    const json* f = oa::testing::FindTopFolder(*oa::testing::FindStore(dump, "jdoe"), "Handhelds");
    return f ? *f : json();
  }
  int64_t StoredCount() { return StoredHandhelds().value("count", int64_t{-1}); }
  std::set<std::string> StoredSubjects() {
    std::set<std::string> out;
    const json folder = StoredHandhelds();
    for (const auto& m : folder.value("messages", json::array()))
      out.insert(m.value("subject", ""));
    return out;
  }

  oa::testing::TempDir dir;
  std::string storeFile;
  std::unique_ptr<GraphTestServer> server;
  // What sessions made here log on with, as Serve left it.
  oa::mailbox::BackendOptions backends;
};

}  // namespace oa::graph::testing

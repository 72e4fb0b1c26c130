// A plain-HTTP loopback server that answers one connection at a time as a hostile server would:
// the test gives what it does once a request's head has been read. It counts what it managed to
// send, so that a test can tell how much the client read before it hung up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace oa::test {

class HostileServer {
 public:
  // What to do with one connection, given the request head it sent.
  using Behaviour = std::function<void(HostileServer& server, int fd, const std::string& head)>;

  explicit HostileServer(Behaviour behaviour);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // Writes all of it; false when the client hung up.
  bool Send(int fd, const std::string& data);
  uint64_t bytesSent() const { return sent_; }
  // Waits (up to a minute) until a request's head was read; false if none came.
  bool WaitForRequest();
  // Whether the server was told to stop (a stalling behaviour waits for it).
  bool stopping() const { return stop_; }

 private:
  void Serve();

  Behaviour behaviour_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> sent_{0};
  std::mutex mutex_;
  std::condition_variable seen_;
  bool requestSeen_ = false;
  std::thread thread_;
};

}  // namespace oa::test

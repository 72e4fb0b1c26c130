#include "hostile_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace oa::test {

HostileServer::HostileServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(listener_, 4);
  socklen_t len = sizeof addr;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

HostileServer::~HostileServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

bool HostileServer::Send(int fd, const std::string& data) {
  size_t at = 0;
  while (at < data.size()) {
    const ssize_t n = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
    sent_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool HostileServer::WaitForRequest() {
  std::unique_lock<std::mutex> lock(mutex_);
  return seen_.wait_for(lock, std::chrono::minutes(1), [this] { return requestSeen_; });
}

void HostileServer::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    // The request's head; its body, if any, is left unread.
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && !stop_) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    if (head.find("\r\n\r\n") != std::string::npos) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requestSeen_ = true;
      }
      seen_.notify_all();
      behaviour_(*this, fd, head);
    }
    ::close(fd);
  }
}

}  // namespace oa::test

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tests/nowindow/child_process.h"

extern char** environ;

namespace oa::testing {
namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : extra) env[k] = v;
  std::vector<std::string> list;
  for (const auto& [k, v] : env) list.push_back(k + "=" + v);
  return list;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ChildResult RunChild(const Child& child) {
  ChildResult result;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  std::vector<std::string> args = child.argv;
  std::vector<std::string> env = Environment(child.env);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  const auto deadline = std::chrono::steady_clock::now() + child.timeout;
  std::optional<std::chrono::steady_clock::time_point> signalledAt;
  size_t scanned = 0;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  int wstatus = 0;
  bool reaped = false;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      if (!reaped) kill(pid, SIGKILL);
      break;
    }
    // Once the child has ended, what it wrote is read and no more is waited for: a process it
    // started (Wine's services) may hold the pipes open for much longer.
    const int ready = poll(fds, 2, reaped ? 0 : 100);
    if (ready < 0) continue;
    if (ready == 0) {
      if (reaped) break;
      reaped = waitpid(pid, &wstatus, WNOHANG) == pid;
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
    }
    // Whole new stdout lines go to the hook.
    size_t nl;
    while ((nl = result.out.find('\n', scanned)) != std::string::npos) {
      const std::string line = result.out.substr(scanned, nl - scanned);
      scanned = nl + 1;
      if (!child.onLine || signalledAt) continue;
      if (const int sig = child.onLine(line)) {
        signalledAt = std::chrono::steady_clock::now();
        if (!reaped) kill(pid, sig);
      }
    }
  }
  for (pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  if (!reaped) waitpid(pid, &wstatus, 0);
  if (signalledAt) result.signalToExit = std::chrono::steady_clock::now() - *signalledAt;
  if (WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.status = 128 + WTERMSIG(wstatus);
  }
  return result;
}

ChildResult RunProgram(std::vector<std::string> argv,
                       const std::map<std::string, std::string>& env) {
  Child child;
  child.argv = std::move(argv);
  child.env = env;
  return RunChild(child);
}

}  // namespace oa::testing

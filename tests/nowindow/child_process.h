// Runs a program as a child process with its own environment, collecting standard output and
// standard error, and lets a test act on each output line as it arrives (to send a signal at
// the right moment).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace oa::testing {

struct ChildResult {
  // The exit status, or 128 + the signal number when the child was killed by a signal.
  int status = -1;
  std::string out;
  std::string err;
  // From the signal sent by the line hook to the child's end; unset when none was sent.
  std::optional<std::chrono::duration<double>> signalToExit;
};

struct Child {
  std::vector<std::string> argv;
  // Added to (or replacing entries of) the test's own environment.
  std::map<std::string, std::string> env;
  // Called for every complete stdout line; may return a signal number to send to the child
  // (once), 0 for none.
  std::function<int(const std::string& line)> onLine;
  // The child is killed when it runs longer than this.
  std::chrono::seconds timeout{120};
};

ChildResult RunChild(const Child& child);
// A program with its arguments, in the test's own environment plus `env`.
ChildResult RunProgram(std::vector<std::string> argv,
                       const std::map<std::string, std::string>& env = {});

// Splits at "\n"; a last line without "\n" counts too.
std::vector<std::string> Lines(const std::string& text);

}  // namespace oa::testing

// Reads the captured EWS exchanges in traces/: "> " lines were sent, "< " lines received, a line
// of two blanks ends each message.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace oa::ews::testing {

struct TraceMessage {
  bool sent = false;
  std::string startLine;  // "POST /EWS/Exchange.asmx HTTP/1.1" or "HTTP/1.1 200 OK"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  int status() const { return sent ? 0 : std::stoi(startLine.substr(9, 3)); }
};

inline std::vector<TraceMessage> ReadTrace(const std::string& path) {
  std::ifstream in(path);
  std::vector<TraceMessage> out;
  TraceMessage cur;
  bool inBody = false, started = false;
  std::string line;
  while (std::getline(in, line)) {
    if (line == "  ") {
      if (started) out.push_back(cur);
      cur = TraceMessage{};
      inBody = started = false;
      continue;
    }
    if (line.size() < 2) continue;
    std::string text = line.substr(2);
    if (!started) {
      cur.sent = line[0] == '>';
      cur.startLine = text;
      started = true;
    } else if (!inBody) {
      if (text.empty()) {
        inBody = true;
      } else if (auto colon = text.find(": "); colon != std::string::npos) {
        cur.headers.emplace_back(text.substr(0, colon), text.substr(colon + 2));
      }
    } else {
      if (!cur.body.empty()) cur.body += "\n";
      cur.body += text;
    }
  }
  if (started) out.push_back(cur);
  return out;
}

inline std::string TracePath(const std::string& name) {
  return std::string(OA_EWS_TRACES) + "/" + name;
}

}  // namespace oa::ews::testing

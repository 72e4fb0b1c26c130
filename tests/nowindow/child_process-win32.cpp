// The child-process helper on Windows: CreateProcessW with pipes for both outputs, read by one
// thread each. The child has a process group of its own, so that a Ctrl+Break meant for it
// reaches nobody else; SIGINT and SIGTERM from the line hook are sent as that Ctrl+Break.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/nowindow/child_process.h"

namespace oa::testing {
namespace {

std::wstring Wide(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The test's own environment with `extra` added; names compare without case, as Windows does.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::pair<std::string, std::string>> env;
  for (char** e = _environ; *e; ++e) {
    const char* eq = std::strchr(**e == '=' ? *e + 1 : *e, '=');
    if (eq == nullptr) continue;
    const std::string name(*e, static_cast<size_t>(eq - *e));
    env[Upper(name)] = {name, eq + 1};
  }
  for (const auto& [k, v] : extra) env[Upper(k)] = {k, v};
  std::wstring block;
  for (const auto& [key, entry] : env) block += Wide(entry.first + "=" + entry.second) + L'\0';
  return block + L'\0';
}

// One argument as the C library's command-line parser reads it back.
std::wstring Quoted(const std::string& arg) {
  const std::wstring w = Wide(arg);
  if (!w.empty() && w.find_first_of(L" \t\"") == std::wstring::npos) return w;
  std::wstring q = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : w) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    q += c;
  }
  q.append(backslashes * 2, L'\\');
  return q + L"\"";
}

// A text stream's line ends, as the child's C library wrote them.
std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
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
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0) ||
      !::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    return result;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine;
  for (const std::string& a : child.argv)
    commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(a);
  std::wstring env = EnvironmentBlock(child.env);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi{};
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP,
                                        env.data(), nullptr, &si, &pi);
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  if (!started) {
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    result.status = 127;
    return result;
  }
  ::CloseHandle(pi.hThread);

  std::mutex mutex;
  std::condition_variable arrived;
  std::string out, err;
  auto reader = [&](HANDLE h, std::string& into) {
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) {
      std::lock_guard lock(mutex);
      into.append(buf, n);
      arrived.notify_all();
    }
  };
  std::thread outThread(reader, outRead, std::ref(out));
  std::thread errThread(reader, errRead, std::ref(err));

  const auto deadline = std::chrono::steady_clock::now() + child.timeout;
  std::optional<std::chrono::steady_clock::time_point> signalledAt;
  size_t scanned = 0;
  while (::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::TerminateProcess(pi.hProcess, 128 + 9);
      break;
    }
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::milliseconds(50));
    // Whole new stdout lines go to the hook.
    size_t nl;
    while ((nl = out.find('\n', scanned)) != std::string::npos) {
      std::string line = out.substr(scanned, nl - scanned);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      scanned = nl + 1;
      if (!child.onLine || signalledAt) continue;
      if (child.onLine(line) != 0) {
        signalledAt = std::chrono::steady_clock::now();
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pi.dwProcessId);
      }
    }
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  outThread.join();
  errThread.join();
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  if (signalledAt) result.signalToExit = std::chrono::steady_clock::now() - *signalledAt;
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  result.status = static_cast<int>(code);
  result.out = WithoutCarriageReturns(out);
  result.err = WithoutCarriageReturns(err);
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

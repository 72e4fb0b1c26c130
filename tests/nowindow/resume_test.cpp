// Resumable batches with the real program: a batch killed (SIGKILL) after some mailboxes, with
// every finished row in its report, resumed from that report; the batch list from standard
// input; the progress lines on a terminal. POSIX only: the kill is timed through a FIFO log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <regex>
#include <thread>

#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

using nlohmann::json;

// The report's lines (CR LF), the header first.
std::vector<std::string> ReportLines(const std::string& path) {
  const std::string text = ReadFile(path);
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string OutcomeOf(const std::string& row) {
  const size_t a = row.find(',');
  return row.substr(a + 1, row.find(',', a + 1) - a - 1);
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Serves a FIFO as the activity log: the program opens the log for every line and blocks in
// that open while nobody reads, so once `stopAt` has been read the program cannot go past its
// next line. The lines after `stopAt` and before the first change of a mailbox leave a margin.
class LogGate {
 public:
  LogGate(std::string path, std::string stopAt) : path_(std::move(path)), stopAt_(stopAt) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LogGate() {
    done_ = true;
    // Wakes a reader still waiting in open for a writer.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    thread_.join();
  }
  bool stopped() const { return stopped_; }

 private:
  void Serve() {
    std::string seen;
    while (!done_) {
      const int fd = ::open(path_.c_str(), O_RDONLY);
      if (fd < 0) return;
      char buf[4096];
      ssize_t n;
      while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        seen.append(buf, static_cast<size_t>(n));
        if (seen.find(stopAt_) != std::string::npos) {
          ::close(fd);
          stopped_ = true;
          return;
        }
      }
      ::close(fd);
    }
  }

  std::string path_;
  std::string stopAt_;
  std::atomic<bool> done_{false};
  std::atomic<bool> stopped_{false};
  std::thread thread_;
};

class ResumeBatch : public RunFixture {
 protected:
  void SetUp() override {
    std::vector<json> stores;
    for (int i = 1; i <= 6; ++i) {
      mailboxes.push_back("m" + std::to_string(i));
      stores.push_back(MailboxStore({.alias = mailboxes.back(), .items = i}));
    }
    Import(Dump(stores));
    original = Export();
    std::string list = "# six mailboxes\n";
    for (const std::string& m : mailboxes) list += m + "\n";
    WriteFile(dir / "list.txt", list);
  }

  std::vector<std::string> mailboxes;
  json original;
};

TEST_F(ResumeBatch, KilledBatchResumedCleansEveryMailboxExactlyOnce) {
  const std::string report = dir / "report.csv";
  ChildResult killed;
  {
    LogGate gate(dir / "log.fifo", "Logging on with m4 demo");
    Child child;
    child.argv = {OA_CLEANUP_BIN, "--no-window", "--log",          dir / "log.fifo", "--server",
                  "demo",         "--mailboxes", dir / "list.txt", "--report",       report};
    child.env = env;
    child.onLine = [&](const std::string& line) {
      if (line != "Logging on with m4 demo") return 0;
      // Three rows and the header, each flushed as its mailbox ended.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (ReportLines(report).size() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
      return SIGKILL;
    };
    killed = RunChild(child);
    EXPECT_TRUE(gate.stopped());
  }
  EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;
  const std::vector<std::string> first = ReportLines(report);
  ASSERT_EQ(first.size(), 4u) << ReadFile(report);
  for (size_t i = 1; i < first.size(); ++i) {
    EXPECT_EQ(first[i].substr(0, 3), mailboxes[i - 1] + ",");
    EXPECT_EQ(OutcomeOf(first[i]), "completed");
  }
  // m4 to m6 are as they were: the kill came before any change to m4.
  const json afterKill = Export();
  for (size_t i = 3; i < 6; ++i) {
    EXPECT_EQ(*FindStore(afterKill, mailboxes[i]), *FindStore(original, mailboxes[i]));
  }

  ChildResult resumed =
      Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--resume", report});
  EXPECT_EQ(resumed.status, 0) << resumed.out << resumed.err;
  const std::vector<std::string> out = Lines(resumed.out);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(Count(out, "=== " + mailboxes[i]), i < 3 ? 0 : 1) << mailboxes[i];
  }
  // Every mailbox got exactly one new folder over the two runs, and the agent points at it.
  const std::vector<std::string> killedOut = Lines(killed.out);
  EXPECT_EQ(Count(killedOut, "Created new Handhelds folder in mailbox") +
                Count(out, "Created new Handhelds folder in mailbox"),
            6);
  const json final = Export();
  for (const std::string& m : mailboxes) {
    const json* store = FindStore(final, m);
    ASSERT_TRUE(store);
    const std::string now = HandheldsID(final, m);
    EXPECT_FALSE(now.empty());
    EXPECT_NE(now, HandheldsID(original, m)) << m;
    EXPECT_EQ(AgentHHEntryID(*store), now) << m;
  }
  // The final report: the earlier rows as they were, then a row for each mailbox run now.
  const std::vector<std::string> last = ReportLines(report);
  ASSERT_EQ(last.size(), 7u) << ReadFile(report);
  EXPECT_EQ(last[0], first[0]);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(last[i], first[i]);
  for (size_t i = 4; i < 7; ++i) {
    EXPECT_EQ(last[i].substr(0, 3), mailboxes[i - 1] + ",");
    EXPECT_EQ(OutcomeOf(last[i]), "completed");
  }
  EXPECT_FALSE(std::filesystem::exists(report + ".partial"));
}

TEST_F(ResumeBatch, ResumeRerunsWhatDidNotCompleteAndWritesANewReport) {
  // An earlier report: m2 completed (and was cleaned), m5 failed, the others were never run;
  // a row for a mailbox no longer listed is left out.
  ASSERT_EQ(Cleanup({"--server", "demo", "--mailbox", "m2"}).status, 0);
  const std::string completedRow = "m2,completed,2,X,0.100,\"pointed agent, \"\"new\"\" folder\"";
  WriteFile(dir / "old.csv",
            "mailbox,outcome,old_item_count,new_folder_entry_id,seconds,last_log_line\r\n" +
                completedRow + "\r\nm5,incomplete,,,0.200,x\r\ngone,completed,1,Y,0.1,z\r\n");
  ChildResult r = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--resume",
                           dir / "old.csv", "--report", dir / "new.csv"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("1 row(s) of " + dir / "old.csv"), std::string::npos) << r.err;
  const std::vector<std::string> lines = ReportLines(dir / "new.csv");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], completedRow);
  std::vector<std::string> ran;
  for (size_t i = 2; i < lines.size(); ++i) {
    ran.push_back(lines[i].substr(0, 2));
    EXPECT_EQ(OutcomeOf(lines[i]), "completed") << lines[i];
  }
  EXPECT_EQ(ran, (std::vector<std::string>{"m1", "m3", "m4", "m5", "m6"}));
  EXPECT_EQ(Count(Lines(r.out), "=== m2"), 0);
  // The earlier report is only read.
  EXPECT_NE(ReadFile(dir / "old.csv").find("gone,completed"), std::string::npos);
}

TEST_F(ResumeBatch, UnusableEarlierReportStopsBeforeAnyRun) {
  WriteFile(dir / "notes.csv", "some,other,file\r\n");
  WriteFile(dir / "broken.csv",
            "mailbox,outcome,old_item_count,new_folder_entry_id,seconds,last_log_line\r\n"
            "m1,completed,1,X,0.1,\"never closed\r\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir / "missing.csv", "cannot be read"},
      {dir / "notes.csv", "is not a batch report"},
      {dir / "broken.csv", "a quoted field opened on line 2 never ends"}};
  for (const auto& [file, why] : cases) {
    ChildResult r =
        Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--resume", file});
    EXPECT_EQ(r.status, 2) << file;
    EXPECT_NE(r.err.find(file + ": " + why), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Export(), original);
}

TEST_F(ResumeBatch, ListFromStandardInput) {
  Child child;
  child.argv = {OA_CLEANUP_BIN, "--no-window", "--log", logFile,    "--server",
                "demo",         "--mailboxes", "-",     "--report", dir / "report.csv"};
  child.env = env;
  // The child's standard input is the list file.
  const int saved = ::dup(0);
  const int list = ::open((dir / "list.txt").c_str(), O_RDONLY);
  ASSERT_GE(list, 0);
  ::dup2(list, 0);
  ::close(list);
  ChildResult r = RunChild(child);
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReportLines(dir / "report.csv").size(), 7u);
}

// stdout and stderr on a terminal; what the terminal shows.
std::string RunOnTerminal(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& extraEnv, int* status) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const auto& [k, v] : extraEnv) envText.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argText = args;
  for (std::string& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  std::string screen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    screen.append(buf, static_cast<size_t>(n));
  }
  int wstatus = 0;
  if (pid > 0) ::waitpid(pid, &wstatus, 0);
  ::close(master);
  *status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return screen;
}

TEST_F(ResumeBatch, ProgressLinePerMailboxOnATerminal) {
  WriteFile(dir / "three.txt", "m1\nnobody\nm3\n");
  int status = -1;
  const std::string screen = RunOnTerminal({OA_CLEANUP_BIN, "--no-window", "--log", logFile,
                                            "--server", "demo", "--mailboxes", dir / "three.txt"},
                                           env, &status);
  EXPECT_EQ(status, 3) << screen;
  const std::string n = "[0-9]+(\\.[0-9])?";
  for (const std::string& pattern :
       {"\\[1/3\\] m1: completed \\(" + n + " s\\), about " + n + " s left\r\n",
        "\\[2/3\\] nobody: logon \\(" + n + " s\\), about " + n + " s left\r\n",
        "\\[3/3\\] m3: completed \\(" + n + " s\\)\r\n"}) {
    EXPECT_TRUE(std::regex_search(screen, std::regex(pattern))) << pattern << "\n" << screen;
  }
  // Not on a pipe.
  ChildResult piped = Cleanup({"--server", "demo", "--mailboxes", dir / "three.txt"});
  EXPECT_EQ(piped.err.find("[1/3]"), std::string::npos) << piped.err;
}

}  // namespace
}  // namespace oa::testing

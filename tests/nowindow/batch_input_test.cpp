// Hostile batch input: a mailbox list with a byte order mark, over-long lines, NUL bytes or
// broken UTF-8, repeated mailboxes; a report that cannot be written; server texts with
// terminal controls.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "console/nowindow/batch_report.h"
#include "console/nowindow/mailbox_list.h"
#include "console/nowindow/nowindow_console.h"
#include "tests/nowindow/temp_files.h"

namespace oa::nowindow {
namespace {

using oa::testing::ReadFile;
using oa::testing::TempDir;
using oa::testing::WriteFile;
using namespace std::string_literals;

MailboxList Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseMailboxList(in, "list.txt");
}

TEST(MailboxListInput, ByteOrderMarkIsSkippedOnlyAtTheStart) {
  MailboxList list = Parse("\xEF\xBB\xBFjdoe\r\nmary\n");
  EXPECT_EQ(list.error, "");
  EXPECT_EQ(list.mailboxes, (std::vector<std::string>{"jdoe", "mary"}));
  // A BOM before a comment still makes it a comment.
  EXPECT_EQ(Parse("\xEF\xBB\xBF# north\njdoe\n").mailboxes, std::vector<std::string>{"jdoe"});
}

TEST(MailboxListInput, BadLinesAreRefusedWithFileAndLine) {
  const std::string longLine(kMaxMailboxLineBytes + 1, 'a');
  MailboxList tooLong = Parse("jdoe\n" + longLine + "\nmary\n");
  EXPECT_TRUE(tooLong.mailboxes.empty());
  EXPECT_EQ(tooLong.error, "list.txt:2: the line is longer than 1024 bytes");
  // Exactly at the limit is a mailbox.
  EXPECT_EQ(Parse(std::string(kMaxMailboxLineBytes, 'b')).mailboxes.size(), 1u);

  EXPECT_EQ(Parse("jdoe\nma\0ry\n"s).error, "list.txt:2: the line holds a NUL byte");
  EXPECT_EQ(Parse("a\nb\n\xC3(\n").error, "list.txt:3: the line is not valid UTF-8");
  EXPECT_EQ(Parse("\xC0\xAF\n").error, "list.txt:1: the line is not valid UTF-8");
  EXPECT_EQ(Parse("\xED\xA0\x80\n").error, "list.txt:1: the line is not valid UTF-8");
  // Scripts other than Latin are mailboxes like any other.
  EXPECT_EQ(Parse("日本\njürgen.groß@example.com\n").mailboxes,
            (std::vector<std::string>{"日本", "jürgen.groß@example.com"}));
}

TEST(MailboxListInput, DuplicatesAreFoundIgnoringCase) {
  const std::vector<std::string> list{"jdoe",  "Mary@Example.com", "JDOE",
                                      "other", "mary@example.COM", "jürgen.GROSS"};
  const std::vector<std::optional<size_t>> dup = FindDuplicates(list);
  ASSERT_EQ(dup.size(), list.size());
  EXPECT_FALSE(dup[0]);
  EXPECT_FALSE(dup[1]);
  EXPECT_EQ(dup[2], 0u);
  EXPECT_FALSE(dup[3]);
  EXPECT_EQ(dup[4], 1u);
  EXPECT_FALSE(dup[5]);
}

#if !defined(_WIN32)
TEST(BatchReportOutput, DevFullFailsNamingTheFileAndStaysADevice) {
  if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
  BatchReport report;
  EXPECT_FALSE(report.Open("/dev/full"));
  EXPECT_TRUE(report.failed());
  EXPECT_NE(report.error().find("/dev/full"), std::string::npos) << report.error();
  EXPECT_NE(report.error().find(std::strerror(ENOSPC)), std::string::npos) << report.error();
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  EXPECT_FALSE(std::filesystem::exists("/dev/full.partial"));
}

TEST(BatchReportOutput, SymbolicLinkIsRefusedAndItsTargetKept) {
  TempDir dir;
  WriteFile(dir / "target.csv", "keep");
  std::filesystem::create_symlink(dir / "target.csv", dir / "link.csv");
  BatchReport report;
  EXPECT_FALSE(report.Open(dir / "link.csv"));
  EXPECT_NE(report.error().find("symbolic link"), std::string::npos) << report.error();
  EXPECT_EQ(ReadFile(dir / "target.csv"), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
}

TEST(BatchReportOutput, CreatedReportIsOwnerOnlyWhateverTheUmask) {
  TempDir dir;
  const mode_t old = umask(0);
  BatchReport report;
  const bool opened = report.Open(dir / "report.csv");
  umask(old);
  ASSERT_TRUE(opened) << report.error();
  const auto perms = std::filesystem::status(dir / "report.csv").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// A file system that fills up mid-batch: rows that were written stay whole.
TEST(BatchReportOutput, FullDiskKeepsOnlyWholeRows) {
  TempDir dir;
  const std::string mount = dir / "small";
  std::filesystem::create_directory(mount);
  const std::string command = "mount -t tmpfs -o size=64k tmpfs '" + mount + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)std::system(("umount '" + dir + "'").c_str()); }
  } unmount{mount};

  const std::string path = mount + "/report.csv";
  BatchReport report;
  ASSERT_TRUE(report.Open(path)) << report.error();
  RunResult result;
  result.outcome = Outcome::completed;
  result.lastLine = std::string(3000, 'x');
  int rows = 0;
  while (report.Row("m" + std::to_string(rows), result, true)) {
    ++rows;
    ASSERT_LT(rows, 1000) << "the file system never filled";
  }
  EXPECT_NE(report.error().find(path), std::string::npos) << report.error();
  const std::string text = ReadFile(path);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  // Header and every row that was reported written, nothing more.
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(rows) + 1);
  // Nothing is written after the failure.
  EXPECT_FALSE(report.Row("later", result, true));
  EXPECT_EQ(ReadFile(path), text);
}
#endif

TEST(TerminalText, ControlsAreEscapedAndPrintableTextKept) {
  EXPECT_EQ(TerminalSafe("Deleted all items, attempting to delete folder"),
            "Deleted all items, attempting to delete folder");
  EXPECT_EQ(TerminalSafe("日本 jürgen.groß"), "日本 jürgen.groß");
  EXPECT_EQ(TerminalSafe("a\x1b]0;pwned\x07z"), "a\\x1b]0;pwned\\x07z");
  EXPECT_EQ(TerminalSafe("x\r\ny\x7f"), "x\r\ny\\x7f");
  // A lone CR would overwrite the line on a terminal.
  EXPECT_EQ(TerminalSafe("fake\rreal\x08"), "fake\\x0dreal\\x08");
  // C1 controls: CSI (U+009B) and NEL (U+0085) in UTF-8, and a stray byte.
  EXPECT_EQ(TerminalSafe("\xC2\x9B"
                         "31m \xC2\x85 \x9B"),
            "\\u009b31m \\u0085 \\x9b");
  // U+00A0 and later are printable.
  EXPECT_EQ(TerminalSafe("\xC2\xA0"), "\xC2\xA0");
}

}  // namespace
}  // namespace oa::nowindow

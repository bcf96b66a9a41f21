// The screen-and-log printing calls and the opening, backup and closing of
// the log file. Everything that touches the log runs in a child process in
// its own temporary folder, so the log globals stay untouched here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::file_exists;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;
const std::string kAbsent = "<absent>";

// Runs fn in a child inside a fresh folder holding the files `before`.
testutil::Outcome run_in(const TempDir &dir, const Files &before, const std::function<void()> &fn) {
  for (const auto &[name, content] : before) dir.write(name, content);
  return run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    fn();
  });
}

}  // namespace

TEST(LogFile, PrintingOpeningBackupAndClosing) {
  const std::string opening = "OPENING the log file `res.txt'\n";
  const std::string cannot = "\nCANNOT OPEN the file  `no-such-folder/res.txt'\n" +
                             std::string(strerror(ENOENT)) + "\n";
  struct {
    Files before;
    std::function<void()> fn;
    std::string out;
    Files after;
    int status = 0;
    std::string err = "";
  } cases[] = {
      {{},
       [] {
         int a = bprintf("x=%d %s\n", 42, "ok"), b = bnl(), c = logprintf("hidden %d\n", 1);
         int d = nl(), e = nlerr();
         printf("[%d %d %d %d %d]", a, b, c, d, e);
       },
       "x=42 ok\n\n\n[8 1 0 1 1]", {}, 0, "\n"},
      {{},
       [] {
         openlog_file("res", 0);
         int a = bprintf("value %d\n", 7), b = logprintf("only in the log %s\n", "here");
         bnl();
         nl();
         printf("[%d %d]\n", a, b);
         closelog_file_name();
         closelog_file_name();  // nothing open any more: silent
         printf("[%s %s]\n", fflog ? "open" : "closed", logfilename ? logfilename : "noname");
       },
       opening + "value 7\n\n\n[8 21]\nClosing the log file `res.txt'\n[closed noname]\n",
       {{"res.txt", "value 7\nonly in the log here\n\n"}}},
      {{},  // a name with a dot anywhere is used as it is
       [] {
         std::filesystem::create_directory("run.d");
         openlog_file("res.out", 0);
         bprintf("one\n");
         openlog_file("run.d/res", 0);  // closes the first log without a message
         bprintf("two\n");
         openlog_file("", 0);
         bprintf("screen only\n");
         openlog_file(nullptr, 0);
         printf("[%d %s]", logprintf("never\n"), fflog || logfilename ? "log" : "none");
       },
       "OPENING the log file `res.out'\none\nOPENING the log file `run.d/res'\ntwo\n"
       "screen only\n[0 none]",
       {{"res.out", "one\n"}, {"run.d/res", "two\n"}, {"res.out.txt", kAbsent},
        {"res.out.bak", kAbsent}, {"run.d/res.txt", kAbsent}, {".txt", kAbsent}}},
      {{{"res.txt", "previous run\n"}, {"res.txt.bak", "the run before\n"}},
       [] {
         openlog_file("res", 0);
         bprintf("new run\n");
       },
       opening + "Backing up the existing file `res.txt' as `res.txt.bak'\nnew run\n",
       {{"res.txt", "new run\n"}, {"res.txt.bak", "previous run\n"}}},
      {{{"res.txt", "old\n"}},
       [] {
         testutil::printed.clear();
         prcloselog_file_name(testutil::capture);  // no log: the printer is not called
         openlog_file("res", 1);
         bprintf("new\n");
         prcloselog_file_name(testutil::capture);
         printf("<%s>", testutil::printed.c_str());
       },
       opening + "new\n<Closing the log file `res.txt'\n>",
       {{"res.txt", "old\n\n\nnew\n"}, {"res.txt.bak", kAbsent}}},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    TempDir dir;
    auto o = run_in(dir, cases[i].before, cases[i].fn);
    EXPECT_EQ(o.status, cases[i].status);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.err, cases[i].err);
    for (const auto &[name, content] : cases[i].after)
      EXPECT_EQ(file_exists(dir.file(name)) ? read_file(dir.file(name)) : kAbsent, content) << name;
  }
  TempDir dir;
  for (int append : {0, 1}) {
    auto o = run_in(dir, {}, [&] { openlog_file("no-such-folder/res", append); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "OPENING the log file `no-such-folder/res.txt'\n");
    EXPECT_EQ(o.err, cannot);
  }
}

TEST(LogFile, FailedBackupEndsTheRunAndLeavesTheOldLogIntact) {
  TempDir dir;  // a non-empty folder in the way of the backup cannot be deleted
  std::filesystem::create_directory(dir.file("res.txt.bak"));
  auto o = run_in(dir, {{"res.txt", "precious results\n"}, {"res.txt.bak/keep", "x"}}, [] {
    openlog_file("res", 0);
    printf("still running\n");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "OPENING the log file `res.txt'\n"
            "Backing up the existing file `res.txt' as `res.txt.bak'\n");
  EXPECT_EQ(o.err.rfind("\nCANNOT DELETE the file  `res.txt.bak'\n", 0), 0u) << o.err;
  EXPECT_EQ(read_file(dir.file("res.txt")), "precious results\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("res.txt.bak")));
}
